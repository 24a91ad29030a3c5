#include "recording/RecordingController.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "acquisition/CaptureThread.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/Rounding.h"

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

void RecordingController::setProgress(const std::string& text) {
    if (view_) view_->setProgressText(text);
}

void RecordingController::updateMemoryPanel() {
    if (!view_) return;
    const long long mib = Round(static_cast<double>(AvailablePhysicalMemory()) / 1024.0 / 1024.0);
    view_->setMemoryText(FormatText(MemoryFormat, mib));
}

void RecordingController::beginCounting(RecordingLength length, bool colorFrames) {
    colorFrames_ = colorFrames;
    if (length.timed) {
        // Bounded to what the 32-bit millisecond timer can tell apart from "passed".
        const int64_t ms =
            std::clamp<int64_t>(length.count * 1000, 0, std::numeric_limits<int32_t>::max());
        framesToGo_ = CountTimed;
        endTime_ = TickMs() + static_cast<uint32_t>(ms);
    } else {
        framesToGo_ = length.count == 0 ? CountContinuous
                                        : static_cast<int32_t>(std::clamp<int64_t>(
                                              length.count, std::numeric_limits<int32_t>::min(),
                                              std::numeric_limits<int32_t>::max()));
    }
    framesDone_ = 0;
    framesWritten_ = 0;
    bytesWritten_ = 0;
    stampsSeconds_.clear();
    startTime_ = TickMs();
    failedAtStart_ = capture_ ? capture_->status().failedExposures : 0;
    if (capture_) capture_->setRecording(true);
}

bool RecordingController::isActive() const {
    if (framesToGo_ == CountContinuous || framesToGo_ > 0) return true;
    // Wrap-safe: the difference tells which side of endTime_ the timer is on.
    return framesToGo_ == CountTimed && static_cast<int32_t>(endTime_ - TickMs()) > 0;
}

bool RecordingController::startRecording(CaptureFormat format, const std::string& path,
                                         int32_t width, int32_t height, bool colorCamera,
                                         int32_t depth, RecordingLength length, bool colorFrames) {
    // Never two outputs at once: one still open is finished before the next starts.
    if (state_ == WriterState::Ser || state_ == WriterState::Avi) close();
    format_ = format;
    if (format == CaptureFormat::Ser) {
        if (!ser_.open(path, width, height, depth)) {
            lastError_ = ser_.error();
            return false;
        }
        state_ = WriterState::Ser;
    } else {
        if (!avi_.open(path, width, height, colorCamera)) {
            lastError_ = avi_.error();
            return false;
        }
        state_ = WriterState::Avi;
    }
    width_ = width;
    height_ = height;
    beginCounting(length, colorFrames);
    return true;
}

bool RecordingController::startStillSeries(CaptureFormat format, const std::string& stillPath,
                                           RecordingLength length, bool colorFrames) {
    if (state_ == WriterState::Ser || state_ == WriterState::Avi) close();
    format_ = format == CaptureFormat::Fit ? CaptureFormat::Fit : CaptureFormat::Bmp;
    stills_.begin(stillPath);
    state_ = WriterState::Stills;
    beginCounting(length, colorFrames);
    return true;
}

RecordingController::WriteResult RecordingController::writeFrame(Frame& frame) {
    const cv::Mat& grey = frame.Image8.empty() ? frame.RawImage : frame.Image8;
    bool ok = true;
    const std::string* error = nullptr;
    switch (state_) {
        case WriterState::Avi:
            // A frame exposed before the recording's size was in force: not part of it.
            if (FrameWidth(&frame) != width_ || FrameHeight(&frame) != height_)
                return WriteResult::Skipped;
            if (colorFrames_) {
                EnsureColorImage(frame);
                ok = avi_.writeFrame(frame.ColorImage);
            } else {
                ok = avi_.writeFrame(grey);
            }
            error = &avi_.error();
            break;
        case WriterState::Ser:
            if (FrameWidth(&frame) != width_ || FrameHeight(&frame) != height_)
                return WriteResult::Skipped;
            ok = ser_.writeFrame(frame);
            error = &ser_.error();
            break;
        case WriterState::Stills:
            if (format_ == CaptureFormat::Fit) {
                ok = stills_.writeFits(frame);
            } else if (colorFrames_) {
                EnsureColorImage(frame);
                ok = stills_.writeBmp(frame.ColorImage);
            } else {
                ok = stills_.writeBmp(grey);
            }
            error = &stills_.error();
            break;
        case WriterState::None:
            return WriteResult::Skipped;
    }
    if (ok) {
        ++framesWritten_;
        bytesWritten_ += state_ == WriterState::Ser
                             ? frame.RawImage.total() * frame.RawImage.elemSize()
                             : grey.total() * (colorFrames_ ? 3 : 1);
        stampsSeconds_.push_back(frame.TimeStamp * 86400.0);
    } else
        lastError_ = *error;
    updateMemoryPanel();
    return ok ? WriteResult::Written : WriteResult::Failed;
}

bool RecordingController::close() {
    bool ok = true;
    if (state_ == WriterState::Ser && !ser_.close()) {
        ok = false;
        lastError_ = ser_.error();
    } else if (state_ == WriterState::Avi && !avi_.close()) {
        ok = false;
        lastError_ = avi_.error();
    }
    state_ = WriterState::None;
    if (capture_) capture_->setRecording(false);
    if (view_) view_->recordingClosed();
    setProgress(std::string());
    return ok;
}

void RecordingController::finish(const std::string& failure) {
    std::string message = failure;
    if (!close()) {
        if (!message.empty()) message += "\n";
        message += lastError_;
    }
    // The added millisecond keeps the duration above zero.
    const double duration = static_cast<double>(TickMs() - startTime_ + 1u) / 1000.0;
    const double rate = framesWritten_ / duration;
    lastGaps_ = FindGaps(stampsSeconds_);
    if (capture_) lastGaps_.failedExposures = capture_->status().failedExposures - failedAtStart_;
    if (view_) view_->showSummary(duration, rate);
    framesToGo_ = 0;
    if (!message.empty() && view_) view_->reportFailure(message);
}

bool RecordingController::finishIfOver() {
    // Not from inside recordFrame (a writer's dialog runs a nested event loop).
    if (inRecordFrame_ || state_ == WriterState::None || isActive()) return false;
    finish(std::string());
    updateMemoryPanel();
    return true;
}

void RecordingController::recordFrame(Frame& frame) {
    if (inRecordFrame_) return;  // a frame handed off while a writer's dialog is up
    inRecordFrame_ = true;
    if (state_ == WriterState::None) {
        setProgress("Idle");
    } else if (isActive()) {
        switch (writeFrame(frame)) {
            case WriteResult::Failed:
                finish("Recording stopped after " + std::to_string(framesWritten_) + " frames:\n" +
                       lastError_);
                break;
            case WriteResult::Skipped:
                break;
            case WriteResult::Written:
                ++framesDone_;
                if (framesToGo_ == CountTimed) {
                    const long long left = static_cast<int32_t>(endTime_ - TickMs()) / 1000;
                    setProgress(FormatText(TimedFormat, left, framesDone_));
                } else if (framesToGo_ == CountContinuous) {
                    setProgress(ContinuousText);
                } else if (--framesToGo_ > 0) {
                    setProgress(FormatText("%d Frames left", framesToGo_));
                }
                break;
        }
    } else {
        finish(std::string());
    }
    updateMemoryPanel();
    inRecordFrame_ = false;
}
