#include "shell/FrameDispatch.h"

#include "platform/Clock.h"

uint32_t NextPreviewTime = 0;

bool PreviewDue(int32_t recording, bool previewDuringCapture, uint32_t now) {
    if (recording == 0 || previewDuringCapture) return true;
    // NextPreviewTime is set kPreviewIntervalMs ahead of the then current time, so "now is
    // not past it" means: it lies 0..kPreviewIntervalMs ahead.
    return NextPreviewTime - now > kPreviewIntervalMs;
}

bool RecordDue(uint32_t tick, uint32_t nextRecordTick) {
    if (nextRecordTick == 0) return true;
    return static_cast<int32_t>(tick - nextRecordTick) >= 0;
}

HandoffReport DispatchFrame(FrameNode* node, const FrameFlags& flags, const FrameActions& actions,
                            uint32_t& nextRecordTick, int32_t framePause) {
    HandoffReport report;
    if (!node) return report;
    AppendFrame(node);

    if (PreviewDue(flags.recording, flags.previewDuringCapture, timeGetTime())) {
        NextPreviewTime = timeGetTime() + kPreviewIntervalMs;
        report.previewed = true;
        if (flags.colorCamera) {
            EnsureColorImage(node);
            report.demosaiced = !node->ColorImage.empty();
            if (actions.preview && report.demosaiced) actions.preview(node->ColorImage);
        } else if (actions.preview && !node->Image8.empty()) {
            actions.preview(node->Image8);
        }
    }

    if (flags.histogram && !node->Image8.empty()) {
        report.histogram = true;
        if (actions.histogram) actions.histogram(node->Image8);
    }

    if (flags.recording == 1 && RecordDue(GetTickCount(), nextRecordTick)) {
        nextRecordTick = GetTickCount() + static_cast<uint32_t>(framePause);
        report.recorded = true;
        if (actions.recordStep) actions.recordStep(*node);
    }

    // Written, passed over or not due: the frame is freed here.
    if (FrameListHead == node) ReleaseHead();
    return report;
}

int FramesPerSecond(int32_t frames, uint32_t elapsedMs) {
    if (elapsedMs == 0 || frames <= 0) return 0;
    return static_cast<int>(static_cast<int64_t>(frames) * 1000 / elapsedMs);
}
