#include "session/FrameHandoff.h"

#include <chrono>

#include "platform/Clock.h"

bool FrameHandoff::previewDue(bool recording, bool previewDuringCapture, uint32_t now) const {
    if (!recording || previewDuringCapture) return true;
    // The next preview time is set kPreviewIntervalMs ahead of the then current time, so
    // "now is not past it" means: it lies 0..kPreviewIntervalMs ahead.
    return nextPreviewTime_ - now > kPreviewIntervalMs;
}

HandoffReport FrameHandoff::handle(FramePtr frame, const FrameFlags& flags,
                                   const FrameActions& actions) {
    HandoffReport report;
    if (!frame) return report;
    const auto started = std::chrono::steady_clock::now();

    // The overlay stage comes first: every picture made of the frame, and every file, carries
    // the text alike.
    if (flags.stampVisible && !frame->stampText.empty()) {
        burnStampText(*frame);
        report.stamped = true;
    }
    const uint32_t now = monotonicMs();
    bool preview = previewDue(flags.recording, flags.previewDuringCapture, now);
    if (previewHeld_ && static_cast<int32_t>(now - previewHeldUntil_) >= 0) previewHeld_ = false;
    if (preview && (flags.newerFrameWaiting || (flags.paced && previewHeld_))) {
        preview = false;
        ++previewsSkipped_;
    }
    // The draw is timed only for a frame that is drawn.
    const auto drawStarted =
        preview ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
    const bool reduced =
        preview && actions.previewFrame && actions.previewFrame(*frame, flags.colorCamera);
    const bool histogram = flags.histogram && !flags.newerFrameWaiting &&
                           (!actions.histogramDue || actions.histogramDue());
    if (preview && !reduced) prepareImage8(*frame);
    if (preview) {
        nextPreviewTime_ = now + kPreviewIntervalMs;
        report.previewed = true;
        if (reduced) {
            report.demosaiced = flags.colorCamera;
        } else if (flags.colorCamera) {
            ensureColorImage(*frame);
            report.demosaiced = !frame->colorImage.empty();
            if (actions.preview && report.demosaiced) actions.preview(frame->colorImage);
        } else if (actions.preview && !frame->image8.empty()) {
            actions.preview(frame->image8);
        }
        const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - drawStarted)
                                .count();
        if (tookMs >= kPreviewHoldMinMs) {
            previewHeld_ = true;
            previewHeldUntil_ = monotonicMs() + static_cast<uint32_t>(tookMs);
        }
    }

    if (histogram) {
        report.histogram = true;
        if (actions.histogram) actions.histogram(*frame);
    }

    // A frame cut short holds less light than its exposure: no measure of the picture.
    if (!frame->cutShort) {
        if (actions.track) actions.track(*frame);
        if (actions.seeing) actions.seeing(*frame);
    }

    if (flags.recording) {
        report.recorded = true;
        if (actions.record) actions.record(std::move(frame));
    }

    frame.reset();
    ++framesHandled_;
    nanosHandling_ += static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                std::chrono::steady_clock::now() - started)
                                                .count());
    return report;
}
