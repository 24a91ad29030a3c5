#pragma once
// The frame hand-off: a Qt event of its own registered type that carries one frame from the
// acquisition thread to the main window. The frame belongs to the event until the
// receiver takes it; an event destroyed unhandled (its receiver gone, the program
// ending) destroys its frame.
#include <QEvent>
#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>

#include "acquisition/CaptureThread.h"

class FrameReadyEvent : public QEvent {
  public:
    // The event type, registered with Qt once.
    static QEvent::Type eventType();

    explicit FrameReadyEvent(FramePtr frame) : QEvent(eventType()), frame_(std::move(frame)) {}

    // Hands the frame over.
    FramePtr take() { return std::move(frame_); }

  private:
    FramePtr frame_;
};

// The receiver of posted frames. detach() (called by the receiver's destructor) makes
// every later post drop its frame, so a post can never reach a destroyed window.
class FramePostTarget {
  public:
    explicit FramePostTarget(QObject* receiver) : receiver_(receiver) {}
    // Posts a FrameReadyEvent with the frame; once detached the frame is destroyed.
    void post(FramePtr frame);
    void detach();
    // The receiver has taken one posted frame; returns how many posted after it still wait.
    int takeOne() { return waiting_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

  private:
    std::mutex mutex_;
    QObject* receiver_;
    std::atomic<int> waiting_{0};  // posted frames the receiver has not taken yet
};

// The post function for CaptureThread: wraps each frame in a FrameReadyEvent posted to
// the target's receiver.
PostFrameFn makeFramePoster(std::shared_ptr<FramePostTarget> target);
