#pragma once
// The recording controller: owns a recording from the capture command to its summary. It
// waits for a turning filter wheel, opens the output (a SER file, an AVI recording or a
// FIT/BMP series, through the format table), cuts the running exposure short so that every
// recorded frame was exposed after the command, keeps the frames its gate admits (the
// pause between recorded frames), counts down frames or time, shows the progress and, when
// the recording is over, closes the output and shows the "Last Capture" summary. It ends
// itself: at its count, at its time (a timer), at a cancel, or when the writer thread
// tells it a write failed. It needs no window of its own and tells the window what it
// shows through its signals.
//
// Threads: every public function runs on the window thread. The writers run on a writer
// thread of each recording (FrameWriterThread): the window thread opens the output, then
// hands each recorded frame over and the writer thread writes it (the SER durability
// updates, AVI colour conversion and encoding, FITS and BMP files) and closes the output
// once the recording has ended and every queued frame is written. The window thread learns
// of the end (or of a failed write) through writerNeedsWindow, queued to finishIfOver, and
// finishes the recording: summary, failure report. An AVI part that needs the codec chooser asks
// the window thread for it and waits for the answer.
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/Frame.h"
#include "recording/CaptureFormat.h"
#include "recording/FrameWriterThread.h"
#include "recording/QualityFile.h"
#include "recording/RecordingGaps.h"
#include "recording/RecordingGate.h"
#include "recording/RecordingOutput.h"
#include "recording/SharpestFrames.h"

class CaptureThread;
struct CaptureStatus;
class QTimer;

// Modes of framesToGo() besides a positive frame count; 0 means stop.
constexpr int32_t kCountContinuous = -10;  // until cancelled
constexpr int32_t kCountTimed = -11;       // until endTime()

// How long a recording runs, from the Frame Count/Duration field: `count` frames (0: until
// cancelled; negative: it ends at its first frame), or with `timed` `count` seconds.
struct RecordingLength {
    int64_t count = 0;
    bool timed = false;
};

// A capture command: what to record, where, and how long.
struct CaptureRequest {
    CaptureFormat format = CaptureFormat::Fit;
    // The capture path (folder + "/" + base name, without extension) as the file system
    // spells it; the recording's name is made from it when it starts.
    std::string capturePath;
    RecordingLength length;
    int32_t pauseMs = 0;  // between recorded frames
    bool colorCamera = false;
    int64_t exposureUs = 0;  // set on the camera as the recording starts; 0: as it is
};

// What a capture command did.
enum class CaptureStart {
    Started,
    WaitingForWheel,  // it starts once the filter wheel is still (or is cancelled)
    WaitingForSharp,  // it starts once the seeing is sharp (or is cancelled)
    Failed,           // lastError() says why; nothing records
};

class RecordingController : public QObject {
    Q_OBJECT
  public:
    using FactsSource = std::function<RecordingFacts()>;
    // `capture`: the acquisition thread whose exposures the recording takes and whose
    // Recording flag follows it; `journal`: where the SER and AVI writers note the files
    // they have open; `facts`: asked as a recording starts (after a wait for the wheel) for
    // the camera, settings and session details. Each may be absent (tests).
    explicit RecordingController(CaptureThread* capture = nullptr,
                                 RecoveryJournal* journal = nullptr, FactsSource facts = {},
                                 QObject* parent = nullptr);
    // A recording still running is finished: every queued frame written, the output closed.
    ~RecordingController();
    RecordingController(const RecordingController&) = delete;
    RecordingController& operator=(const RecordingController&) = delete;

    // The memory text (a printf format: free MiB as long long) and the progress text of a
    // recording that runs until cancelled (shown through tr()).
    static constexpr const char* kMemoryFormat = "%lld MiB free";
    static constexpr const char* kContinuousText = QT_TR_NOOP("Recording - Cancel to stop");

