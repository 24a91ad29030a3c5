#include "recording/RecordingController.h"

#include <QMetaMethod>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>

#include "acquisition/CaptureThread.h"
#include "analysis/FrameQuality.h"
#include "analysis/SeeingHistory.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/Rounding.h"
#include "recording/FileNames.h"
#include "recording/Log.h"

namespace {
// How long a recording whose count is done waits for the next due frame to end it.
constexpr int kCountEndWaitMs = 200;
}  // namespace

std::string formatText(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buf, std::min<size_t>(n, sizeof buf - 1));
}

bool parseCount(const std::string& text, int32_t& value, std::string& error) {
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

int32_t pauseMsFromText(const std::string& text, bool seconds) {
    int32_t v = 0;
    std::string ignored;
    if (!parseCount(text, v, ignored) || v < 0) v = 0;
    const int64_t ms = int64_t{v} * (seconds ? 1000 : 1);
    return static_cast<int32_t>(std::min<int64_t>(ms, std::numeric_limits<int32_t>::max()));
}

void RecordingController::setProgress(const QString& text) {
    emit progressChanged(text);
}

void RecordingController::updateMemoryPanel(bool now) {
    // Reading the memory figure costs the window thread more than a frame's hand-over:
    // a few times a second is enough for a panel the eye reads, and none without a reader.
    constexpr uint32_t kMemoryPanelMs = 250;
    const uint32_t tick = monotonicMs();
    if (!now && tick - memoryShownAt_ < kMemoryPanelMs) return;
    memoryShownAt_ = tick;
    if (!isSignalConnected(QMetaMethod::fromSignal(&RecordingController::memoryChanged))) return;
    const long long mib =
        roundEven(static_cast<double>(availablePhysicalMemory()) / 1024.0 / 1024.0);
    emit memoryChanged(QString::fromStdString(formatText(kMemoryFormat, mib)));
}

RecordingController::RecordingController(CaptureThread* capture, RecoveryJournal* journal,
                                         FactsSource facts, QObject* parent)
    : QObject(parent), capture_(capture), factsSource_(std::move(facts)) {
    setJournal(journal);
    // The writer thread's call for the window thread is posted, never run on the writer thread.
    connect(
        this, &RecordingController::writerNeedsWindow, this, [this] { finishIfOver(); },
        Qt::QueuedConnection);
    waitTimer_ = new QTimer(this);
    waitTimer_->setInterval(kWaitCheckMs);
    connect(waitTimer_, &QTimer::timeout, this, &RecordingController::watchWait);
    endTimer_ = new QTimer(this);
    endTimer_->setSingleShot(true);
    endTimer_->setTimerType(Qt::PreciseTimer);
    connect(endTimer_, &QTimer::timeout, this, [this] {
        // A timer may fire a little early: then it waits for the rest.
        if (!finishIfOver() && state_ != WriterState::None && !ending_ && isActive())
            endTimer_->start(std::max(1, static_cast<int32_t>(endTime_ - monotonicMs()) + 1));
    });
}

RecordingController::~RecordingController() {
    // The recording is finished without telling anyone: the window may be half gone.
    blockSignals(true);
    close();
}

void RecordingController::beginCounting(RecordingLength length) {
    gate_.start(0);
    if (length.timed) {
        // Bounded to what the 32-bit millisecond timer can tell apart from "passed".
        const int64_t ms =
            std::clamp<int64_t>(length.count * 1000, 0, std::numeric_limits<int32_t>::max());
        framesToGo_ = kCountTimed;
        endTime_ = monotonicMs() + static_cast<uint32_t>(ms);
        endTimer_->start(static_cast<int>(ms) + 1);
    } else {
        framesToGo_ = length.count == 0 ? kCountContinuous
                                        : static_cast<int32_t>(std::clamp<int64_t>(
                                              length.count, std::numeric_limits<int32_t>::min(),
                                              std::numeric_limits<int32_t>::max()));
    }
    framesDone_ = 0;
    framesWritten_ = 0;
    bytesWritten_ = 0;
    nanosWriting_ = 0;
    ending_ = false;
    stampsSeconds_.clear();
    firstStamp_.reset();
    lastStamp_.reset();
    firstFile_.clear();
    filesWritten_.clear();
    lastFile_.clear();
    lastLogPath_.clear();
    lastQualityFile_.clear();
    qualities_.clear();
    // Held frames stay in the writer queue's account: at most half of it, so that the
    // camera is never held back for them.
    const uint64_t queueLimit = capture_ ? capture_->frameBudget().queueLimit() : UINT64_MAX;
    sharpest_ =
        keepSharpest_ ? std::make_unique<SharpestFrames>(keepPercent_, queueLimit / 2) : nullptr;
    gain_ = facts_.gain;
    {
        std::lock_guard<std::mutex> lock(changesMutex_);
        changes_.clear();
    }
    writerError_.clear();
    startTime_ = monotonicMs();
    startLocal_ = localNow();
    stopTime_ = 0;
    const CaptureStatus camera = capture_ ? capture_->status() : CaptureStatus{};
    failedAtStart_ = camera.failedExposures;
    heldBackAtStart_ = camera.exposuresHeldBack;
    heldBackMsAtStart_ = camera.heldBackMs;
    troublesAtStart_ = camera.cameraTroubles;
    troubledAtStart_ = !camera.cameraTrouble.empty();
    if (capture_) capture_->setRecording(true);
    startWriter();
}

void RecordingController::startWriter() {
    // From here until the writer thread has ended, the writers belong to it.
    if (state_ == WriterState::Avi) {
        userChooser_ = writers_.avi.codecChooser();
        if (userChooser_)
            writers_.avi.setCodecChooser([this](const std::vector<AviCodec>& offered,
                                                const std::string& partName, int32_t& fourcc) {
                return chooseCodecForWriter(offered, partName, fourcc);
            });
    }
    writer_ = std::make_unique<FrameWriterThread>(
        [this](FramePtr& frame) { return writeOnWriterThread(frame); },
        [this] { return closeOnWriterThread(); }, [this] { emit writerNeedsWindow(); });
}

bool RecordingController::isActive() const {
    if (framesToGo_ == kCountContinuous || framesToGo_ > 0) return true;
    // Wrap-safe: the difference tells which side of endTime_ the timer is on.
    return framesToGo_ == kCountTimed && static_cast<int32_t>(endTime_ - monotonicMs()) > 0;
}

std::string RecordingController::crashSafetyProblem() const {
    std::string why;
    if (journal_ && !journal_->isWritable(&why)) return why;
    return std::string();
}

std::string RecordingController::openPath() const {
    if (!output_) return std::string();
    const std::string open = output_->path();
    return open.empty() ? stillPath_ : open;
}

bool RecordingController::openOutput(CaptureFormat format, const OutputSetup& setup) {
    format_ = format;
    output_ = makeOutput(format, writers_);
    if (!output_->open(setup)) {
        lastError_ = output_->error();
        output_.reset();
        return false;
    }
    state_ = !isSequence(format)            ? WriterState::Stills
             : format == CaptureFormat::Ser ? WriterState::Ser
                                            : WriterState::Avi;
    return true;
}

bool RecordingController::startRecording(CaptureFormat format, const std::string& path,
                                         int32_t width, int32_t height, bool colorCamera,
                                         int32_t depth, RecordingLength length, bool colorFrames) {
    // Never two outputs at once: one still open is finished before the next starts.
    if (busy()) close();
    OutputSetup setup;
    setup.path = path;
    setup.width = width;
    setup.height = height;
    setup.depth = depth;
    setup.colorCamera = colorCamera;
    setup.colorFrames = colorFrames;
    setup.texts = serTextsOf(facts_);
    // The side file first: a recording starts only with the name of its figures free.
    if (!qualityFile_.create(qualityFilePath(path))) {
        lastError_ = "No seeing figures file for " + path + ": " + qualityFile_.error();
        return false;
    }
    if (!openOutput(format == CaptureFormat::Ser ? CaptureFormat::Ser : CaptureFormat::Avi,
                    setup)) {
        qualityFile_.discard();
        return false;
    }
    width_ = width;
    height_ = height;
    beginCounting(length);
    return true;
}

bool RecordingController::startStillSeries(CaptureFormat format, const std::string& stillPath,
                                           RecordingLength length, bool colorFrames) {
    if (busy()) close();
    const CaptureFormat still =
        format == CaptureFormat::Fit ? CaptureFormat::Fit : CaptureFormat::Bmp;
    OutputSetup setup;
    setup.path = stillPath;
    setup.colorFrames = colorFrames;
    if (observationNames_) {
        const size_t slash = stillPath.rfind('/');
        setup.naming = StillSeriesWriter::ObservationNaming{
            slash == std::string::npos ? std::string() : stillPath.substr(0, slash),
            facts_.session.target, facts_.filter, formatInfo(still).observationExtension,
            facts_.utcOffsetSeconds};
    }
    if (!openOutput(still, setup)) return false;
    stillPath_ = stillPath;
    beginCounting(length);
    return true;
}

CaptureStart RecordingController::requestCapture(const CaptureRequest& request) {
    if (busy() || waiting_) return CaptureStart::Failed;  // one recording at a time
    waitedForSharp_ = startWhenSharp_ && sharpNow_;
    if (waitedForSharp_ && restartSharp_) restartSharp_();
    waiting_ = request;
    const QString reason = waitReason();
    if (reason.isEmpty()) {
        waiting_.reset();
        return startCapture(request);
    }
    waitTimer_->start();
    setProgress(reason);
    emit waitingChanged(true);
    return waitedForSharp_ && !(capture_ && capture_->status().wheelMoving)
               ? CaptureStart::WaitingForSharp
               : CaptureStart::WaitingForWheel;
}

QString RecordingController::waitReason() const {
    if (capture_ && capture_->status().wheelMoving) return tr("Waiting for the filter wheel");
    if (waitedForSharp_ && !sharpNow_()) return tr(kWaitingForSharpText);
    return QString();
}

void RecordingController::watchWait() {
    if (!waiting_) {
        waitTimer_->stop();
        return;
    }
    const QString reason = waitReason();
    if (!reason.isEmpty()) {
        setProgress(reason);
        return;
    }
    const CaptureRequest request = *waiting_;
    waiting_.reset();
    waitTimer_->stop();
    setProgress(QString());
    emit waitingChanged(false);
    if (startCapture(request) == CaptureStart::Failed)
        emit failed(QString::fromStdString(lastError_));
}

CaptureStart RecordingController::startCapture(const CaptureRequest& request) {
    if (capture_ && request.exposureUs > 0) capture_->setExposureUs(request.exposureUs);
    if (factsSource_) facts_ = factsSource_();
    const FormatInfo& info = formatInfo(request.format);
    bool opened = false;
    if (info.sequence) {
        const std::string base = request.capturePath + info.extension;
        std::string path;
        if (observationNames_) {
            // Written under the name of its start and renamed after its middle at the close.
            const size_t slash = base.rfind('/');
            path = freeObservationPath(
                slash == std::string::npos ? std::string() : base.substr(0, slash),
                observationStem(toUtc(localNow(), facts_.utcOffsetSeconds), facts_.session.target,
                                facts_.filter) +
                    "-unfinished",
                info.observationExtension);
        } else {
            path = numberedName(base, nextRecordingNumber(base));
        }
        const CaptureStatus camera = capture_ ? capture_->status() : CaptureStatus{};
        opened =
            startRecording(request.format, path, camera.width, camera.height, request.colorCamera,
                           camera.depth, request.length, request.colorCamera);
        if (!opened) {
            // The fixed text first, then what the writer found out.
            const std::string reason = lastError_;
            lastError_ = tr("Error opening AVI/SER file").toStdString() +
                         (reason.empty() ? "" : "\n\n" + reason);
        }
    } else {
        opened = startStillSeries(request.format, request.capturePath + info.extension,
                                  request.length, request.colorCamera);
    }
    if (!opened) return CaptureStart::Failed;
    // Cut only now that the file is open: every frame recorded was exposed after the cut,
    // so no time stamp of a recording is earlier than the file's own start time.
    gate_.start(request.pauseMs, capture_ ? capture_->cutExposure() + 1 : 0);
    recordedSlot_ = capture_ ? capture_->status().filterSlot : 0;
    emit recordingStarted();
    return CaptureStart::Started;
}

void RecordingController::noteFilterInBeam(int32_t slot, const std::string& name) {
    if (state_ == WriterState::None || slot == recordedSlot_) return;
    recordedSlot_ = slot;
    noteSettingChange("Filter", name);
}

void RecordingController::cancel() {
    if (waiting_) {
        waiting_.reset();
        waitTimer_->stop();
        setProgress(QString());
        emit waitingChanged(false);
        return;
    }
    if (state_ == WriterState::None || ending_) return;
    // The camera is free at once, and the recording ends now.
    if (capture_) capture_->cutExposure();
    framesToGo_ = 0;
    finishIfOver();
}

// ---- the writer thread

bool RecordingController::writeOnWriterThread(FramePtr& frame) {
    const auto started = std::chrono::steady_clock::now();
    bool ok = true;
    // Every frame of a SER or AVI recording gets its figure (its side file lists them), and
    // every frame when only the sharpest are kept.
    const bool measure = sharpest_ || qualityFile_.isOpen();
    const double quality =
        measure ? frameQuality(frame->rawImage, {.mosaic = frame->pattern != ColorPattern::Mono,
                                                 .region = frame->qualityRegion})
                : 0;
    if (sharpest_) {
        std::vector<SharpestFrames::Judged> judged;
        sharpest_->add(std::move(frame), quality, judged);
        ok = writeJudgedOnWriterThread(judged);
    } else {
        ok = writeFrameOnWriterThread(*frame, quality);
    }
    nanosWriting_ += static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               std::chrono::steady_clock::now() - started)
                                               .count());
    return ok;
}

