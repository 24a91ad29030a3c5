#include "acquisition/CaptureThread.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>

#include "acquisition/CameraLib.h"
#include "platform/DateTime.h"

namespace {
constexpr int32_t kMinExposureMs = 1;
constexpr int32_t kMaxExposureMs = 10000;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Asks for real-time scheduling; false when the system refuses (no privilege).
bool RaiseToRealTime() {
    const int lo = sched_get_priority_min(SCHED_FIFO);
    const int hi = sched_get_priority_max(SCHED_FIFO);
    if (lo < 0 || hi < 0) return false;
    sched_param param{};
    // High, but below the top so that kernel helpers at the top still run.
    param.sched_priority = std::max(lo, hi - 10);
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace

namespace {
// Buffers that a stalled camera was given and never gave back outlive their capture thread:
// the library may still write into them. They are kept here, reachable, until the process
// ends (process-wide by nature, like the camera library itself).
void KeepUntilExit(std::vector<FramePtr> frames) {
    static std::mutex mutex;
    static auto* kept = new std::vector<FramePtr>;
    std::lock_guard<std::mutex> lock(mutex);
    for (FramePtr& frame : frames) kept->push_back(std::move(frame));
}
}  // namespace

const char* CameraStateText(CameraState state) {
    switch (state) {
        case CameraState::Stalled:
            return "Camera not responding";
        case CameraState::Stopped:
            return "Acquisition stopped";
        case CameraState::Throttled:
            return "Display falling behind";
        default:
            return "";
    }
}

std::string BuildStampText(const std::string& format, const std::string& prefix, TDateTime t) {
    std::string text = format.empty() ? std::string() : FormatDateTime(format, t);
    const bool blankPrefix = std::all_of(prefix.begin(), prefix.end(), IsBlank);
    if (!blankPrefix) text = prefix + " " + text;
    return text;
}

CaptureThread::CaptureThread(PostFrameFn post) : post_(std::move(post)) {}

CaptureThread::~CaptureThread() {
    Running = false;
    // The loop's every wait is bounded and sliced, so the join ends soon after Running
    // is cleared (at the latest after the running exposure plus StallMarginMs).
    if (thread_.joinable()) thread_.join();
    // The library may still write into these: they are never freed.
    KeepUntilExit(std::move(abandoned_));
}

bool CaptureThread::OpenCamera() {
    const TarviApi& api = Camera();
    CameraOpen = api.Complete() && api.openUSB(0) == 1;
    return CameraOpen;
}

void CaptureThread::RequestWhiteBalance(int32_t blue, int32_t green, int32_t red) {
    WbBlue = blue;
    WbGreen = green;
    WbRed = red;
    // Set last: the acquisition thread reads the three values only after taking this mark.
    WbPending.store(true, std::memory_order_release);
}

uint64_t CaptureThread::CutExposure() {
    std::lock_guard<std::mutex> lock(exposureStartMutex_);
    const TarviApi& api = Camera();
    if (api.CancelExposure) api.CancelExposure();
    return exposuresStarted_.load();
}

void CaptureThread::SendExposureLength(int32_t ms) {
    if (ms == lastExposureSent_) return;
    Camera().SetExposureLength(ms);
    lastExposureSent_ = ms;
}

void CaptureThread::Start() {
    if (started_) return;
    started_ = true;
    Recording = 0;
    suspended_ = false;
    thread_ = std::thread([this] { Execute(); });
}

bool CaptureThread::Suspended() const {
    return !started_ || suspended_.load();
}

void CaptureThread::MarkSuspended() {
    {
        std::lock_guard<std::mutex> lock(suspendMutex_);
        suspended_ = true;
    }
    suspendCv_.notify_all();
}

bool CaptureThread::StopAndWait(uint32_t timeoutMs) {
    Running = false;
    if (!started_) return true;
    {
        std::unique_lock<std::mutex> lock(suspendMutex_);
        if (!suspendCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return suspended_.load(); }))
            return false;
    }
    if (thread_.joinable()) thread_.join();
    return true;
}

