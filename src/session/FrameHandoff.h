#pragma once
// The frame hand-off on the window thread, without the window: what is done with one
// frame (stamped, previewed, demosaiced, counted for the histogram, recorded) and the
// throttles that decide it. The capture session supplies the actions; tests their own.
#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>

#include "acquisition/Frame.h"

inline constexpr uint32_t kPreviewIntervalMs = 1000;
// A preview that took at least this long holds the next one back for as long again, so that
// drawing never takes more than half of the window thread's time, whatever the sensor.
inline constexpr uint32_t kPreviewHoldMinMs = 10;

// The state the hand-off reads, taken once per frame.
struct FrameFlags {
    bool recording = false;             // a recording is running
    bool previewDuringCapture = false;  // "Preview During Capture"
    bool colorCamera = false;           // "Color Camera"
    bool histogram = true;              // the "Histogram" box
    bool stampVisible = false;          // the overlay: "TimeStamp Overlay" > "Visible"
    // A newer frame is already waiting for the window thread: this one is not drawn or
    // counted (the newer one is), only recorded.
    bool newerFrameWaiting = false;
    // The frame comes in the camera's stream of frame events: a slow preview holds the next
    // one back, so that the window thread always has time for its other events. (A frame
    // handed in directly, as tests do, is drawn whenever it is due.)
    bool paced = false;
};

// What the hand-off does with a frame; an empty function is skipped.
struct FrameActions {
    // When set, tried first for a frame due for the preview: draws the frame straight from
    // its samples (a reduced zoom) and returns true, or returns false and the frame is
    // demosaiced or converted for `preview`. Its second argument is the "Color Camera" choice.
    std::function<bool(const Frame& frame, bool colour)> previewFrame;
    // The preview: the frame's colorImage or Image8, which it may draw the overlay into.
    std::function<void(cv::Mat& image)> preview;
    // The histogram with the frame, which it counts on a thread of its own from the
    // frame's samples (or its Image8 when the preview made one).
    std::function<void(const Frame& frame)> histogram;
    // When set, asked for each frame whether the histogram takes it. Unset: every frame is
    // offered.
    std::function<bool()> histogramDue;
    // The planet tracker with every frame, which it searches on a thread of its own (the
    // newest it can take); it returns at once.
    std::function<void(const Frame& frame)> track;
    // The seeing figure with every frame, which it measures on a thread of its own (the
    // newest it can take); it returns at once.
    std::function<void(const Frame& frame)> seeing;
    // The recording step for every frame while a recording runs, which takes the frame over
    // (to queue it for the writer thread without copying its pixels); the recording decides
    // which frames it keeps.
    std::function<void(FramePtr frame)> record;
};

// What happened to one frame.
struct HandoffReport {
    bool stamped = false;  // the overlay stage burnt the text into it
    bool previewed = false;
    bool demosaiced = false;
    bool histogram = false;  // offered to the histogram
    bool recorded = false;   // offered to the recording step
};

// The window thread's side of the road of a frame. Owns the preview throttle during
// recordings; which frames a recording keeps is the recording's own decision.
class FrameHandoff {
  public:
    // Handles one frame: burns the overlay text into it while the overlay is visible (so
    // that every recorded frame carries it, shown or not), previews it when due (demosaiced
    // first for a colour camera), offers its Image8 to the histogram, hands it to the
    // recording step while a recording runs, and otherwise destroys it. The preview and
    // the histogram take the newest frame the window can draw: a frame with a newer one
    // waiting, or one that comes while a slow preview holds the next back, is passed over
    // by them (counted in previewsSkipped) and still recorded. The 8-bit view is made only
    // when the preview draws the whole frame; the writer thread makes it for a recording
    // that needs it.
    HandoffReport handle(FramePtr frame, const FrameFlags& flags, const FrameActions& actions);

    // The preview decision for a frame arriving at `now` (monotonicMs): always when no
    // recording runs; during a recording when "Preview During Capture" is ticked or `now`
    // is past the next preview time. Robust against the 32-bit wrap of the clock: a next
    // preview time up to kPreviewIntervalMs ahead of `now` (inclusive) holds the preview
    // back, anything else counts as passed.
    bool previewDue(bool recording, bool previewDuringCapture, uint32_t now) const;

    uint32_t nextPreviewTime() const { return nextPreviewTime_; }

    // The window thread's own time spent in handle(), for the benchmark.
    uint64_t framesHandled() const { return framesHandled_; }
    uint64_t nanosecondsHandling() const { return nanosHandling_; }
    // Frames due for the preview that it passed over for a newer one (or while it held back).
    uint64_t previewsSkipped() const { return previewsSkipped_; }

  private:
    uint32_t nextPreviewTime_ = 0;
    bool previewHeld_ = false;
    uint32_t previewHeldUntil_ = 0;  // monotonicMs before which no preview is drawn
    uint64_t framesHandled_ = 0;
    uint64_t nanosHandling_ = 0;
    uint64_t previewsSkipped_ = 0;
};
