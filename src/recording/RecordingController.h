#pragma once
// The recording controller: turns the frames the window thread finds due into a SER file,
// an AVI recording or a FIT/BMP series, counts down frames or time, shows the progress
// and, when the recording is over, closes the output and shows the "Last Capture" summary.
// It owns the three writers and all state of a recording. Everything here runs on the
// window thread; the controller needs no window of its own and reaches the main window
// only through RecordingView.
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/Frame.h"
#include "recording/AviWriter.h"
#include "recording/CaptureFormat.h"
#include "recording/RecordingGaps.h"
#include "recording/SerWriter.h"
#include "recording/StillSeriesWriter.h"

class CaptureThread;

// Modes of framesToGo() besides a positive frame count; 0 means stop.
constexpr int32_t CountContinuous = -10;  // until cancelled
constexpr int32_t CountTimed = -11;       // until endTime()

// The parts of the main window the controller shows its state in.
class RecordingView {
  public:
    virtual ~RecordingView() = default;
    virtual void setProgressText(const std::string& text) = 0;  // status panel 0
    virtual void setMemoryText(const std::string& text) = 0;    // status panel 2
    // The recording has ended: hide the cancel button, give the capture controls back.
    virtual void recordingClosed() = 0;
    // The "Last Capture" summary: duration in seconds and frames per second.
    virtual void showSummary(double durationSeconds, double framesPerSecond) = 0;
    // A failure the user must learn of (a write that failed, an output that could not be
    // finished). Called once the recording state is settled.
    virtual void reportFailure(const std::string& text) = 0;
};

// How long a recording runs, from the Frame Count/Duration field: `count` frames (0: until
// cancelled; negative: it ends at its first frame), or with `timed` `count` seconds.
struct RecordingLength {
    int64_t count = 0;
    bool timed = false;
};

class RecordingController {
  public:
    // Progress and memory texts (printf formats): free MiB as long long; none; seconds
    // left as long long and framesDone() as int. The memory panel is 50 pixels wide; its
    // tooltip names the unit.
    static constexpr const char* MemoryFormat = "%lld";
    static constexpr const char* ContinuousText = "Recording - Cancel to stop";
    static constexpr const char* TimedFormat = "%lld s left, %d frames";

    // Where the state is shown, and the acquisition thread whose Recording flag follows
    // the recording (both may be null).
    void setView(RecordingView* view) { view_ = view; }
    void setCapture(CaptureThread* capture) { capture_ = capture; }
    // Where the SER and AVI writers note the files they have open (may be null).
    void setJournal(RecoveryJournal* journal) {
        ser_.setJournal(journal);
        avi_.setJournal(journal);
    }

    // Opens a SER file (format Ser) or an AVI recording (any other format) for frames of
    // the given size, `colorCamera` choosing a colour AVI, and starts counting: the start
    // time, frames written and done go to 0 and the capture's Recording flag to 1.
    // `colorFrames`: AVI frames are the demosaiced colour image. An output still open is
    // finished first. False when the open failed; lastError() then says why and nothing
    // is recording.
    bool startRecording(CaptureFormat format, const std::string& path, int32_t width,
                        int32_t height, bool colorCamera, int32_t depth, RecordingLength length,
                        bool colorFrames);
    // Starts a FIT series (format Fit) or a BMP series (any other format) under the still
    // path (capture path + ".FIT" or ".BMP"), counting like startRecording. `colorFrames`:
    // BMP files hold the demosaiced colour image. An output still open is finished first.
    bool startStillSeries(CaptureFormat format, const std::string& stillPath,
                          RecordingLength length, bool colorFrames);

    // The step for one due frame: writes it while the recording is active, otherwise ends
    // the recording. A failed write ends it at once. A frame that does not fit the open SER
    // or AVI recording (exposed before its size was in force) is passed over. The caller
    // owns the frame; the controller does not keep, free or release it.
    void recordFrame(Frame& frame);

    // The cancel command: the recording is over; finishIfOver() (or the next due frame)
    // ends it.
    void cancel() { framesToGo_ = 0; }
    // Ends a recording that is over (cancelled, its count done, its time passed) without
    // waiting for another frame, as the next due frame would: output closed, summary shown.
    // A camera that stops sending frames must not keep a recording open. True when it ended
    // one.
    bool finishIfOver();
    // Closes what is open and leaves the recording state, without the summary. False when
    // the output could not be finished (lastError() says why).
    bool close();

    // A recording (or a series) is set up and not yet ended.
    bool busy() const { return state_ != WriterState::None; }
    // Frames or time still to go (the recording is not over yet).
    bool isActive() const;

    WriterState writerState() const { return state_; }
    CaptureFormat format() const { return format_; }
    int32_t framesToGo() const { return framesToGo_; }
    uint32_t endTime() const { return endTime_; }  // TickMs at which a timed one ends
    int32_t framesDone() const { return framesDone_; }
    int32_t framesWritten() const { return framesWritten_; }
    // Image bytes written by the recording so far (the data rate of the disk panel).
    uint64_t bytesWritten() const { return bytesWritten_; }
    uint32_t startTime() const { return startTime_; }  // TickMs at the start
    // The gaps of the last finished recording, from its written frames' time stamps.
    const GapReport& lastGaps() const { return lastGaps_; }
    // The reason of the last failed start, write or close, naming the file.
    const std::string& lastError() const { return lastError_; }

    // The writers, for their settings (the AVI codec and its chooser) and for tests.
    AviWriter& avi() { return avi_; }
    SerWriter& ser() { return ser_; }
    StillSeriesWriter& stills() { return stills_; }

  private:
    enum class WriteResult { Written, Skipped, Failed };
    void beginCounting(RecordingLength length, bool colorFrames);
    WriteResult writeFrame(Frame& frame);
    void finish(const std::string& failure);
    void setProgress(const std::string& text);
    void updateMemoryPanel();

    AviWriter avi_;
    SerWriter ser_;
    StillSeriesWriter stills_;
    RecordingView* view_ = nullptr;
    CaptureThread* capture_ = nullptr;

    WriterState state_ = WriterState::None;
    CaptureFormat format_ = CaptureFormat::Fit;
    bool colorFrames_ = false;        // AVI and BMP get the demosaiced colour image
    int32_t width_ = 0, height_ = 0;  // frame size of the open SER/AVI recording
    int32_t framesToGo_ = 0;
    uint32_t endTime_ = 0;
    int32_t framesDone_ = 0;
    int32_t framesWritten_ = 0;
    uint64_t bytesWritten_ = 0;
    uint32_t startTime_ = 0;
    std::string lastError_;
    std::vector<double> stampsSeconds_;  // time stamps of the frames written, in seconds
    GapReport lastGaps_;
    uint64_t failedAtStart_ = 0;  // the capture thread's failed exposures when it began
    // Set while recordFrame runs. A writer may ask the user something (the codec of a new
    // AVI part) through a modal dialog, whose exec() runs a nested event loop; frames handed
    // off meanwhile come back into recordFrame and must not reach a writer that is half way
    // through opening a part. They are passed over, as frames that are not due.
    bool inRecordFrame_ = false;
};

// printf-style formatting of the controller's texts.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The Frame Count/Duration text as a number, the way the runtime converts it: optional
// blanks, an optional sign and decimal digits. Otherwise false with the message
// "'<text>' is not a valid integer value" in `error`.
bool ParseCount(const std::string& text, int32_t& value, std::string& error);

// The pause between recorded frames in milliseconds: the Pause text (empty counts as 0),
// times 1000 when the unit is seconds. Never negative.
int32_t PauseMs(const std::string& text, bool seconds);