bool RecordingController::writeJudgedOnWriterThread(std::vector<SharpestFrames::Judged>& judged) {
    for (SharpestFrames::Judged& j : judged) {
        if (!writeFrameOnWriterThread(*j.frame, j.quality)) return false;
        j.frame.reset();  // its memory goes back to the budget before the next write
    }
    return true;
}

bool RecordingController::writeFrameOnWriterThread(Frame& frame, double quality) {
    if (!output_) return true;
    FrameWritten written;
    const auto cards = [this, &frame] {
        std::string header;
        appendSessionCards(header, facts_, frame.timeStamp, gain_.load());
        return header;
    };
    if (!output_->write(frame, cards, written)) {
        writerError_ = output_->error();
        return false;
    }
    if (qualityFile_.isOpen() &&
        !qualityFile_.append(framesWritten_.load(), toUtc(frame.timeStamp, facts_.utcOffsetSeconds),
                             quality)) {
        writerError_ = qualityFile_.error();
        return false;
    }
    if (sharpest_ || qualityFile_.isOpen()) qualities_.push_back(quality);
    if (firstFile_.empty()) firstFile_ = written.file;
    if (filesWritten_.empty() || filesWritten_.back() != written.file)
        filesWritten_.push_back(written.file);
    if (!firstStamp_) {
        // What the frames are, as the camera delivered them.
        firstStamp_ = frame.timeStamp;
        facts_.pattern = patternName(frame.pattern);
        facts_.depth = frameDepth(&frame);
    }
    lastStamp_ = frame.timeStamp;
    // Seconds from the first frame on: small numbers keep the microseconds in a double.
    stampsSeconds_.push_back(static_cast<double>(frame.timeStamp.ticks() - firstStamp_->ticks()) /
                             static_cast<double>(PreciseDateTime::kTicksPerSecond));
    bytesWritten_ += written.bytes;
    ++framesWritten_;
    return true;
}

