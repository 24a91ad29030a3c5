#include "acquisition/CaptureThread.h"

#include <pthread.h>
#include <sched.h>

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "acquisition/CameraLib.h"
#include "acquisition/Log.h"
#include "platform/DateTime.h"

namespace {
constexpr int64_t kMinExposureUs = 10;
constexpr int64_t kMaxExposureUs = 10'000'000;
constexpr uint32_t kRateWindowMs = 1000;

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Asks for real-time scheduling; false when the system refuses (no privilege).
bool raiseToRealTime() {
    const int lo = sched_get_priority_min(SCHED_FIFO);
    const int hi = sched_get_priority_max(SCHED_FIFO);
    if (lo < 0 || hi < 0) return false;
    sched_param param{};
    // High, but below the top so that kernel helpers at the top still run.
    param.sched_priority = std::max(lo, hi - 10);
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

// Buffers that a stalled camera was given and never gave back outlive their capture thread:
// the library may still write into them. They are kept here, reachable, until the process
// ends (process-wide by nature, like the camera library itself).
void keepUntilExit(std::vector<FramePtr> frames) {
    static std::mutex mutex;
    static auto* kept = new std::vector<FramePtr>;
    std::lock_guard<std::mutex> lock(mutex);
    for (FramePtr& frame : frames) kept->push_back(std::move(frame));
}

// The library's report on the exposure that just ended; a library without the entry point,
// or one that knows nothing, reports a good frame of unknown start.
TarviFrameInfo askFrameInfo(const TarviApi& api) {
    TarviFrameInfo info{};
    info.size = sizeof info;
    info.status = TARVI_FRAME_GOOD;
    info.subframeLeft = info.subframeTop = -1;
    if (!api.cameraFrameInfo) return info;
    TarviFrameInfo reported = info;
    if (api.cameraFrameInfo(&reported) != 1) return info;
    return reported;
}

// The library's report on its filter wheel; no positions when there is none.
TarviWheelState askWheel(const TarviApi& api) {
    TarviWheelState wheel{};
    wheel.size = sizeof wheel;
    if (!api.filterWheelState || api.filterWheelState(&wheel) != 1 || wheel.slotCount < 1) {
        wheel = TarviWheelState{};
        wheel.size = sizeof wheel;
    }
    return wheel;
}

// The library's word on the camera; false for a library without it or with nothing to say.
bool askHealth(const TarviApi& api, TarviCameraHealth& health) {
    health = TarviCameraHealth{};
    health.size = sizeof health;
    if (!api.cameraHealth || api.cameraHealth(&health) != 1) return false;
    health.text[sizeof health.text - 1] = '\0';
    return true;
}

// The name of a filter position; "Slot N" for one the wheel leaves unnamed.
std::string filterName(const TarviApi& api, int slot) {
    std::string name(64, '\0');
    int length = api.filterWheelName(slot, name.data(), static_cast<int>(name.size()));
    if (length >= static_cast<int>(name.size())) {
        name.assign(static_cast<size_t>(length) + 1, '\0');
        length = api.filterWheelName(slot, name.data(), static_cast<int>(name.size()));
    }
    name.resize(static_cast<size_t>(std::clamp(length, 0, static_cast<int>(name.size()) - 1)));
    if (slot > 0 && name.find_first_not_of(' ') == std::string::npos)
        name = "Slot " + std::to_string(slot);
    return name;
}

// The UTC clock in microseconds since 1970, the scale of the library's reports.
int64_t unixNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// A byte count in MiB for messages.
std::string mebibytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}
}  // namespace

// Marked for translation in the context "CaptureThread"; the window translates them.
const char* cameraStateText(CameraState state) {
    switch (state) {
        case CameraState::Stalled:
            return QT_TRANSLATE_NOOP("CaptureThread", "Camera not responding");
        case CameraState::Stopped:
            return QT_TRANSLATE_NOOP("CaptureThread", "Acquisition stopped");
        case CameraState::Throttled:
            return QT_TRANSLATE_NOOP("CaptureThread", "Display falling behind");
        case CameraState::DiskBehind:
            return QT_TRANSLATE_NOOP("CaptureThread", "Disk behind");
        default:
            return "";
    }
}