    // Where the SER and AVI writers note the files they have open (may be null).
    void setJournal(RecoveryJournal* journal) {
        journal_ = journal;
        writers_.ser.setJournal(journal);
        writers_.avi.setJournal(journal);
    }
    // Why a SER or AVI recording started now could not be finished after a crash (its note
    // cannot be written); "" when it can, or when there is no journal.
    std::string crashSafetyProblem() const;
    // The facts of the next recording (camera, settings, session details), taken by
    // startRecording and startStillSeries (a capture command asks the facts source first):
    // they go into the SER header texts, the FITS cards and the capture log.
    void setFacts(RecordingFacts facts) { facts_ = std::move(facts); }
    const RecordingFacts& facts() const { return facts_; }
    // Whether a capture log is written beside each recording (off until asked for).
    void setWriteLog(bool on) { writeLog_ = on; }
    // Observation names: a SER or AVI recording is written under a provisional name and
    // renamed at its close after the UTC time of its middle, the target and the filter
    // (observationStem); a FIT/BMP series names each file after its frame's time.
    void setObservationNames(bool on) { observationNames_ = on; }
    bool observationNames() const { return observationNames_; }
    // A setting changed while a recording runs (window thread): noted with the time for the
    // log; a gain also goes into the FITS cards of the frames written from then on.
    void noteSettingChange(const std::string& name, const std::string& value);
    // Renames a closed AVI part to its observation name, never over an existing file; the
    // parts are whole files by then. Replaceable, so that a test can stop the program between
    // the close and the rename.
    void setPartRenamer(
        std::function<bool(const std::string& from, const std::string& to)> rename) {
        writers_.renamePart = std::move(rename);
    }
    // The file of the last finished recording (its final name) and its log ("" when none
    // was written). Valid once the recording has finished.
    const std::string& lastFile() const { return lastFile_; }
    // The name the running recording started under: the SER file or AVI part open now (its
    // provisional name under observation names), or a series' still path (capture path +
    // ".FIT" or ".BMP"), after which its files are named; "" while none runs.
    std::string openPath() const;
    const std::string& lastLogPath() const { return lastLogPath_; }

    // A capture command: waits for a turning filter wheel first and, with "Start When
    // Sharp", for sharp seeing (the request is carried out once both are there, with the
    // facts of that moment), then sets the exposure, makes the
    // recording's name (numbered, or provisional under observation names), opens the
    // output, cuts the running exposure short and starts the gate with the pause. Ignored
    // (Failed, with no error) while a recording runs or waits.
    CaptureStart requestCapture(const CaptureRequest& request);
    // A capture command waits: for the filter wheel, then (with "Start When Sharp") for
    // sharp seeing; one state for both, the progress text says which.
    bool waiting() const { return waiting_.has_value(); }
    // Where a capture that waits for sharp seeing learns that the moment has come: asked
    // every kWaitCheckMs on the window thread; `restart` is called as the wait begins, so
    // that only sharp seeing from then on counts.
    void setSharpSource(std::function<bool()> sharpNow, std::function<void()> restart) {
        sharpNow_ = std::move(sharpNow);
        restartSharp_ = std::move(restart);
    }
    // "Keep Sharpest Frames": of each second only `percent` % of the frames, those with the
    // best seeing figures, are written; from the next recording on.
    void setKeepSharpest(bool on, int percent) {
        keepSharpest_ = on;
        keepPercent_ = percent;
    }
    // "Start When Sharp": a capture command waits for sharp seeing first.
    void setStartWhenSharp(bool on) { startWhenSharp_ = on; }
    static constexpr int kWaitCheckMs = 100;
    static constexpr const char* kWaitingForSharpText = QT_TR_NOOP("Waiting for sharp seeing...");
    // The pause between recorded frames, from the next recorded frame on.
    void setPause(int32_t pauseMs) { gate_.setPause(pauseMs); }
    const RecordingGate& gate() const { return gate_; }
    // The filter in the beam (the wheel's slot, from 1, and its name): a change during a
    // recording goes into its log.
    void noteFilterInBeam(int32_t slot, const std::string& name);

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

    // The step for every frame while a recording runs: hands it to the writer thread when the
    // recording is active and its gate admits the frame, otherwise ends the recording when
    // it is over. A frame that does not fit the open SER or AVI recording (exposed before its
    // size was in force) is passed over. The last frame of a counted recording ends it.
    void recordFrame(FramePtr frame);

    // The cancel command: a capture waiting for the wheel gives up; a running recording is
    // over and ends now (the running exposure is cut short, so that the camera is free at
    // once), whether or not the camera sends another frame.
    void cancel();
    // Ends a recording that is over (cancelled, its count done, its time passed) without
    // waiting for another frame, as the next due frame would: no frame is taken any more,
    // the writer thread writes what is queued and closes the output. Once it has, the
    // summary is shown (by this call or a later one). Also answers the writer thread's
    // request for the codec chooser. A camera that stops sending frames must not keep a
    // recording open. True when it ended a recording or finished one.
    bool finishIfOver();
    // Writes out every queued frame, closes what is open and leaves the recording state,
    // without the summary; waits for the disk. False when the output could not be
    // finished or frames were lost (lastError() says why). A codec chooser wanted
    // meanwhile counts as cancelled.
    bool close();
    // Waits until every frame handed over so far is written (or the writer failed) and,
    // for a recording that has stopped taking frames, until its output is closed; then
    // finishes a recording whose writer has ended. For tests and benchmarks; a codec
    // chooser wanted meanwhile is answered.
    void waitForWriter();