bool RecordingController::closeOnWriterThread() {
    if (!output_) return true;
    // The last, partial second is judged like the others: its kept frames are written.
    bool flushed = true;
    if (sharpest_) {
        std::vector<SharpestFrames::Judged> judged;
        sharpest_->flush(judged);
        // After a failed write nothing more is written: the held frames go.
        if (!writer_->failed()) flushed = writeJudgedOnWriterThread(judged);
    }
    const std::string finalPath = finalRecordingPath();
    if (!output_->close(finalPath)) {
        writerError_ += (writerError_.empty() ? "" : "\n") + output_->error();
        qualityFile_.close(std::string());
        return false;
    }
    lastFile_ = output_->closedPath(firstFile_);
    if (qualityFile_.isOpen()) {
        // Renamed with its recording under observation names.
        const bool renamed = !finalPath.empty() && lastFile_ == finalPath;
        if (!qualityFile_.close(renamed ? qualityFilePath(finalPath) : std::string())) {
            writerError_ += (writerError_.empty() ? "" : "\n") + qualityFile_.error();
            flushed = false;
        }
        lastQualityFile_ = qualityFile_.path();
    }
    if (writeLog_) writeLogOnWriterThread();
    return flushed;
}

std::string RecordingController::selectionText() const {
    std::string text =
        sharpest_ ? "sharpest " + std::to_string(sharpest_->percent()) + " % of each second"
                  : "every frame";
    if (waitedForSharp_) text += ", started when the seeing was sharp";
    return text;
}