std::string buildStampText(const std::string& format, const std::string& prefix, LocalDateTime t) {
    std::string text = format.empty() ? std::string() : formatDateTime(format, t);
    const bool blankPrefix = std::all_of(prefix.begin(), prefix.end(), isBlank);
    if (!blankPrefix) text = prefix + " " + text;
    return text;
}

std::optional<double> cameraGainAt(const CaptureStatus& camera, int32_t percent) {
    if (camera.gainAtZero == camera.gainAtFull) return std::nullopt;
    const double share = std::clamp(percent, 0, 100) / 100.0;
    return camera.gainAtZero + share * (camera.gainAtFull - camera.gainAtZero);
}

int framesPerSecond(uint64_t frames, uint32_t elapsedMs) {
    if (elapsedMs == 0 || frames == 0) return 0;
    return static_cast<int>(frames * 1000 / elapsedMs);
}

CaptureThread::CaptureThread(PostFrameFn post) : post_(std::move(post)) {}

CaptureThread::~CaptureThread() {
    requestStop();
    // The loop's every wait is bounded and sliced, so the join ends soon after the stop
    // (at the latest after the running exposure plus the stall margin).
    if (thread_.joinable()) thread_.join();
    // The library may still write into these: they are never freed.
    keepUntilExit(std::move(abandoned_));
}

// ---- settings

void CaptureThread::setExposureUs(int64_t us) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.exposureUs = us;
}

void CaptureThread::setGain(int32_t gain) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.gain = gain;
}

void CaptureThread::sendGain() {
    std::lock_guard<std::mutex> lock(requestMutex_);
    ++gainSerial_;
}

void CaptureThread::setWhiteBalance(const WhiteBalance& balance) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    balance_ = balance;
    ++balanceSerial_;
}

void CaptureThread::setSubframe(int32_t width, int32_t height) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.width = width;
    request_.height = height;
}

void CaptureThread::setSubframeWidth(int32_t width) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.width = width;
}

void CaptureThread::setSubframeHeight(int32_t height) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.height = height;
}

void CaptureThread::setSubframeOrigin(int32_t left, int32_t top) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.left = left;
    request_.top = top;
}

void CaptureThread::setFlip(bool on) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.flip = on;
}

void CaptureThread::setDepth(int32_t bits) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    request_.depth = bits;
}

void CaptureThread::setFilterSlot(int32_t slot) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    filterSlot_ = slot;
    ++filterSerial_;
    std::lock_guard<std::mutex> statusLock(statusMutex_);
    // Moving from now on, so that a recording started next waits for the wheel.
    if (!status_.filterNames.empty()) status_.wheelMoving = true;
}

CaptureSettings CaptureThread::settings() const {
    std::lock_guard<std::mutex> lock(requestMutex_);
    return request_;
}

WhiteBalance CaptureThread::whiteBalance() const {
    std::lock_guard<std::mutex> lock(requestMutex_);
    return balance_;
}

void CaptureThread::setStamp(std::string format, std::string prefix) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    stampFormat_ = std::move(format);
    stampPrefix_ = std::move(prefix);
}

std::string CaptureThread::stampFormat() const {
    std::lock_guard<std::mutex> lock(requestMutex_);
    return stampFormat_;
}

// ---- commands

bool CaptureThread::openCamera() {
    if (!camera().complete()) return false;
    {
        std::lock_guard<std::mutex> lock(phaseMutex_);
        if (phase_ != Phase::Created) return status().cameraOpen;
        phase_ = Phase::Opening;
    }
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(phaseMutex_);
    phaseCv_.wait(lock, [this] { return phase_ != Phase::Opening; });
    return phase_ != Phase::Finished;
}

void CaptureThread::start() {
    if (started_) return;
    started_ = true;
    {
        std::lock_guard<std::mutex> lock(phaseMutex_);
        startRequested_ = true;
        // Without an open camera there is nothing to run.
        if (phase_ == Phase::Created) {
            std::lock_guard<std::mutex> statusLock(statusMutex_);
            status_.state = CameraState::Stopped;
        }
    }
    phaseCv_.notify_all();
}

void CaptureThread::requestStop() {
    {
        std::lock_guard<std::mutex> lock(phaseMutex_);
        running_ = false;
    }
    phaseCv_.notify_all();
}

