#pragma once
// The frame hand-off: a Qt event of type WM_FRAMEREADY that carries one FrameNode from
// the acquisition thread to the main window. The node belongs to the event until the
// receiver takes it; an event destroyed unhandled (its receiver gone, the program
// ending) frees its frame.
#include <QEvent>
#include <QObject>
#include <memory>
#include <mutex>

#include "acquisition/ImageList.h"
#include "acquisition/VideoCapture.h"

class TFrameReadyEvent : public QEvent {
  public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(WM_FRAMEREADY);

    explicit TFrameReadyEvent(FrameNode* node) : QEvent(kType), node_(node) {}
    ~TFrameReadyEvent() override { FreeFrame(node_); }
    TFrameReadyEvent(const TFrameReadyEvent&) = delete;
    TFrameReadyEvent& operator=(const TFrameReadyEvent&) = delete;

    // Hands the node over; the event no longer frees it.
    FrameNode* Take() {
        FrameNode* n = node_;
        node_ = nullptr;
        return n;
    }

  private:
    FrameNode* node_;
};

// The receiver of posted frames. Detach() (called by the receiver's destructor) makes
// every later post fail, so a post can never reach a destroyed window.
class TFramePostTarget {
  public:
    explicit TFramePostTarget(QObject* receiver) : receiver_(receiver) {}
    // Posts a TFrameReadyEvent with the node; false (node untouched) once detached.
    bool Post(FrameNode* node);
    void Detach();

  private:
    std::mutex mutex_;
    QObject* receiver_;
};

// The post function for TVideoCapture: wraps each frame in a TFrameReadyEvent posted to
// the target's receiver. A false result leaves the frame with the caller.
PostFrameFn MakeFramePoster(std::shared_ptr<TFramePostTarget> target);