void RecordingController::markStopped() {
    uint64_t unset = 0;
    stopTime_.compare_exchange_strong(unset, (uint64_t{1} << 32) | monotonicMs());
}

// The camera's latest trouble when one was in force at the start or began since; "".
std::string RecordingController::troubleDuring(const CaptureStatus& camera) const {
    if (!troubledAtStart_ && camera.cameraTroubles == troublesAtStart_) return {};
    return camera.lastCameraTrouble.empty() ? "camera trouble" : camera.lastCameraTrouble;
}

std::pair<double, double> RecordingController::summaryFigures() const {
    // The added millisecond keeps the duration above zero.
    const double duration =
        static_cast<double>(static_cast<uint32_t>(stopTime_.load()) - startTime_ + 1u) / 1000.0;
    return {duration, framesWritten_.load() / duration};
}

std::string RecordingController::finalRecordingPath() const {
    if (!observationNames_ || !output_ || !isSequence(format_)) return std::string();
    const std::string provisional = output_->path();
    RecordingResult result;
    result.firstFrame = firstStamp_;
    result.lastFrame = lastStamp_;
    const LocalDateTime middle =
        toUtc(recordingMiddle(facts_, result), facts_.utcOffsetSeconds).dateTime();
    const size_t slash = provisional.rfind('/');
    return freeObservationPath(
        slash == std::string::npos ? std::string() : provisional.substr(0, slash),
        observationStem(middle, facts_.session.target, facts_.filter),
        formatInfo(format_).observationExtension);
}