bool CaptureThread::finished() const {
    std::lock_guard<std::mutex> lock(phaseMutex_);
    return phase_ == Phase::Created || phase_ == Phase::Finished;
}

bool CaptureThread::stop(uint32_t timeoutMs) {
    requestStop();
    {
        std::unique_lock<std::mutex> lock(phaseMutex_);
        if (phase_ == Phase::Created) return true;
        if (!phaseCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return phase_ == Phase::Finished; }))
            return false;
    }
    if (thread_.joinable()) thread_.join();
    return true;
}

void CaptureThread::setRecording(bool on) {
    recording_ = on;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.recording = on;
}

uint64_t CaptureThread::cutExposure() {
    std::lock_guard<std::mutex> lock(exposureStartMutex_);
    // The acquisition thread cancels this exposure if it is still running; every later
    // one is numbered and started after this lock is given back.
    cutTarget_ = exposuresStarted_;
    cutUnixUs_ = unixNowUs();
    // The length of the exposure under way: a capture command sets the recording's
    // exposure just before its cut, and a frame begun under the old one must still count
    // as begun before the cut.
    cutExposureUs_ = runningExposureUs_.load();
    return exposuresStarted_;
}

CaptureStatus CaptureThread::status() const {
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

// ---- the thread

void CaptureThread::setState(CameraState state) {
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.state = state;
}

void CaptureThread::markFinished() {
    setState(CameraState::Stopped);
    {
        std::lock_guard<std::mutex> lock(phaseMutex_);
        phase_ = Phase::Finished;
    }
    phaseCv_.notify_all();
}

bool CaptureThread::openOnThread() {
    const TarviApi& api = camera();
    setCameraRefusal({});
    if (api.openUSB(0) != 1) return false;
    int width = 0, height = 0;
    const char* name = api.getCameraInfo(&width, &height);
    // The thread starts on 8-bit frames of the full sensor: a camera whose frames do not fit
    // the budget even so is not used, and no frame of it takes memory.
    const std::string problem = budgetProblem(width, height, 8);
    if (!problem.empty()) {
        setCameraRefusal(problem);
        return false;
    }
    sensorWidth_ = width;
    sensorHeight_ = height;
    active_.width = width;
    active_.height = height;
    // The thread always starts on the full frame, whatever the subframe controls hold.
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        request_.width = width;
        request_.height = height;
    }
    // A camera without the depth entry point delivers 8 bits.
    cameraBits_ = api.cameraSampleDepth ? std::clamp(api.cameraSampleDepth(0), 8, 16) : 8;
    TarviSensorInfo sensor{};
    sensor.size = sizeof sensor;
    if (!api.cameraSensorInfo || api.cameraSensorInfo(&sensor) != 1) sensor = TarviSensorInfo{};
    sem_init(&doneSemaphore_, 0, 0);
    semaphoreMade_ = true;
    api.exposureSemaphore(&doneSemaphore_);
    controlHost_.open(api);
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.cameraOpen = true;
    status_.cameraName = name ? name : "";
    status_.sensorWidth = status_.width = width;
    status_.sensorHeight = status_.height = height;
    status_.cameraBits = cameraBits_;
    // Only sizes a sensor can have: a library's nonsense is not written into files.
    const auto pixel = [](double um) { return um > 0 && um < 1000 ? um : 0.0; };
    status_.pixelWidthUm = pixel(sensor.pixelWidthUm);
    status_.pixelHeightUm = pixel(sensor.pixelHeightUm);
    const bool gainKnown = std::isfinite(sensor.gainAtZero) && std::isfinite(sensor.gainAtFull);
    status_.gainAtZero = gainKnown ? sensor.gainAtZero : 0;
    status_.gainAtFull = gainKnown ? sensor.gainAtFull : 0;
    return true;
}

bool CaptureThread::waitForStart() {
    std::unique_lock<std::mutex> lock(phaseMutex_);
    phaseCv_.wait(lock, [this] { return startRequested_ || !running_; });
    if (!running_) return false;
    phase_ = Phase::Running;
    return true;
}

