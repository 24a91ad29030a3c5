#pragma once
// The frame hand-off on the window thread, without the window: what is done with one
// frame (previewed, demosaiced, counted for the histogram, recorded) and the two throttles
// that decide it. The main window supplies the actions; tests supply their own.
#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>

#include "acquisition/ImageList.h"

// The multimedia-timer time after which the preview may be refreshed again while a
// recording runs; start 0. Window thread only.
extern uint32_t NextPreviewTime;
inline constexpr uint32_t kPreviewIntervalMs = 1000;

// The preview decision for a frame arriving at `now` (timeGetTime): always when no
// recording runs; during a recording when "Preview During Capture" is ticked or `now` is
// past NextPreviewTime. Robust against the 32-bit wrap of the timer: a NextPreviewTime up
// to kPreviewIntervalMs ahead of `now` (inclusive) holds the preview back, anything else
// counts as passed.
bool PreviewDue(int32_t recording, bool previewDuringCapture, uint32_t now);

// The recording gate: a frame is due when `nextRecordTick` is 0 or the tick count has
// reached it (compared as a signed distance, so a wrap of the tick count does not stop a
// recording).
bool RecordDue(uint32_t tick, uint32_t nextRecordTick);

// The state the hand-off reads, taken once per frame.
struct FrameFlags {
    int32_t recording = 0;              // TVideoCapture::Recording
    bool previewDuringCapture = false;  // "Preview During Capture"
    bool colorCamera = false;           // "Color Camera"
    bool histogram = true;              // the "Histogram" box
};

// What the hand-off does with a frame; an empty function is skipped.
struct FrameActions {
    // RenderPreview: the frame's ColorImage or Image8, which it may draw the overlay into.
    std::function<void(cv::Mat& image)> preview;
    // UpdateHistogram with the frame's Image8 (it throttles itself).
    std::function<void(const cv::Mat& image8)> histogram;
    // The recording controller's step for the due frame; it does not keep or free it.
    std::function<void(FrameNode& frame)> recordStep;
};

// What happened to one frame.
struct HandoffReport {
    bool previewed = false;
    bool demosaiced = false;
    bool histogram = false;  // offered to the histogram
    bool recorded = false;   // offered to the recording controller
};

// Handles one frame completely: appends it to the frame list, previews it when due
// (demosaiced first for a colour camera), offers its Image8 to the histogram, passes it
// to the recording step when a recording is due (NextRecordTick := tick + framePause),
// and frees it again from the head of the frame list. The frame list is empty again
// afterwards.
HandoffReport DispatchFrame(FrameNode* node, const FrameFlags& flags, const FrameActions& actions,
                            uint32_t& nextRecordTick, int32_t framePause);

// The frame rate shown in the status bar: trunc(frames / elapsedMs * 1000); 0 when no
// time has passed.
int FramesPerSecond(int32_t frames, uint32_t elapsedMs);
