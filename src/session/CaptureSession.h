#pragma once
// The capture session: the one window-thread object that a frame event reaches. It owns the
// road of a frame from there on: the overlay stage, the hand-off with its throttles (the
// preview and the histogram take the newest frame the window can draw, the recorder every
// due frame) and the consumers, which the window registers once at start-up.
#include <cstdint>
#include <functional>
#include <utility>

#include "session/FrameHandoff.h"

class CaptureSession {
  public:
    // What the session asks for each frame: the recording state and the window's choices.
    using FlagsSource = std::function<FrameFlags()>;

    CaptureSession() = default;
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // The consumers (preview, histogram, recorder) and where the flags come from; set once
    // when the window is built.
    void setConsumers(FrameActions consumers, FlagsSource flags) {
        consumers_ = std::move(consumers);
        flags_ = std::move(flags);
    }

    // The overlay stage: while visible, every frame gets its stamp text burnt in.
    void setStampVisible(bool visible) { stampVisible_ = visible; }
    bool stampVisible() const { return stampVisible_; }

    // One frame. From the camera's event stream (`paced`), with `newerWaiting` frame events
    // posted after this one that the window thread has not handled yet; or handed in
    // directly (a test, a benchmark): drawn whenever it is due.
    HandoffReport frameArrived(FramePtr frame, bool paced = false, int newerWaiting = 0);

    FrameHandoff& handoff() { return handoff_; }
    const FrameHandoff& handoff() const { return handoff_; }
    uint64_t framesArrived() const { return framesArrived_; }

  private:
    FrameHandoff handoff_;
    FrameActions consumers_;
    FlagsSource flags_;
    bool stampVisible_ = false;
    uint64_t framesArrived_ = 0;
};