void CaptureThread::run() {
    const bool opened = openOnThread();
    // A camera that failed to open is closed before the opener hears of it: the library may
    // then be unloaded at once.
    if (!opened && closeAtEnd_) closeOnThread();
    {
        std::lock_guard<std::mutex> lock(phaseMutex_);
        phase_ = opened ? Phase::Opened : Phase::Finished;
    }
    phaseCv_.notify_all();
    if (!opened) {
        setState(CameraState::Stopped);
        return;
    }
    if (waitForStart()) exposureLoop();
    if (closeAtEnd_) closeOnThread();
    markFinished();
}

void CaptureThread::closeOnThread() {
    const TarviApi& api = camera();
    libraryClosed_ = api.cameraClose && api.cameraClose() == 1;
    controlHost_.clear();
}

void CaptureThread::reset() {
    if (!finished()) return;
    if (thread_.joinable()) thread_.join();
    keepUntilExit(std::move(abandoned_));
    abandoned_.clear();
    {
        std::lock_guard<std::mutex> lock(phaseMutex_);
        phase_ = Phase::Created;
        startRequested_ = false;
        running_ = true;
    }
    started_ = false;
    libraryClosed_ = false;
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        // A move asked of the old camera's wheel is not the new one's.
        filterSent_ = filterSerial_;
        // The new camera gets the white balance and the gain asked for.
        balanceSent_ = balanceSerial_ - 1;
        gainSent_ = gainSerial_ - 1;
    }
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_ = CaptureStatus{};
    }
    sensorWidth_ = sensorHeight_ = 0;
    cameraBits_ = 8;
    active_ = CaptureSettings{};
    lastExposureSent_ = -1;
    exposureInForce_ = 0;
    budgetRefusal_.clear();
    failed_ = 0;
    refused_ = false;
    healthAsked_ = false;
    rateWindowStart_ = 0;
    rateWindowFirst_ = 0;
    wheelTarget_ = 0;
    wheelMoving_ = false;
    moveFrom_ = steadyFrom_ = 0;
    lastWheelSlot_ = 0;
    settledUs_ = 0;
    wheelNames_ = 0;
    wheelKnown_ = false;
    captureFrame_.reset();
    nextCaptureFrame_.reset();
    controlHost_.clear();
}

int64_t exposureTakenUs(int64_t us) {
    us = std::clamp(us, kMinExposureUs, kMaxExposureUs);
    return camera().setExposureMicroseconds ? us : std::max<int64_t>((us + 500) / 1000, 1) * 1000;
}

// Sends the length (microseconds) when it changed and returns the length in force: itself
// for a library that takes microseconds, else rounded to whole milliseconds, at least 1.
int64_t CaptureThread::sendExposureLength(int64_t us) {
    us = std::clamp(us, kMinExposureUs, kMaxExposureUs);
    if (us == lastExposureSent_) return exposureInForce_;
    const TarviApi& api = camera();
    lastExposureSent_ = us;
    if (api.setExposureMicroseconds && api.setExposureMicroseconds(us) == 1) {
        exposureInForce_ = us;
    } else {
        const int32_t ms = static_cast<int32_t>(std::max<int64_t>((us + 500) / 1000, 1));
        api.setExposureLength(ms);
        exposureInForce_ = int64_t{ms} * 1000;
    }
    return exposureInForce_;
}

bool CaptureThread::timedWaitDone(uint32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    deadline.tv_sec += ms / 1000 + deadline.tv_nsec / 1000000000L;
    deadline.tv_nsec %= 1000000000L;
    while (sem_clockwait(&doneSemaphore_, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool CaptureThread::waitForBudget() {
    const uint64_t bytes = paddedStride(active_.width, active_.depth) *
                           static_cast<uint64_t>(std::max(active_.height, 0));
    FrameBudget::Hold shown = FrameBudget::Hold::None;
    const auto started = std::chrono::steady_clock::now();
    bool heldByQueue = false;
    for (FrameBudget::Hold hold; (hold = budget_->holds(bytes)) != FrameBudget::Hold::None;) {
        if (!running_) return false;
        if (hold != shown) {
            shown = hold;
            setState(hold == FrameBudget::Hold::Queue ? CameraState::DiskBehind
                                                      : CameraState::Throttled);
        }
        heldByQueue = heldByQueue || hold == FrameBudget::Hold::Queue;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs / 20));
    }
    if (shown != FrameBudget::Hold::None) setState(CameraState::Exposing);
    if (heldByQueue) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.exposuresHeldBack;
        status_.heldBackMs += static_cast<uint64_t>(waited.count());
    }
    return true;
}

