#include "FakeCamera.h"

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "acquisition/CameraLib.h"

namespace tvtest {
namespace {
std::atomic<FakeCamera*> g_active{nullptr};

int64_t ptr(const void* p) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(p));
}

bool isPointerArg(const std::string& name, size_t index) {
    return (name == "GetCameraInfo") || (name == "ExposureSemaphore") ||
           (name == "ThreadedExposure" && index == 0);
}
}  // namespace

std::string CameraCall::text() const {
    std::ostringstream out;
    out << name << '(';
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) out << ',';
        if (isPointerArg(name, i))
            out << '*';
        else
            out << args[i];
    }
    out << ')';
    return out.str();
}

// The ten entry points: each forwards to the installed fake.
struct FakeCameraEntry {
    using Lock = std::unique_lock<std::mutex>;

    // Records the call, applies `effect` under the fake's lock, then runs the hook.
    template <typename Effect>
    static int call(CameraCall call, Effect effect) {
        FakeCamera* f = g_active.load();
        if (!f) return 0;
        FakeCamera::CallHook hook;
        int result = 0;
        call.thread = std::this_thread::get_id();
        CameraCall copy = call;
        {
            Lock lock(f->mutex_);
            f->calls_.push_back(std::move(call));
            result = effect(*f, lock);
            hook = f->hook_;
        }
        f->changed_.notify_all();
        if (hook) hook(copy);
        return result;
    }

    static int openUSB(int reserved) {
        return call({"openUSB", {reserved}}, [](FakeCamera& f, Lock&) { return f.openResult_; });
    }
    static const char* getCameraInfo(int* width, int* height) {
        FakeCamera* f = g_active.load();
        call({"GetCameraInfo", {ptr(width), ptr(height)}}, [&](FakeCamera& c, Lock&) {
            if (width) *width = c.sensorWidth_;
            if (height) *height = c.sensorHeight_;
            return 1;
        });
        return f ? f->name_.c_str() : "";
    }
    static int exposureSemaphore(sem_t* done) {
        return call({"ExposureSemaphore", {ptr(done)}}, [&](FakeCamera& f, Lock&) {
            f.done_ = done;
            return 1;
        });
    }
    static int threadedExposure(void* buffer, int reserved, int mode) {
        bool autoRelease = false;
        const int result =
            call({"ThreadedExposure", {ptr(buffer), reserved, mode}}, [&](FakeCamera& f, Lock&) {
                if (!buffer || f.pending_) return 0;
                f.pending_ = static_cast<uint8_t*>(buffer);
                f.pendingWidth_ = f.width_;
                f.pendingHeight_ = f.height_;
                ++f.exposures_;
                autoRelease = f.autoRelease_;
                return 1;
            });
        if (autoRelease) {
            // A short exposure: the acquisition thread may run at real-time priority and
            // must not be kept in a busy loop by a camera that answers at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (FakeCamera* f = g_active.load()) f->release();
        }
        return result;
    }
    static int cancelExposure() {
        return call({"CancelExposure", {}}, [](FakeCamera& f, Lock& lock) {
            if (!f.pending_) return 0;
            if (f.cancelReleases_) f.releaseLocked(lock);
            return 1;
        });
    }
    static int setExposureLength(int ms) {
        return call({"SetExposureLength", {ms}}, [](FakeCamera&, Lock&) { return 1; });
    }
    static int setGain(int gain) {
        return call({"SetGain", {gain}}, [](FakeCamera&, Lock&) { return 1; });
    }
    static int setWhiteBalance(int blue, int green, int red) {
        return call({"SetWhiteBalance", {blue, green, red}}, [](FakeCamera&, Lock&) { return 1; });
    }
    static int subframe(int width, int height) {
        return call({"Subframe", {width, height}}, [&](FakeCamera& f, Lock&) {
            f.width_ = width;
            f.height_ = height;
            return 1;
        });
    }
    // Not recorded: it only reads what the last release left.
    static int cameraFrameInfo(TarviFrameInfo* info) {
        FakeCamera* f = g_active.load();
        if (!f || !info) return 0;
        std::lock_guard<std::mutex> lock(f->mutex_);
        if (f->lastReleased_ < 0) return 0;
        info->status = f->lastFailed_ ? TARVI_FRAME_FAILED : TARVI_FRAME_GOOD;
        if (f->reportedStart_) info->startUnixUs = f->reportedStart_(f->lastReleased_);
        return 1;
    }
    static int horizontalFlip(int on) {
        return call({"HorizontalFlip", {on}}, [&](FakeCamera& f, Lock&) {
            f.flip_ = on != 0;
            return 1;
        });
    }
};