    // A recording (or a series) is set up and not yet finished (its output not closed).
    bool busy() const { return state_ != WriterState::None; }
    // The recording takes no more frames; the writer thread is writing out its queue.
    bool ending() const { return ending_; }
    // Frames handed to the writer thread and not yet written.
    int framesQueued() const { return writer_ ? writer_->framesQueued() : 0; }
    // Frames or time still to go (the recording is not over yet).
    bool isActive() const;

    WriterState writerState() const { return state_; }
    CaptureFormat format() const { return format_; }
    int32_t framesToGo() const { return framesToGo_; }
    uint32_t endTime() const { return endTime_; }  // monotonicMs at which a timed one ends
    int32_t framesDone() const { return framesDone_; }
    // Frames the writer thread has written so far.
    int32_t framesWritten() const { return framesWritten_.load(); }
    // Image bytes written by the recording so far (the data rate of the disk panel).
    uint64_t bytesWritten() const { return bytesWritten_.load(); }
    // Seconds the writer thread spent writing the recording's frames so far (its pace is
    // bytesWritten() over this; for the benchmark).
    double secondsWriting() const { return static_cast<double>(nanosWriting_.load()) / 1e9; }
    uint32_t startTime() const { return startTime_; }  // monotonicMs at the start
    // The gaps of the last finished recording, from its written frames' time stamps.
    const GapReport& lastGaps() const { return lastGaps_; }
    // The seeing figures file of the last finished SER or AVI recording ("" when none).
    const std::string& lastQualityFile() const { return lastQualityFile_; }
    // The reason of the last failed start, write or close, naming the file.
    const std::string& lastError() const { return lastError_; }

    // The writers, for their settings (the AVI codec and its chooser) and for tests.
    AviWriter& avi() { return writers_.avi; }
    SerWriter& ser() { return writers_.ser; }
    StillSeriesWriter& stills() { return writers_.stills; }

  signals:
    // A capture command waits for the filter wheel or for sharp seeing (true), or no longer
    // does (false: it started, failed or was cancelled).
    void waitingChanged(bool waiting);
    // A recording has started: its output is open and frames are taken.
    void recordingStarted();
    // Emitted on the writer thread when the window thread has something to do (the output
    // is closed, a write failed, the codec chooser is wanted); queued to finishIfOver().
    void writerNeedsWindow();
    // The progress text of status panel 0 (empty: the panel is the frame rate's again).
    void progressChanged(const QString& text);
    // The free memory text of status panel 2, a few times a second during a recording.
    void memoryChanged(const QString& text);
    // The recording has ended: the cancel button goes, the capture controls come back.
    void recordingClosed();
    // The "Last Capture" summary: duration in seconds and frames per second.
    void summaryReady(double durationSeconds, double framesPerSecond);
    // A failure the user must learn of (a write that failed, an output that could not be
    // finished), once the recording state is settled.
    void failed(const QString& text);

  private:
    CaptureStart startCapture(const CaptureRequest& request);
    bool openOutput(CaptureFormat format, const OutputSetup& setup);
    void watchWait();
    // What a waiting capture command still waits for: its progress text, "" when nothing.
    QString waitReason() const;
    void beginCounting(RecordingLength length);
    void startWriter();
    bool writeOnWriterThread(FramePtr& frame);
    bool writeFrameOnWriterThread(Frame& frame, double quality);
    bool writeJudgedOnWriterThread(std::vector<SharpestFrames::Judged>& judged);
    std::string selectionText() const;
    bool closeOnWriterThread();
    std::string finalRecordingPath() const;
    void writeLogOnWriterThread();
    void markStopped();
    // The "Last Capture" figures: seconds from the start to the stop, frames per second.
    std::pair<double, double> summaryFigures() const;
    std::string troubleDuring(const CaptureStatus& camera) const;
    bool chooseCodecForWriter(const std::vector<AviCodec>& offered, const std::string& partName,
                              int32_t& fourcc);
    void answerCodecRequest(bool refuse);
    void endRecording();
    bool completeIfEnded();
    std::string settleWriter();
    void finish(const std::string& failure);
    void setProgress(const QString& text);
    void updateMemoryPanel(bool now = false);