bool CaptureThread::waitForExposureEnd(int64_t exposureUs, uint64_t number, bool* cancelled) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::microseconds(exposureUs) +
                          std::chrono::milliseconds(stallMarginMs_.load());
    bool stalled = false;
    bool cut = false;
    for (;;) {
        if (!cut && cutTarget_.load() == number) {
            cut = true;
            if (camera().cancelExposure) *cancelled = camera().cancelExposure() != 0;
        }
        if (timedWaitDone(cut ? kWaitSliceMs : kCutSliceMs)) {
            if (stalled) setState(CameraState::Exposing);
            return true;
        }
        if (!stalled && Clock::now() >= deadline) {
            stalled = true;
            setState(CameraState::Stalled);
            camera().cancelExposure();
        }
        // A healthy exposure is finished even when a stop was asked for meanwhile; a
        // stalled one is not waited for any longer.
        if (stalled && !running_) return false;
    }
}

void CaptureThread::deliver(FramePtr frame) {
    frame->holdBudget(budget_);
    if (post_) post_(std::move(frame));
}

FramePtr CaptureThread::newCaptureFrame() const {
    return newFrame(active_.width, active_.height, std::string(), active_.flip, active_.depth);
}

// Why frames of this size cannot be held within the frame budget; "" when they can.
std::string CaptureThread::budgetProblem(int32_t width, int32_t height, int32_t depth) const {
    const uint64_t bytes =
        paddedStride(std::max(width, 0), depth) * static_cast<uint64_t>(std::max(height, 0));
    if (budget_->fitsFrame(bytes)) return {};
    const uint64_t budget = budget_->totalLimit();
    return "frames of " + std::to_string(width) + " x " + std::to_string(height) + " x " +
           std::to_string(depth) + " bits (" + mebibytes(bytes) +
           ") do not fit the frame budget of " + mebibytes(budget) + ": the program holds " +
           std::to_string(FrameBudget::kFramesAlwaysHeld) +
           " frames at a time, so one may take at most " +
           mebibytes(budget / FrameBudget::kFramesAlwaysHeld);
}

// A request whose frames do not fit the budget is not taken as it is: 16-bit frames fall back
// to 8 bits, and frames that do not fit even so (the budget lowered after the camera opened)
// stay those in force. Each refusal is logged once.
void CaptureThread::keepWithinBudget(CaptureSettings& want) {
    const std::string problem = budgetProblem(want.width, want.height, want.depth);
    const bool fresh = problem != budgetRefusal_;
    budgetRefusal_ = problem;
    if (problem.empty()) return;
    if (want.depth == 16 && budgetProblem(want.width, want.height, 8).empty()) {
        want.depth = 8;
    } else {
        want.width = active_.width;
        want.height = active_.height;
        want.depth = active_.depth;
    }
    if (fresh)
        qCWarning(lcAcquisition, "%s; the camera delivers %d x %d x %d bits instead",
                  problem.c_str(), want.width, want.height, want.depth);
}

void CaptureThread::applySettings(bool recording) {
    const TarviApi& api = camera();
    CaptureSettings want;
    WhiteBalance balance;
    uint64_t balanceSerial = 0, gainSerial = 0;
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        want = request_;
        balance = balance_;
        balanceSerial = balanceSerial_;
        gainSerial = gainSerial_;
    }
    // White balance reaches the camera also while recording.
    if (balanceSerial != balanceSent_) {
        balanceSent_ = balanceSerial;
        api.setWhiteBalance(balance.blue, balance.green, balance.red);
    }
    if (!recording) {
        // The buffers are made with the active size, and the camera must write exactly
        // that size: keep requests inside the sensor.
        want.width = std::clamp(want.width, 1, std::max(sensorWidth_, 1));
        want.height = std::clamp(want.height, 1, std::max(sensorHeight_, 1));
        want.depth = want.depth == 16 && cameraBits_ > 8 ? 16 : 8;
        keepWithinBudget(want);
        if (want.depth != active_.depth && api.cameraSampleDepth &&
            api.cameraSampleDepth(want.depth) != 1)
            want.depth = active_.depth;  // refused: the buffers keep their size
        const bool changed = active_.width != want.width || active_.height != want.height ||
                             active_.depth != want.depth || active_.flip != want.flip;
        api.subframe(want.width, want.height);
        want.exposureUs = sendExposureLength(want.exposureUs);
        api.horizontalFlip(want.flip ? 1 : 0);
        api.setGain(want.gain);
        gainSent_ = gainSerial;
        active_ = want;
        if (changed) captureFrame_ = newCaptureFrame();
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.width = active_.width;
        status_.height = active_.height;
        status_.depth = active_.depth;
        status_.flip = active_.flip;
        status_.exposureUs = active_.exposureUs;
    } else if (gainSerial != gainSent_) {
        // The user released the gain slider during the recording.
        gainSent_ = gainSerial;
        api.setGain(want.gain);
    }
    // The subframe's place leaves the frames' size alone: it moves also while recording (a
    // tracker follows its target through a recording).
    if (api.subframeOrigin) api.subframeOrigin(want.left, want.top);
}

