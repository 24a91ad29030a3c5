#include "FakeCamera.h"

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "acquisition/CameraLib.h"

namespace tvtest {
namespace {
std::atomic<FakeCamera*> g_active{nullptr};

int64_t Ptr(const void* p) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(p));
}

bool IsPointerArg(const std::string& name, size_t index) {
    return (name == "GetCameraInfo") || (name == "ExposureSemaphore") ||
           (name == "ThreadedExposure" && index == 0);
}
}  // namespace

std::string CameraCall::Text() const {
    std::ostringstream out;
    out << name << '(';
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) out << ',';
        if (IsPointerArg(name, i))
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
    static int Call(CameraCall call, Effect effect) {
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
        return Call({"openUSB", {reserved}}, [](FakeCamera& f, Lock&) { return f.openResult_; });
    }
    static const char* GetCameraInfo(int* width, int* height) {
        FakeCamera* f = g_active.load();
        Call({"GetCameraInfo", {Ptr(width), Ptr(height)}}, [&](FakeCamera& c, Lock&) {
            if (width) *width = c.sensorWidth_;
            if (height) *height = c.sensorHeight_;
            return 1;
        });
        return f ? f->name_.c_str() : "";
    }
    static int ExposureSemaphore(sem_t* done) {
        return Call({"ExposureSemaphore", {Ptr(done)}}, [&](FakeCamera& f, Lock&) {
            f.done_ = done;
            return 1;
        });
    }
    static int ThreadedExposure(void* buffer, int reserved, int mode) {
        bool autoRelease = false;
        const int result =
            Call({"ThreadedExposure", {Ptr(buffer), reserved, mode}}, [&](FakeCamera& f, Lock&) {
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
            if (FakeCamera* f = g_active.load()) f->Release();
        }
        return result;
    }
    static int CancelExposure() {
        return Call({"CancelExposure", {}}, [](FakeCamera& f, Lock& lock) {
            if (!f.pending_) return 0;
            if (f.cancelReleases_) f.ReleaseLocked(lock);
            return 1;
        });
    }
    static int SetExposureLength(int ms) {
        return Call({"SetExposureLength", {ms}}, [](FakeCamera&, Lock&) { return 1; });
    }
    static int SetGain(int gain) {
        return Call({"SetGain", {gain}}, [](FakeCamera&, Lock&) { return 1; });
    }
    static int SetWhiteBalance(int blue, int green, int red) {
        return Call({"SetWhiteBalance", {blue, green, red}}, [](FakeCamera&, Lock&) { return 1; });
    }
    static int Subframe(int width, int height) {
        return Call({"Subframe", {width, height}}, [&](FakeCamera& f, Lock&) {
            f.width_ = width;
            f.height_ = height;
            return 1;
        });
    }
    // Not recorded: it only reads what the last release left.
    static int CameraFrameInfo(TarviFrameInfo* info) {
        FakeCamera* f = g_active.load();
        if (!f || !info) return 0;
        std::lock_guard<std::mutex> lock(f->mutex_);
        if (f->lastReleased_ < 0) return 0;
        info->status = f->lastFailed_ ? TARVI_FRAME_FAILED : TARVI_FRAME_GOOD;
        if (f->reportedStart_) info->startUnixUs = f->reportedStart_(f->lastReleased_);
        return 1;
    }
    static int HorizontalFlip(int on) {
        return Call({"HorizontalFlip", {on}}, [&](FakeCamera& f, Lock&) {
            f.flip_ = on != 0;
            return 1;
        });
    }
};

FakeCamera::FakeCamera(int width, int height, std::string name)
    : sensorWidth_(width),
      sensorHeight_(height),
      name_(std::move(name)),
      fill_(Gradient()),
      width_(width),
      height_(height) {}

FakeCamera::~FakeCamera() {
    FakeCamera* self = this;
    if (g_active.compare_exchange_strong(self, nullptr)) SetCameraApi(TarviApi{});
}

void FakeCamera::Install() {
    g_active = this;
    TarviApi api;
    api.openUSB = &FakeCameraEntry::openUSB;
    api.GetCameraInfo = &FakeCameraEntry::GetCameraInfo;
    api.ExposureSemaphore = &FakeCameraEntry::ExposureSemaphore;
    api.ThreadedExposure = &FakeCameraEntry::ThreadedExposure;
    api.CancelExposure = &FakeCameraEntry::CancelExposure;
    api.SetExposureLength = &FakeCameraEntry::SetExposureLength;
    api.SetGain = &FakeCameraEntry::SetGain;
    api.SetWhiteBalance = &FakeCameraEntry::SetWhiteBalance;
    api.Subframe = &FakeCameraEntry::Subframe;
    api.HorizontalFlip = &FakeCameraEntry::HorizontalFlip;
    api.CameraFrameInfo = &FakeCameraEntry::CameraFrameInfo;
    SetCameraApi(api);
}

void FakeCamera::SetOpenResult(int result) {
    std::lock_guard<std::mutex> lock(mutex_);
    openResult_ = result;
}
void FakeCamera::SetAutoRelease(bool on) {
    std::unique_lock<std::mutex> lock(mutex_);
    autoRelease_ = on;
    if (on && pending_) ReleaseLocked(lock);
}
void FakeCamera::SetCancelReleases(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelReleases_ = on;
}
void FakeCamera::SetFill(FillFn fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    fill_ = std::move(fn);
}
void FakeCamera::FailNextExposures(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    failNext_ = count;
}
void FakeCamera::SetReportedStart(std::function<int64_t(int)> start) {
    std::lock_guard<std::mutex> lock(mutex_);
    reportedStart_ = std::move(start);
}
void FakeCamera::SetCallHook(CallHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

FakeCamera::FillFn FakeCamera::Constant(uint8_t value) {
    return [value](int, int, int) { return value; };
}
FakeCamera::FillFn FakeCamera::Gradient() {
    return [](int x, int y, int frame) { return static_cast<uint8_t>(x + 3 * y + frame); };
}

void FakeCamera::ReleaseLocked(std::unique_lock<std::mutex>&) {
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

bool FakeCamera::ExposurePending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_ != nullptr;
}

bool FakeCamera::WaitForExposure(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return pending_ != nullptr; });
}

bool FakeCamera::Release() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!pending_) return false;
    ReleaseLocked(lock);
    return true;
}

bool FakeCamera::WaitAndRelease(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return pending_ != nullptr; }))
        return false;
    ReleaseLocked(lock);
    return true;
}

int FakeCamera::ExposuresStarted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exposures_;
}

sem_t* FakeCamera::Semaphore() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

std::vector<CameraCall> FakeCamera::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeCamera::CallNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& c : calls_) names.push_back(c.name);
    return names;
}

std::string FakeCamera::Trace(size_t from) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (size_t i = from; i < calls_.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += calls_[i].Text();
    }
    return out;
}

size_t FakeCamera::CallCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

int FakeCamera::CountOf(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& c : calls_) n += c.name == name;
    return n;
}

void FakeCamera::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

bool FakeCamera::WaitForCount(const std::string& name, int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        int n = 0;
        for (const auto& c : calls_) n += c.name == name;
        return n >= count;
    });
}

int FakeCamera::Width() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return width_;
}
int FakeCamera::Height() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return height_;
}
bool FakeCamera::Flipped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flip_;
}

}  // namespace tvtest