    RecordingWriters writers_;
    std::unique_ptr<RecordingOutput> output_;  // of the running recording
    std::string stillPath_;                    // of the running series
    CaptureThread* capture_ = nullptr;
    RecoveryJournal* journal_ = nullptr;
    FactsSource factsSource_;
    std::unique_ptr<FrameWriterThread> writer_;
    RecordingGate gate_;
    std::optional<CaptureRequest> waiting_;  // a capture command waiting for the wheel
    QTimer* waitTimer_ = nullptr;            // looks at the wheel and the seeing while one waits
    QTimer* endTimer_ = nullptr;             // the end of a timed recording
    int32_t recordedSlot_ = 0;               // the filter in the beam, for the log

    // Window thread.
    WriterState state_ = WriterState::None;
    CaptureFormat format_ = CaptureFormat::Fit;
    int32_t width_ = 0, height_ = 0;  // frame size of the open SER/AVI recording
    int32_t framesToGo_ = 0;
    uint32_t endTime_ = 0;
    int32_t framesDone_ = 0;  // frames handed to the writer thread
    bool ending_ = false;
    uint32_t startTime_ = 0;
    // monotonicMs when the recording stopped taking frames: set by the window thread as it
    // ends the recording, or by the writer thread at its close when a failed write ended
    // it, whichever comes first, so that the log and the summary agree. Bit 32 marks it set.
    std::atomic<uint64_t> stopTime_{0};
    PreciseDateTime startLocal_;  // localNow() at startTime_
    uint32_t memoryShownAt_ = 0;
    std::string lastError_;
    GapReport lastGaps_;
    uint64_t failedAtStart_ = 0;  // the capture thread's failed exposures when it began
    uint64_t heldBackAtStart_ = 0, heldBackMsAtStart_ = 0;
    uint64_t troublesAtStart_ = 0;
    bool troubledAtStart_ = false;  // a camera trouble was in force as the recording began
    AviCodecChooser userChooser_;   // the codec chooser the program gave the AVI writer
    bool answering_ = false;        // the codec chooser is up (its dialog runs an event loop)

    // Writer thread while a recording runs; read by the window thread once it has ended.
    std::string writerError_;
    std::vector<double> stampsSeconds_;  // stamps of the frames written, seconds from the first
    std::optional<PreciseDateTime> firstStamp_, lastStamp_;
    std::string firstFile_;                  // the first file the recording wrote
    std::vector<std::string> filesWritten_;  // every file its frames went into, in order
    std::string lastFile_;         // set on the writer thread at close, read once it ended
    std::string lastLogPath_;      // likewise
    std::string lastQualityFile_;  // likewise
    // The frames' seeing figures: the side file of a SER or AVI recording, the figures of
    // the frames written, and the stage that keeps the sharpest frames of each second.
    QualityFile qualityFile_;
    std::vector<double> qualities_;
    std::unique_ptr<SharpestFrames> sharpest_;

    // What the files and the log say about the recording; set before it starts.
    RecordingFacts facts_;
    bool writeLog_ = false;  // the program turns it on from its stored choice
    bool observationNames_ = false;
    bool keepSharpest_ = false;
    int keepPercent_ = 25;
    bool startWhenSharp_ = false;
    bool waitedForSharp_ = false;  // the running recording waited for sharp seeing
    std::function<bool()> sharpNow_;
    std::function<void()> restartSharp_;
    std::atomic<int32_t> gain_{0};  // the gain in force, for the FITS cards
    std::mutex changesMutex_;
    std::vector<SettingChange> changes_;  // of the running recording
    std::atomic<int32_t> framesWritten_{0};
    std::atomic<uint64_t> bytesWritten_{0};
    std::atomic<uint64_t> nanosWriting_{0};

    // The writer thread's question for the codec chooser, and the window thread's answer.
    struct CodecRequest {
        bool pending = false;
        bool answered = false;
        bool accepted = false;
        int32_t fourcc = 0;
        std::vector<AviCodec> offered;
        std::string partName;
    };
    std::mutex codecMutex_;
    std::condition_variable codecCv_;
    CodecRequest codecRequest_;
};

// printf-style formatting of the controller's texts.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The Frame Count/Duration text as a number, the way the runtime converts it: optional
// blanks, an optional sign and decimal digits. Otherwise false with the message
// "'<text>' is not a valid integer value" in `error`.
bool parseCount(const std::string& text, int32_t& value, std::string& error);

// The pause between recorded frames in milliseconds: the Pause text (empty counts as 0),
// times 1000 when the unit is seconds. Never negative.
int32_t pauseMsFromText(const std::string& text, bool seconds);