// After a control that changes the sensor size (binning): the new size, and frames of the
// whole of it, as after the open; the window sizes its subframe controls anew from the status.
void CaptureThread::readSensorSize() {
    int width = 0, height = 0;
    camera().getCameraInfo(&width, &height);
    if (width <= 0 || height <= 0 || (width == sensorWidth_ && height == sensorHeight_)) return;
    sensorWidth_ = width;
    sensorHeight_ = height;
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        request_.width = width;
        request_.height = height;
    }
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.sensorWidth = width;
    status_.sensorHeight = height;
}

void CaptureThread::noteExposureStarted(uint64_t number) {
    const uint32_t now = monotonicMs();
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.exposuresStarted = number;
    if (rateWindowFirst_ == 0) {
        rateWindowFirst_ = number;
        rateWindowStart_ = now;
        return;
    }
    const uint32_t elapsed = now - rateWindowStart_;
    if (elapsed >= kRateWindowMs) {
        status_.framesPerSecond = framesPerSecond(number - rateWindowFirst_, elapsed);
        rateWindowFirst_ = number;
        rateWindowStart_ = now;
    }
}

// Between exposures: sends a move asked for, follows the wheel (also when another program
// turns it) and publishes it. Frames are then marked by exposedWhileWheelMoved.
void CaptureThread::serviceWheel() {
    const TarviApi& api = camera();
    if (!api.filterWheelState) return;
    TarviWheelState wheel = askWheel(api);
    int32_t slot = 0;
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        slot = filterSlot_;
        serial = filterSerial_;
    }
    // Every exposure up to the one that just ended was over before a move sent now.
    const uint64_t next = exposuresStarted_ + 1;
    if (serial != filterSent_) {
        filterSent_ = serial;
        if (slot >= 1 && slot <= wheel.slotCount && (slot != wheel.slot || wheel.moving) &&
            api.filterWheelMove(slot) == 1) {
            if (!wheelMoving_) moveFrom_ = next;
            wheelMoving_ = true;
            wheel = askWheel(api);
        }
    }
    if (wheel.moving && !wheelMoving_) {
        // A move this thread did not ask for may have begun during the exposure just ended.
        wheelMoving_ = true;
        moveFrom_ = std::max<uint64_t>(exposuresStarted_, 1);
    } else if (!wheel.moving && wheelMoving_) {
        wheelMoving_ = false;
        steadyFrom_ = next;
        settledUs_ = wheel.settledUnixUs;
    } else if (!wheel.moving && lastWheelSlot_ != 0 && wheel.slot != lastWheelSlot_) {
        // A whole move by someone else between two looks, too quick to be seen moving: it
        // may have lain within the exposure just ended, and a frame the camera began before
        // now may have seen it.
        moveFrom_ = std::max<uint64_t>(exposuresStarted_, 1);
        steadyFrom_ = next;
        settledUs_ = std::max<int64_t>(wheel.settledUnixUs, unixNowUs());
    }
    lastWheelSlot_ = wheel.slot;
    publishWheel(wheel, wheelMoving_);
}

