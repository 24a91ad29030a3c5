#include "recording/AVIExport.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "acquisition/ImageList.h"
#include "acquisition/VideoCapture.h"
#include "platform/Clock.h"
#include "platform/Rounding.h"
#include "recording/AviWriter.h"
#include "recording/SER.h"
#include "recording/StillWriter.h"

uint32_t CaptureStartTime = 0;
int32_t FramesWritten = 0;

namespace {
// Releases the frame just handled. A writer that asked the user something ran the event
// loop meanwhile; frames handed off then were appended behind it, never in front.
void ReleaseFrame(const FrameNode* f) {
    if (FrameListHead == f) ReleaseHead();
}
}  // namespace

std::string FormatText(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buf, std::min<size_t>(n, sizeof buf - 1));
}

bool ParseCount(const std::string& text, int32_t& value, std::string& error) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    const size_t digits = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > int64_t{std::numeric_limits<int32_t>::max()} + 1) break;
    }
    if (negative) v = -v;
    if (i == digits || i != text.size() || v > std::numeric_limits<int32_t>::max() ||
        v < std::numeric_limits<int32_t>::min()) {
        error = "'" + text + "' is not a valid integer value";
        return false;
    }
    value = static_cast<int32_t>(v);
    return true;
}

int32_t PauseMs(const std::string& text, bool seconds) {
    int32_t v = 0;
    std::string ignored;
    if (!ParseCount(text, v, ignored) || v < 0) v = 0;
    const int64_t ms = int64_t{v} * (seconds ? 1000 : 1);
    return static_cast<int32_t>(std::min<int64_t>(ms, std::numeric_limits<int32_t>::max()));
}

void TAVIExport::InitExport() {
    WriterState = WriterNone;
}

void TAVIExport::SetProgress(const std::string& text) {
    if (View) View->SetProgressText(text);
}

void TAVIExport::UpdateMemoryPanel() {
    if (!View) return;
    const long long mib = Round(static_cast<double>(FreePhysicalMemory()) / 1024.0 / 1024.0);
    View->SetMemoryText(FormatText(MemoryFormat.c_str(), mib));
}

void TAVIExport::SetMode(int64_t count, bool timed) {
    if (timed) {
        // Bounded to what the 32-bit millisecond timer can tell apart from "passed".
        const int64_t ms =
            std::clamp<int64_t>(count * 1000, 0, std::numeric_limits<int32_t>::max());
        FramesToGo = CountTimed;
        EndTime = timeGetTime() + static_cast<uint32_t>(ms);
    } else {
        FramesToGo = count == 0 ? CountContinuous
                                : static_cast<int32_t>(std::clamp<int64_t>(
                                      count, std::numeric_limits<int32_t>::min(),
                                      std::numeric_limits<int32_t>::max()));
    }
}

bool TAVIExport::IsActive() const {
    if (FramesToGo == CountContinuous || FramesToGo > 0) return true;
    // Wrap-safe: the difference tells which side of EndTime the timer is on.
    return FramesToGo == CountTimed && static_cast<int32_t>(EndTime - timeGetTime()) > 0;
}

bool TAVIExport::OpenRecording(const std::string& path, int32_t width, int32_t height,
                               int32_t color, int32_t depth) {
    // Never two outputs at once: one still open is finished before the next starts.
    if (WriterState == WriterSer || WriterState == WriterAvi) CloseRecording();
    if (CaptureFormat == FormatSer)
        WriterState = SerOpen(path, width, height, depth);
    else
        WriterState = AviOpen(path, width, height, color);
    if (WriterState != WriterNone) {
        // The capture command sets it again once the counting mode is in place.
        if (Capture) Capture->Recording = 0;
        width_ = width;
        height_ = height;
    }
    return WriterState == WriterNone;
}

TAVIExport::WriteResult TAVIExport::WriteFrame() {
    FrameNode* f = FrameListHead;
    if (!f) return WriteResult::Skipped;

    const bool sequence = CaptureFormat == FormatAvi || CaptureFormat == FormatSer;
    if (sequence && (FrameWidth(f) != width_ || FrameHeight(f) != height_)) {
        // A frame exposed before the recording's size was in force: not part of it.
        ReleaseFrame(f);
        return WriteResult::Skipped;
    }
    const cv::Mat& grey = f->Image8.empty() ? f->RawImage : f->Image8;
    bool ok = true;
    switch (CaptureFormat) {
        case FormatAvi:
            if (ColorFrames) {
                EnsureColorImage(f);
                ok = AviWriteFrame(f->ColorImage);
            } else {
                ok = AviWriteFrame(grey);
            }
            break;
        case FormatFit:
            ok = WriteFits(f, StillPath);
            break;
        case FormatSer:
            ok = SerWriteFrame(f);
            break;
        case FormatBmp:
            if (ColorFrames) {
                EnsureColorImage(f);
                ok = SaveBmp(f->ColorImage, StillPath);
            } else {
                ok = SaveBmp(grey, StillPath);
            }
            break;
        default:
            break;
    }
    if (ok) ++FramesWritten;
    ReleaseFrame(f);
    UpdateMemoryPanel();
    return ok ? WriteResult::Written : WriteResult::Failed;
}

bool TAVIExport::CloseRecording() {
    bool ok = true;
    if (WriterState == WriterSer) {
        ok = SerClose();
        WriterState = WriterNone;
    }
    if (WriterState != WriterNone && WriterState != WriterStills) ok = AviClose();
    WriterState = WriterNone;
    if (Capture) Capture->Recording = 0;
    if (View) View->RecordingClosed();
    SetProgress(std::string());
    return ok;
}

void TAVIExport::FinishRecording(const std::string& failure) {
    std::string message = failure;
    if (!CloseRecording()) {
        if (!message.empty()) message += "\n";
        message += LastWriterError();
    }
    // The added millisecond keeps the duration above zero.
    const double duration = static_cast<double>(timeGetTime() - CaptureStartTime + 1u) / 1000.0;
    const double rate = FramesWritten / duration;
    if (View) View->ShowSummary(duration, rate);
    FramesToGo = 0;
    if (!message.empty() && View) View->ReportFailure(message);
}

void TAVIExport::RecordStep() {
    // A writer may ask the user something (the codec of a new AVI part); frames that the
    // window thread handles meanwhile are not written into a half-opened output.
    if (inStep_) return;
    inStep_ = true;
    if (WriterState == WriterNone) {
        SetProgress("Idle");
    } else if (IsActive()) {
        switch (WriteFrame()) {
            case WriteResult::Failed:
                FinishRecording("Recording stopped after " + std::to_string(FramesWritten) +
                                " frames:\n" + LastWriterError());
                break;
            case WriteResult::Skipped:
                break;
            case WriteResult::Written:
                ++FramesDone;
                if (FramesToGo == CountTimed) {
                    const long long left = static_cast<int32_t>(EndTime - timeGetTime()) / 1000;
                    SetProgress(FormatText(TimedFormat.c_str(), left, FramesDone));
                } else if (FramesToGo == CountContinuous) {
                    SetProgress(ContinuousText);
                } else if (--FramesToGo > 0) {
                    SetProgress(FormatText("%d Frames left", FramesToGo));
                }
                break;
        }
    } else {
        FinishRecording(std::string());
    }
    UpdateMemoryPanel();
    inStep_ = false;
}
