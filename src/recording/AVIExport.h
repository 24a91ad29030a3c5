#pragma once
// The recording controller: turns the frames the window thread finds due into a SER file,
// an AVI recording or a FIT/BMP series, counts down frames or time, shows the progress
// and, when the recording is over, closes the output and shows the "Last Capture" summary.
// Everything here runs on the window thread; the controller needs no window of its own
// and reaches the main window only through TExportView.
#include <cstdint>
#include <string>

#include "recording/WriterStatus.h"

class TVideoCapture;

// Modes of FramesToGo besides a positive frame count; 0 means stop.
constexpr int32_t CountContinuous = -10;  // until cancelled
constexpr int32_t CountTimed = -11;       // until EndTime

// Values of CaptureFormat.
constexpr int32_t FormatAvi = 1;
constexpr int32_t FormatFit = 2;
constexpr int32_t FormatSer = 3;
constexpr int32_t FormatBmp = 4;

// The parts of the main window the controller shows its state in.
class TExportView {
  public:
    virtual ~TExportView() = default;
    virtual void SetProgressText(const std::string& text) = 0;  // status panel 0
    virtual void SetMemoryText(const std::string& text) = 0;    // status panel 2
    // The recording has ended: hide the cancel button, give the capture controls back.
    virtual void RecordingClosed() = 0;
    // The "Last Capture" summary: duration in seconds and frames per second.
    virtual void ShowSummary(double durationSeconds, double framesPerSecond) = 0;
    // A failure the user must learn of (a write that failed, an output that could not be
    // finished). Called once the recording state is settled.
    virtual void ReportFailure(const std::string& text) = 0;
};

// timeGetTime when the capture command started the recording, and the frames written since.
extern uint32_t CaptureStartTime;
extern int32_t FramesWritten;

class TAVIExport {
  public:
    int32_t FramesToGo = 0;
    int32_t WriterState = WriterNone;
    // Progress and memory texts (printf formats): free MiB as long long; none; seconds
    // left as long long and FramesDone as int.
    std::string MemoryFormat = "%lld";  // the panel is 50 pixels wide; its tooltip names the unit
    std::string ContinuousText = "Recording - Cancel to stop";
    std::string TimedFormat = "%lld s left, %d frames";
    TExportView* View = nullptr;
    uint32_t EndTime = 0;      // timeGetTime at which a timed recording ends
    bool ColorFrames = false;  // AVI and BMP get the demosaiced colour image
    TVideoCapture* Capture = nullptr;
    int32_t FramesDone = 0;
    int32_t CaptureFormat = FormatFit;
    std::string StillPath;  // CapturePath + ".FIT" or ".BMP"

    void InitExport();
    // Opens a SER file (CaptureFormat 3) or an AVI recording (any other format). Returns
    // true when that FAILED; LastWriterError() then says why. An output still open is
    // closed first.
    bool OpenRecording(const std::string& path, int32_t width, int32_t height, int32_t color,
                       int32_t depth);
    // One step for a due frame: writes the head of the frame list while the recording is
    // active, otherwise ends the recording. A failed write ends it at once.
    void RecordStep();
    enum class WriteResult { Written, Skipped, Failed };
    // Writes the head frame in the selected format and releases it. Skipped: the list is
    // empty, or the frame does not fit the open SER/AVI recording (dropped).
    WriteResult WriteFrame();
    // Closes what is open and leaves the recording state. False when the output could not
    // be finished (LastWriterError() says why).
    bool CloseRecording();

    // The counting mode from the Frame Count/Duration field: `timed` for " sec(s)".
    void SetMode(int64_t count, bool timed);
    // Frames or time still to go (the recording is not over yet).
    bool IsActive() const;
    // A recording (or a series) is set up and not yet ended.
    bool Busy() const { return WriterState != WriterNone; }

  private:
    void FinishRecording(const std::string& failure);
    void SetProgress(const std::string& text);
    void UpdateMemoryPanel();

    int32_t width_ = 0, height_ = 0;  // frame size of the open SER/AVI recording
    bool inStep_ = false;
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