// Between exposures, at most every kHealthPeriodMs: publishes what the library says of the
// camera beyond its exposures (a stream far slower than the camera, the camera lost).
void CaptureThread::serviceHealth() {
    const uint32_t now = monotonicMs();
    if (healthAsked_ && now - healthAskedMs_ < kHealthPeriodMs) return;
    healthAsked_ = true;
    healthAskedMs_ = now;
    TarviCameraHealth health;
    if (!askHealth(camera(), health)) return;
    const std::string text = health.state == TARVI_HEALTH_GOOD ? std::string() : health.text;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.cameraTrouble = text;
    status_.cameraTroubles = health.troubles;
    if (!text.empty()) status_.lastCameraTrouble = text;
}

// After the camera refused an exposure (a lost camera its library is getting back): shown
// stalled, and a pause before the next request; false when a stop came meanwhile.
bool CaptureThread::pauseAfterRefusal() {
    if (!refused_) setState(CameraState::Stalled);
    refused_ = true;
    serviceHealth();
    for (uint32_t waited = 0; waited < kRefusedPauseMs; waited += kWaitSliceMs) {
        if (!running_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
    }
    return running_;
}

void CaptureThread::publishWheel(const TarviWheelState& wheel, bool moving) {
    const TarviApi& api = camera();
    const bool renamed = wheel.slotCount > 0 && (!wheelKnown_ || wheel.names != wheelNames_);
    std::vector<std::string> names;
    std::string wheelName;
    if (renamed) {
        wheelName = filterName(api, 0);
        for (int slot = 1; slot <= wheel.slotCount; ++slot) names.push_back(filterName(api, slot));
        wheelKnown_ = true;
        wheelNames_ = wheel.names;
    } else if (wheel.slotCount == 0) {
        wheelKnown_ = false;
    }
    std::lock_guard<std::mutex> lock(requestMutex_);
    std::lock_guard<std::mutex> statusLock(statusMutex_);
    if (renamed || static_cast<int>(status_.filterNames.size()) != wheel.slotCount) {
        status_.wheelName = wheelName;
        status_.filterNames = std::move(names);
    }
    status_.filterSlot = wheel.slot;
    // A move asked for and not yet sent counts as moving.
    status_.wheelMoving = !status_.filterNames.empty() && (moving || filterSerial_ != filterSent_);
}

// A frame numbered after the last cut whose exposure the camera had begun before it (a video
// stream's frame already under way, or one the library kept from before) takes the cut's own
// number, so that every frame numbered above a cut was exposed entirely after it. Only a start
// within one exposure (the longer of the one cut and this frame's) and a margin before the
// cut counts: a camera clock far behind this one's would otherwise keep every frame out.
bool CaptureThread::begunBeforeCut(uint64_t number, int64_t startUnixUs, int64_t exposureUs) const {
    constexpr int64_t kMarginUs = 2'000'000;
    const int64_t cut = cutUnixUs_.load();
    const int64_t longest = std::max(exposureUs, cutExposureUs_.load());
    return number > cutTarget_.load() && startUnixUs > 0 && startUnixUs < cut &&
           cut - startUnixUs <= longest + kMarginUs;
}

bool CaptureThread::exposedWhileWheelMoved(uint64_t number, int64_t startUnixUs) const {
    if (moveFrom_ == 0 || number < moveFrom_) return false;  // over before the last move began
    if (wheelMoving_ || number < steadyFrom_) return true;   // begun before it was seen still
    // An exposure the camera had begun before it was asked for (a video stream's frame) and
    // before the wheel settled.
    return startUnixUs > 0 && startUnixUs < settledUs_;
}

void CaptureThread::finishFrame(Frame& frame, const TarviFrameInfo& info) {
    // What the buffer holds: the library's report when it gives one, else 8 bits (or the
    // whole word) and the pattern the user's choice implies.
    const int word = frameDepth(&frame);
    frame.bitsPerSample = info.bitsPerSample > 0 ? std::clamp(info.bitsPerSample, 1, word) : word;
    if (!colorCamera_.load())
        frame.pattern = ColorPattern::Mono;
    else if (info.colorPattern == TARVI_PATTERN_UNKNOWN)
        frame.pattern = assumedPattern(frame.flipped);
    else
        frame.pattern = patternFromId(info.colorPattern);

    std::string format, prefix;
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        format = stampFormat_;
        prefix = stampPrefix_;
    }
    frame.stampText = buildStampText(format, prefix, frame.timeStamp.dateTime());
    const bool placed = info.subframeLeft >= 0 && info.subframeTop >= 0;
    frame.sensorLeft = placed ? info.subframeLeft : -1;
    frame.sensorTop = placed ? info.subframeTop : -1;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.frameLeft = frame.sensorLeft;
    status_.frameTop = frame.sensorTop;
}