bool CaptureThread::TimedWaitDone(uint32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    deadline.tv_sec += ms / 1000 + deadline.tv_nsec / 1000000000L;
    deadline.tv_nsec %= 1000000000L;
    while (sem_clockwait(&DoneSemaphore, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool CaptureThread::WaitForBudget() {
    bool throttled = false;
    while (budget_->inFlight() >= kMaxFramesInFlight) {
        if (!Running) return false;
        if (!throttled) {
            throttled = true;
            state_ = CameraState::Throttled;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs / 4));
    }
    if (throttled) state_ = CameraState::Exposing;
    return true;
}

bool CaptureThread::WaitForExposureEnd(uint32_t exposureMs) {
    using clock = std::chrono::steady_clock;
    const auto deadline =
        clock::now() + std::chrono::milliseconds(exposureMs + StallMarginMs.load());
    bool stalled = false;
    for (;;) {
        if (TimedWaitDone(kWaitSliceMs)) {
            if (stalled) state_ = CameraState::Exposing;
            return true;
        }
        if (!stalled && clock::now() >= deadline) {
            stalled = true;
            state_ = CameraState::Stalled;
            Camera().CancelExposure();
        }
        // A healthy exposure is finished even when Running is cleared meanwhile; a stalled
        // one is not waited for any longer.
        if (stalled && !Running) return false;
    }
}

void CaptureThread::Deliver(FramePtr frame) {
    frame->holdBudget(budget_);
    if (post_) post_(std::move(frame));
}

FramePtr CaptureThread::NewCaptureFrame() {
    return NewFrame(ActiveWidth, ActiveHeight, StampText.Get(), ActiveFlip, ActiveDepth);
}

void CaptureThread::ApplySettings() {
    const TarviApi& api = Camera();
    // The buffers are made with the active size, and the camera must write exactly that
    // size: keep requests inside the sensor.
    const int32_t width = std::clamp<int32_t>(RequestedWidth.load(), 1, SensorWidth.load());
    const int32_t height = std::clamp<int32_t>(RequestedHeight.load(), 1, SensorHeight.load());
    const int32_t depth = RequestedDepth.load() == 16 ? 16 : 8;
    const bool flip = RequestedFlip.load();
    const bool changed = ActiveHeight != height || ActiveWidth != width || ActiveDepth != depth ||
                         ActiveFlip != flip;
    ActiveWidth = width;
    ActiveHeight = height;
    api.Subframe(width, height);
    const int32_t ms = ExposureMs.load();
    SendExposureLength(ms);
    exposureInForce_ = ms;
    ActiveDepth = depth;
    ActiveFlip = flip;
    api.HorizontalFlip(flip ? 1 : 0);
    api.SetGain(Gain.load());
    if (changed) captureFrame_ = NewCaptureFrame();
}

void CaptureThread::Execute() {
    const TarviApi& api = Camera();
    if (!api.Complete()) {
        state_ = CameraState::Stopped;
        MarkSuspended();
        return;
    }
    int width = 0, height = 0;
    api.GetCameraInfo(&width, &height);
    SensorWidth = width;
    SensorHeight = height;
    RequestedWidth = width;
    ActiveWidth = width;
    RequestedHeight = height;
    ActiveHeight = height;
    FpsStart = TickMs();
    FrameCount = 0;
    exposureInForce_ = ExposureMs.load();
    RealTime = RaiseToRealTime();

    sem_init(&DoneSemaphore, 0, 0);
    api.ExposureSemaphore(&DoneSemaphore);
    state_ = CameraState::Exposing;

    bool exposing = false;  // captureFrame_ is in the library's hands
    try {
        captureFrame_ = NewCaptureFrame();
        while (Running) {
            if (!WaitForBudget()) break;

            if (WbPending.exchange(false, std::memory_order_acquire))
                api.SetWhiteBalance(WbBlue.load(), WbGreen.load(), WbRed.load());

            const int32_t recording = Recording.load();
            if (recording == 0) ApplySettings();

            StampText.Set(BuildStampText(StampFormat.Get(), StampPrefix.Get(), Now()));

            if (!captureFrame_) {
                captureFrame_ = NewCaptureFrame();
                // Out of memory: give the window thread time to free frames.
                if (!captureFrame_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }

            // A stray release left over from before would end this exposure before the
            // camera has written it.
            while (sem_trywait(&DoneSemaphore) == 0) {
            }
            {
                std::lock_guard<std::mutex> lock(exposureStartMutex_);
                captureFrame_->ExposureNumber = exposuresStarted_.load() + 1;
                exposuresStarted_.store(captureFrame_->ExposureNumber);
                api.ThreadedExposure(FrameData(captureFrame_.get()), 0, 1 - recording);
                exposing = true;
            }
            nextCaptureFrame_ = NewCaptureFrame();
            FrameCount.fetch_add(1, std::memory_order_relaxed);

            const int32_t ms = std::clamp(exposureInForce_, kMinExposureMs, kMaxExposureMs);
            if (!WaitForExposureEnd(static_cast<uint32_t>(ms))) break;
            exposing = false;

            FramePtr done = std::move(captureFrame_);
            captureFrame_ = std::move(nextCaptureFrame_);
            Deliver(std::move(done));
        }
    } catch (...) {
        // Any error ends acquisition for the rest of the run; the preview keeps its last frame.
    }

    if (exposing) abandoned_.push_back(std::move(captureFrame_));
    captureFrame_.reset();
    nextCaptureFrame_.reset();
    // With an exposure still in the library's hands, its release may yet come: the
    // semaphore must stay valid for it.
    if (!exposing) sem_destroy(&DoneSemaphore);
    state_ = CameraState::Stopped;
    MarkSuspended();
}