void RecordingController::writeLogOnWriterThread() {
    RecordingResult result;
    result.file = lastFile_;
    result.files = output_->closedFiles(filesWritten_);
    result.format = formatName(format_);
    result.frames = framesWritten_.load();
    result.gaps = findGaps(stampsSeconds_);
    result.gaps.framesLost = writer_ ? writer_->framesLost() : 0;
    if (sharpest_) {
        result.gaps.keptPercent = sharpest_->percent();
        result.gaps.framesKept = sharpest_->kept();
        result.gaps.framesLeftOut = sharpest_->leftOut();
    }
    result.selection = selectionText();
    if (!qualities_.empty()) {
        result.qualityMedian = medianOf(qualities_);
        result.qualityBest = *std::max_element(qualities_.begin(), qualities_.end());
    }
    result.qualityFile = lastQualityFile_;
    if (capture_) {
        const CaptureStatus camera = capture_->status();
        result.gaps.failedExposures = camera.failedExposures - failedAtStart_;
        result.gaps.cameraTrouble = troubleDuring(camera);
    }
    result.firstFrame = firstStamp_;
    result.lastFrame = lastStamp_;
    result.endLocal = localNow();
    // A write that failed ends the recording here, before the window thread hears of it.
    markStopped();
    result.recordingStart = startLocal_;
    std::tie(result.recordingSeconds, result.recordingRate) = summaryFigures();
    {
        std::lock_guard<std::mutex> lock(changesMutex_);
        result.changes = changes_;
    }
    // A series without a file, or a recording whose file name is unknown, has no log.
    if (result.file.empty()) return;
    const std::string path = captureLogPath(result.file);
    std::string error;
    if (writeCaptureLog(path, captureLogText(facts_, result), error))
        lastLogPath_ = path;
    else
        qCWarning(lcRecording, "%s (no capture log)", error.c_str());
}