void CaptureThread::exposureLoop() {
    const TarviApi& api = camera();
    setState(CameraState::Exposing);
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.realTime = raiseToRealTime();
    }

    bool exposing = false;  // captureFrame_ is in the library's hands
    try {
        captureFrame_ = newCaptureFrame();
        serviceWheel();
        focuser_.service(api);
        while (running_) {
            if (!waitForBudget()) break;
            const bool recording = recording_.load();
            // The camera's own controls first: one may change the sensor size, which the
            // subframe of applySettings then keeps within.
            if (controlHost_.service(api, recording, monotonicMs())) readSensorSize();
            applySettings(recording);

            if (!captureFrame_) {
                captureFrame_ = newCaptureFrame();
                // Out of memory: give the window thread time to free frames.
                if (!captureFrame_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }

            // A stray release left over from before would end this exposure before the
            // camera has written it.
            while (sem_trywait(&doneSemaphore_) == 0) {
            }
            uint64_t number = 0;
            bool refused = false;
            {
                std::lock_guard<std::mutex> lock(exposureStartMutex_);
                number = exposuresStarted_ + 1;
                exposuresStarted_ = number;
                captureFrame_->exposureNumber = number;
                // The exposure starts now, as far as the program can tell.
                captureFrame_->timeStamp = localNow();
                refused =
                    api.threadedExposure(frameData(captureFrame_.get()), 0, recording ? 0 : 1) != 1;
                // A refused exposure never began: its number goes to the next one.
                if (refused) exposuresStarted_ = number - 1;
                exposing = !refused;
            }
            if (refused) {
                if (!pauseAfterRefusal()) break;
                continue;
            }
            noteExposureStarted(number);
            nextCaptureFrame_ = newCaptureFrame();

            const int64_t us = std::clamp(active_.exposureUs, kMinExposureUs, kMaxExposureUs);
            runningExposureUs_ = us;
            bool cancelled = false;
            if (!waitForExposureEnd(us, number, &cancelled)) break;
            exposing = false;
            if (refused_) {
                refused_ = false;
                setState(CameraState::Exposing);
            }
            serviceHealth();

            FramePtr done = std::move(captureFrame_);
            captureFrame_ = std::move(nextCaptureFrame_);
            const TarviFrameInfo info = askFrameInfo(api);
            serviceWheel();
            focuser_.service(api);
            if (info.status != TARVI_FRAME_GOOD) {
                // A failed exposure left the buffer unfilled: it is neither shown nor
                // recorded, and the next exposure starts.
                std::lock_guard<std::mutex> lock(statusMutex_);
                status_.failedExposures = ++failed_;
                continue;
            }
            // The library's start, to its microsecond, on the local clock of the moment.
            if (info.startUnixUs > 0)
                done->timeStamp =
                    PreciseDateTime::fromUnixMicros(info.startUnixUs, utcOffsetSeconds());
            finishFrame(*done, info);
            done->cutShort = cancelled;
            done->filterMoving = exposedWhileWheelMoved(done->exposureNumber, info.startUnixUs);
            if (begunBeforeCut(done->exposureNumber, info.startUnixUs, us))
                done->exposureNumber = cutTarget_.load();
            deliver(std::move(done));
        }
    } catch (const std::exception& e) {
        // Any error ends acquisition for the rest of the run; the preview keeps its last frame.
        qCWarning(lcAcquisition, "acquisition stopped: %s", e.what());
    } catch (...) {
        qCWarning(lcAcquisition, "acquisition stopped: unknown error");
    }

    if (exposing) abandoned_.push_back(std::move(captureFrame_));
    captureFrame_.reset();
    nextCaptureFrame_.reset();
    // With an exposure still in the library's hands, its release may yet come: the
    // semaphore must stay valid for it.
    if (!exposing && semaphoreMade_) {
        sem_destroy(&doneSemaphore_);
        semaphoreMade_ = false;
    }
}