FakeCamera::FakeCamera(int width, int height, std::string name)
    : sensorWidth_(width),
      sensorHeight_(height),
      name_(std::move(name)),
      fill_(gradient()),
      width_(width),
      height_(height) {}

FakeCamera::~FakeCamera() {
    FakeCamera* self = this;
    if (g_active.compare_exchange_strong(self, nullptr)) setCameraApi(TarviApi{});
}

void FakeCamera::install() {
    g_active = this;
    TarviApi api;
    api.openUSB = &FakeCameraEntry::openUSB;
    api.getCameraInfo = &FakeCameraEntry::getCameraInfo;
    api.exposureSemaphore = &FakeCameraEntry::exposureSemaphore;
    api.threadedExposure = &FakeCameraEntry::threadedExposure;
    api.cancelExposure = &FakeCameraEntry::cancelExposure;
    api.setExposureLength = &FakeCameraEntry::setExposureLength;
    api.setGain = &FakeCameraEntry::setGain;
    api.setWhiteBalance = &FakeCameraEntry::setWhiteBalance;
    api.subframe = &FakeCameraEntry::subframe;
    api.horizontalFlip = &FakeCameraEntry::horizontalFlip;
    api.cameraFrameInfo = &FakeCameraEntry::cameraFrameInfo;
    setCameraApi(api);
}

void FakeCamera::setOpenResult(int result) {
    std::lock_guard<std::mutex> lock(mutex_);
    openResult_ = result;
}
void FakeCamera::setAutoRelease(bool on) {
    std::unique_lock<std::mutex> lock(mutex_);
    autoRelease_ = on;
    if (on && pending_) releaseLocked(lock);
}
void FakeCamera::setCancelReleases(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelReleases_ = on;
}
void FakeCamera::setFill(FillFn fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    fill_ = std::move(fn);
}
void FakeCamera::failNextExposures(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    failNext_ = count;
}
void FakeCamera::setReportedStart(std::function<int64_t(int)> start) {
    std::lock_guard<std::mutex> lock(mutex_);
    reportedStart_ = std::move(start);
}
void FakeCamera::setCallHook(CallHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

FakeCamera::FillFn FakeCamera::constant(uint8_t value) {
    return [value](int, int, int) { return value; };
}
FakeCamera::FillFn FakeCamera::gradient() {
    return [](int x, int y, int frame) { return static_cast<uint8_t>(x + 3 * y + frame); };
}

void FakeCamera::releaseLocked(std::unique_lock<std::mutex>&) {
    if (!pending_) return;
    lastReleased_ = exposures_ - 1;
    lastFailed_ = failNext_ > 0;
    if (lastFailed_) --failNext_;
    if (fill_ && !lastFailed_) {
        const size_t stride = (static_cast<size_t>(pendingWidth_) + 3) & ~static_cast<size_t>(3);
        const int frame = exposures_ - 1;
        for (int y = 0; y < pendingHeight_; ++y) {
            uint8_t* row = pending_ + static_cast<size_t>(y) * stride;
            for (int x = 0; x < pendingWidth_; ++x) row[x] = fill_(x, y, frame);
        }
    }
    pending_ = nullptr;
    if (done_) {
        int value = 0;
        if (sem_getvalue(done_, &value) == 0 && value < 1) sem_post(done_);
    }
    changed_.notify_all();
}

bool FakeCamera::exposurePending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_ != nullptr;
}

bool FakeCamera::waitForExposure(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return pending_ != nullptr; });
}

bool FakeCamera::release() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!pending_) return false;
    releaseLocked(lock);
    return true;
}

bool FakeCamera::waitAndRelease(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return pending_ != nullptr; }))
        return false;
    releaseLocked(lock);
    return true;
}

int FakeCamera::exposuresStarted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exposures_;
}

sem_t* FakeCamera::semaphore() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

std::vector<CameraCall> FakeCamera::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeCamera::callNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& c : calls_) names.push_back(c.name);
    return names;
}

std::string FakeCamera::trace(size_t from) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (size_t i = from; i < calls_.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += calls_[i].text();
    }
    return out;
}

size_t FakeCamera::callCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

int FakeCamera::countOf(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& c : calls_) n += c.name == name;
    return n;
}

void FakeCamera::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

bool FakeCamera::waitForCount(const std::string& name, int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        int n = 0;
        for (const auto& c : calls_) n += c.name == name;
        return n >= count;
    });
}

int FakeCamera::width() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return width_;
}
int FakeCamera::height() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return height_;
}
bool FakeCamera::flipped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flip_;
}

}  // namespace tvtest
