#pragma once
// Which frames a running recording takes: none of an exposure that began before its capture
// command (the one the command cut short), none exposed while the filter wheel turned, and
// with a pause between recorded frames one per pause. Pure decisions on the window thread's
// millisecond clock; the recording controller owns the gate of its recording.
#include <cstdint>

#include "acquisition/Frame.h"

// A frame is due when `nextRecordTick` is 0 or the clock has reached it (compared as a
// signed distance, so a wrap of the clock does not stop a recording).
inline bool recordDue(uint32_t tick, uint32_t nextRecordTick) {
    return nextRecordTick == 0 || static_cast<int32_t>(tick - nextRecordTick) >= 0;
}

class RecordingGate {
  public:
    // A new recording: the first frame whose exposure number is at least `firstExposure` is
    // due at once. Frames without a number (0) are always taken, frames marked filterMoving
    // never.
    void start(int32_t pauseMs, uint64_t firstExposure = 0) {
        pauseMs_ = pauseMs;
        firstExposure_ = firstExposure;
        nextTick_ = 0;
    }
    // A new pause, from the next recorded frame on (the Pause field edited meanwhile).
    void setPause(int32_t pauseMs) { pauseMs_ = pauseMs; }
    // Whether the recording takes `frame`, arriving at `tick` (monotonicMs); a frame taken
    // starts the pause.
    bool admits(const Frame& frame, uint32_t tick) {
        const bool exposedAfterStart =
            (frame.exposureNumber == 0 || frame.exposureNumber >= firstExposure_) &&
            !frame.filterMoving;
        if (!exposedAfterStart || !recordDue(tick, nextTick_)) return false;
        nextTick_ = tick + static_cast<uint32_t>(pauseMs_);
        return true;
    }
    uint32_t nextTick() const { return nextTick_; }

  private:
    int32_t pauseMs_ = 0;
    uint64_t firstExposure_ = 0;
    uint32_t nextTick_ = 0;
};