void RecordingController::noteSettingChange(const std::string& name, const std::string& value) {
    if (state_ == WriterState::None || ending_) return;
    if (name == "Gain") gain_ = std::atoi(value.c_str());
    std::lock_guard<std::mutex> lock(changesMutex_);
    changes_.push_back({localNow(), name, value});
}

bool RecordingController::chooseCodecForWriter(const std::vector<AviCodec>& offered,
                                               const std::string& partName, int32_t& fourcc) {
    // The chooser is a dialog of the window thread: ask there and wait for the answer.
    // Frames keep arriving meanwhile and wait in the queue (the camera held back when it
    // is full).
    std::unique_lock<std::mutex> lock(codecMutex_);
    codecRequest_ = CodecRequest{};
    codecRequest_.pending = true;
    codecRequest_.offered = offered;
    codecRequest_.partName = partName;
    lock.unlock();
    emit writerNeedsWindow();
    lock.lock();
    codecCv_.wait(lock, [this] { return codecRequest_.answered; });
    codecRequest_.pending = false;
    fourcc = codecRequest_.fourcc;
    return codecRequest_.accepted;
}

void RecordingController::answerCodecRequest(bool refuse) {
    CodecRequest request;
    {
        std::lock_guard<std::mutex> lock(codecMutex_);
        if (!codecRequest_.pending || codecRequest_.answered) return;
        request = codecRequest_;
    }
    // The dialog runs an event loop: frames, timers and wake-ups come back in here
    // meanwhile and must not ask a second time.
    if (answering_) return;
    answering_ = true;
    int32_t fourcc = 0;
    const bool accepted =
        !refuse && userChooser_ && userChooser_(request.offered, request.partName, fourcc);
    answering_ = false;
    {
        std::lock_guard<std::mutex> lock(codecMutex_);
        codecRequest_.answered = true;
        codecRequest_.accepted = accepted;
        codecRequest_.fourcc = fourcc;
    }
    codecCv_.notify_all();
}

// ---- the window thread

std::string RecordingController::settleWriter() {
    // The writer thread has ended: the writers are the window thread's again.
    std::string failure;
    writer_->join();
    const int64_t lost = writer_->framesLost();
    if (writer_->failed())
        failure = "Recording stopped after " + std::to_string(framesWritten_.load()) +
                  " frames:\n" + writerError_;
    else if (writer_->closeFailed())
        failure = writerError_;
    if (lost > 0)
        failure += (failure.empty() ? "" : "\n") + std::to_string(lost) +
                   " recorded frame(s) could not be written.";
    lastGaps_ = findGaps(stampsSeconds_);
    lastGaps_.framesLost = lost;
    if (sharpest_) {
        lastGaps_.keptPercent = sharpest_->percent();
        lastGaps_.framesKept = sharpest_->kept();
        lastGaps_.framesLeftOut = sharpest_->leftOut();
    }
    writer_.reset();
    if (state_ == WriterState::Avi) writers_.avi.setCodecChooser(userChooser_);
    output_.reset();
    if (!failure.empty()) lastError_ = failure;
    return failure;
}

bool RecordingController::close() {
    if (state_ == WriterState::None) return true;
    std::string failure;
    if (writer_) {
        writer_->finish();
        // The window thread waits for the disk here; a codec chooser wanted meanwhile
        // cannot be shown (the program may be on its way out) and counts as cancelled.
        while (!writer_->waitUntilEnded(20)) answerCodecRequest(true);
        failure = settleWriter();
    }
    state_ = WriterState::None;
    ending_ = false;
    endTimer_->stop();
    if (capture_) capture_->setRecording(false);
    emit recordingClosed();
    setProgress(QString());
    return failure.empty();
}

