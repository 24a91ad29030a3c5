// The simulated camera behind the ten camera functions: a planetary camera with a
// 1280 x 960 colour sensor (Bayer mosaic, 8 bits), whose exposures run on a worker thread
// of the library in real time.
#include <semaphore.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "Scene.h"

#pragma GCC visibility push(default)
#include "SimCam.h"
#include "acquisition/tarvidll.h"
#pragma GCC visibility pop

namespace {
using Clock = std::chrono::steady_clock;
using simcam::Readout;
using simcam::SceneKind;

constexpr const char* kCameraName = "SimCam SP-1280 simulated planetary camera";
constexpr int kDefaultExposureMs = 100;
constexpr int kDefaultGain = 10;
constexpr int kNeutralBalance = 127;
constexpr int kMaxMotion = 3;

struct CameraState {
    std::mutex mutex;
    std::condition_variable wake;

    // Settings, in force from the next exposure.
    int width = simcam::kSensorWidth;
    int height = simcam::kSensorHeight;
    bool flip = false;
    int exposureMs = kDefaultExposureMs;
    int gain = kDefaultGain;
    int balance[3] = {kNeutralBalance, kNeutralBalance, kNeutralBalance};  // blue, green, red
    SceneKind sceneKind = SceneKind::Planet;
    bool seeing = true;
    sem_t* done = nullptr;

    // The exposure.
    bool workerStarted = false;
    bool requested = false;
    bool busy = false;
    bool cancel = false;
    uint8_t* buffer = nullptr;
    size_t stride = 0;
    Readout readout;
    int readoutExposureMs = kDefaultExposureMs;
    bool readoutSeeing = true;
    SceneKind readoutScene = SceneKind::Planet;
    Clock::time_point start;
};

// Never destroyed: the worker thread is detached and may run until the process ends.
CameraState& State() {
    static CameraState* state = new CameraState;
    return *state;
}

// Output level per scene level: exposure 100 ms at gain 10 is 1, gain adds 1 decade per
// 50 steps, the balance scales each colour around the neutral 127.
void SetLevels(Readout& r, double exposureMs, int gain, const int balance[3]) {
    const double base =
        exposureMs / kDefaultExposureMs * std::pow(10.0, (gain - kDefaultGain) / 50.0);
    for (int c = 0; c < 3; ++c) r.gain[c] = base * balance[c] / kNeutralBalance;
}

void PostDone(sem_t* done) {
    if (!done) return;
    int value = 0;
    // The semaphore counts to 1 at most.
    if (sem_getvalue(done, &value) == 0 && value >= 1) return;
    sem_post(done);
}

void Worker() {
    CameraState& s = State();
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> stepDist(-1, 1);
    int dx = 0, dy = 0;
    std::shared_ptr<simcam::Scene> scene;
    SceneKind sceneKind = SceneKind::Planet;

    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.requested; });
        s.requested = false;
        const auto end = s.start + std::chrono::milliseconds(s.readoutExposureMs);
        s.wake.wait_until(lock, end, [&] { return s.cancel; });
        const bool cancelled = s.cancel;
        const double elapsedMs =
            std::chrono::duration<double, std::milli>(Clock::now() - s.start).count();
        Readout r = s.readout;
        uint8_t* buffer = s.buffer;
        const size_t stride = s.stride;
        const bool seeing = s.readoutSeeing;
        const SceneKind kind = s.readoutScene;
        const int exposureMs = s.readoutExposureMs;
        lock.unlock();

        if (!scene || kind != sceneKind) {
            scene = std::make_shared<simcam::Scene>(simcam::BuildScene(kind));
            sceneKind = kind;
        }
        if (cancelled) {
            // A cancelled exposure holds the light gathered so far.
            const double part = std::clamp(elapsedMs / exposureMs, 0.0, 1.0);
            for (double& g : r.gain) g *= part;
        }
        if (seeing) {
            // Atmospheric seeing: the image wanders by a pixel or so from frame to frame.
            dx = std::clamp(dx + stepDist(rng), -kMaxMotion, kMaxMotion);
            dy = std::clamp(dy + stepDist(rng), -kMaxMotion, kMaxMotion);
            r.dx = dx;
            r.dy = dy;
        }
        simcam::RenderMosaic(*scene, r, buffer, stride, rng);

        lock.lock();
        s.busy = false;
        s.cancel = false;
        sem_t* done = s.done;
        lock.unlock();
        PostDone(done);
        lock.lock();
    }
}
}  // namespace

extern "C" {

int openUSB(int /*reserved*/) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.width = simcam::kSensorWidth;
    s.height = simcam::kSensorHeight;
    s.flip = false;
    s.exposureMs = kDefaultExposureMs;
    s.gain = kDefaultGain;
    std::fill(std::begin(s.balance), std::end(s.balance), kNeutralBalance);
    return 1;
}

const char* GetCameraInfo(int* width, int* height) {
    if (width) *width = simcam::kSensorWidth;
    if (height) *height = simcam::kSensorHeight;
    return kCameraName;
}

int ExposureSemaphore(sem_t* done) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.done = done;
    return 1;
}

int ThreadedExposure(void* buffer, int /*reserved*/, int /*mode*/) {
    if (!buffer) return 0;
    CameraState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.busy) return 0;
        if (!s.workerStarted) {
            std::thread(Worker).detach();
            s.workerStarted = true;
        }
        Readout r;
        r.width = s.width;
        r.height = s.height;
        r.flip = s.flip;
        SetLevels(r, s.exposureMs, s.gain, s.balance);
        if (s.seeing) {
            r.bias = 4;
            r.noiseSigma = 0.8 + 0.04 * s.gain;
        }
        s.readout = r;
        s.readoutExposureMs = s.exposureMs;
        s.readoutSeeing = s.seeing;
        s.readoutScene = s.sceneKind;
        s.buffer = static_cast<uint8_t*>(buffer);
        s.stride = (static_cast<size_t>(s.width) + 3) & ~static_cast<size_t>(3);
        s.start = Clock::now();
        s.busy = true;
        s.cancel = false;
        s.requested = true;
    }
    s.wake.notify_all();
    return 1;
}

int CancelExposure(void) {
    CameraState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.busy) return 0;
        s.cancel = true;
    }
    s.wake.notify_all();
    return 1;
}

int SetExposureLength(int ms) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.exposureMs = std::clamp(ms, 1, 10000);
    return 1;
}

int SetGain(int gain) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.gain = std::clamp(gain, 0, 100);
    return 1;
}

int SetWhiteBalance(int blue, int green, int red) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.balance[0] = std::clamp(blue, 0, 255);
    s.balance[1] = std::clamp(green, 0, 255);
    s.balance[2] = std::clamp(red, 0, 255);
    return 1;
}

int Subframe(int width, int height) {
    if (width < 1 || height < 1 || width > simcam::kSensorWidth || height > simcam::kSensorHeight)
        return 0;
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.width = width;
    s.height = height;
    return 1;
}

int HorizontalFlip(int on) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.flip = on != 0;
    return 1;
}

int SimCamConfigure(int scene, int seeing) {
    if (scene != 0 && scene != 1) return 0;
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sceneKind = static_cast<SceneKind>(scene);
    s.seeing = seeing != 0;
    return 1;
}

}  // extern "C"