void RecordingController::finish(const std::string& failure) {
    std::string message = failure;
    const std::string closing = settleWriter();
    if (!closing.empty()) message += (message.empty() ? "" : "\n") + closing;
    state_ = WriterState::None;
    ending_ = false;
    if (capture_) capture_->setRecording(false);
    emit recordingClosed();
    setProgress(QString());
    const auto [duration, rate] = summaryFigures();
    if (capture_) {
        const CaptureStatus camera = capture_->status();
        lastGaps_.failedExposures = camera.failedExposures - failedAtStart_;
        lastGaps_.exposuresHeldBack = camera.exposuresHeldBack - heldBackAtStart_;
        lastGaps_.heldBackSeconds =
            static_cast<double>(camera.heldBackMs - heldBackMsAtStart_) / 1000.0;
        lastGaps_.cameraTrouble = troubleDuring(camera);
    }
    emit summaryReady(duration, rate);
    framesToGo_ = 0;
    if (!message.empty()) emit failed(QString::fromStdString(message));
}

void RecordingController::endRecording() {
    // No frame is taken from now on; the writer thread writes out the queue and closes.
    ending_ = true;
    markStopped();
    framesToGo_ = 0;
    endTimer_->stop();
    if (capture_) capture_->setRecording(false);
    if (writer_) writer_->finish();
    const int queued = framesQueued();
    if (queued > 0) setProgress(tr("Writing %1 queued frames").arg(queued));
}

bool RecordingController::completeIfEnded() {
    answerCodecRequest(false);
    if (!writer_ || !writer_->ended()) return false;
    // A failed write ends the recording at once, whatever was still to go.
    markStopped();
    finish(std::string());
    updateMemoryPanel(true);
    return true;
}

bool RecordingController::finishIfOver() {
    if (state_ == WriterState::None) return false;
    if (!ending_ && !isActive()) {
        endRecording();
        completeIfEnded();
        return true;
    }
    return completeIfEnded();
}

void RecordingController::waitForWriter() {
    if (!writer_) return;
    while (!writer_->waitUntilDrained(20)) answerCodecRequest(false);
    // A recording that stopped taking frames, or whose writer failed, closes its output.
    if (ending_ || writer_->failed())
        while (!writer_->waitUntilEnded(20)) answerCodecRequest(false);
    completeIfEnded();
}

void RecordingController::recordFrame(FramePtr frame) {
    if (state_ == WriterState::None) {
        setProgress(tr("Idle"));
    } else if (completeIfEnded()) {
        // The writer thread had ended (a failed write): the recording is over.
    } else if (ending_) {
        // Taking no frames: the queue is being written out.
    } else if (isActive()) {
        // A frame exposed before the recording's size was in force: not part of it.
        if (output_->fixedFrameSize() &&
            (frameWidth(frame.get()) != width_ || frameHeight(frame.get()) != height_))
            return;
        if (!gate_.admits(*frame, monotonicMs())) return;
        writer_->push(std::move(frame));
        ++framesDone_;
        if (framesToGo_ == kCountTimed) {
            const long long left = static_cast<int32_t>(endTime_ - monotonicMs()) / 1000;
            setProgress(tr("%1 s left, %2 frames").arg(left).arg(framesDone_));
        } else if (framesToGo_ == kCountContinuous) {
            setProgress(tr(kContinuousText));
        } else if (--framesToGo_ > 0) {
            setProgress(tr("%1 Frames left").arg(framesToGo_));
        } else {
            // The count is done: the next due frame ends the recording, or, should none
            // come soon (a camera that stopped answering, a long exposure), the end timer.
            endTimer_->start(kCountEndWaitMs);
        }
    } else {
        endRecording();
        completeIfEnded();
    }
    updateMemoryPanel();
}
