// The simulated camera behind the ten camera functions: a planetary camera with a
// 1280 x 960 colour sensor (Bayer mosaic, blue at the top left; 12-bit samples, or 8 bits
// until the program asks for 16-bit words; the camera options sensor=WxH, up to 6248 x 4176,
// and depth=8..16 change them), whose exposures run on the worker thread of the library
// (drivers/common) in real time.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <random>
#include <string>

#include "CameraCommon.h"
#include "Scene.h"

#pragma GCC visibility push(default)
#include "SimCam.h"
#include "tarvidll.h"
#pragma GCC visibility pop

namespace {
using simcam::Readout;
using simcam::SceneKind;

constexpr const char* kCameraName = "SimCam SP-1280 simulated planetary camera";
constexpr int kDefaultExposureMs = 100;
constexpr int kDefaultGain = 10;
constexpr int kNeutralBalance = 127;
constexpr int kMaxMotion = 3;

// What SimCamConfigure chose; guarded by camera::Lock().
SceneKind g_sceneKind = SceneKind::Planet;
bool g_seeing = true;
int g_bits = 12;          // the sensor's depth, camera option "depth"
std::string g_lastError;  // why the last camera option was refused

// Used by the fills only, which run one after the other on the worker thread.
struct Sky {
    std::mt19937 rng{std::random_device{}()};
    int dx = 0, dy = 0;
    std::shared_ptr<simcam::Scene> scene;
    SceneKind sceneKind = SceneKind::Planet;
};

Sky& theSky() {
    static Sky* sky = new Sky;  // never destroyed, like the worker thread
    return *sky;
}

// Output level per scene level: exposure 100 ms at gain 10 is 1, gain adds 1 decade per
// 50 steps, the balance scales each colour around the neutral 127.
void setLevels(Readout& r, double exposureMs, int gain, const int balance[3]) {
    const double base =
        exposureMs / kDefaultExposureMs * std::pow(10.0, (gain - kDefaultGain) / 50.0);
    for (int c = 0; c < 3; ++c) r.gain[c] = base * balance[c] / kNeutralBalance;
}

// A number of decimal digits only, read up to kHuge (a longer one reads as kHuge, which every
// range check refuses); -1 for anything else.
int decimal(const std::string& text) {
    constexpr int kHuge = 1'000'000'000;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    int64_t n = 0;
    for (const char c : text) n = std::min<int64_t>(kHuge, n * 10 + (c - '0'));
    return static_cast<int>(n);
}

// Takes the option; why it is refused, "" when it was taken. Called with the lock held.
std::string optionProblem(const std::string& key, const std::string& value) {
    if (key == "sensor") {
        const size_t x = value.find('x');
        const int width = x == std::string::npos ? -1 : decimal(value.substr(0, x));
        const int height = x == std::string::npos ? -1 : decimal(value.substr(x + 1));
        if (width < 0 || height < 0)
            return "sensor: '" + value + "' is not WIDTHxHEIGHT (for example sensor=1280x960)";
        if (camera::exposureRunning()) return "sensor: cannot change during an exposure";
        if (!simcam::setSensorSize(width, height))
            return "sensor: " + value + " is outside " + std::to_string(simcam::kMinSensorSide) +
                   " x " + std::to_string(simcam::kMinSensorSide) + " to " +
                   std::to_string(simcam::kMaxSensorWidth) + " x " +
                   std::to_string(simcam::kMaxSensorHeight);
        return {};
    }
    if (key == "depth") {
        const int bits = decimal(value);
        if (bits < 0) return "depth: '" + value + "' is not a number of bits (8 to 16)";
        if (bits < 8 || bits > 16) return "depth: " + value + " is outside 8 to 16";
        g_bits = bits;
        return {};
    }
    return "unknown option '" + key + "' (the simulated camera takes sensor=WxH, depth=8..16)";
}

// Renders the exposure after it ended, with the light gathered until then.
camera::FillResult fill(camera::Exposure& exposure, Readout r, SceneKind kind, bool seeing) {
    Sky& sky = theSky();
    const double part = exposure.waitForEnd();
    if (!sky.scene || kind != sky.sceneKind ||
        sky.scene->width != simcam::sensorWidth() + 2 * simcam::kMargin ||
        sky.scene->height != simcam::sensorHeight() + 2 * simcam::kMargin) {
        sky.scene = std::make_shared<simcam::Scene>(simcam::buildScene(kind));
        sky.sceneKind = kind;
    }
    for (double& g : r.gain) g *= part;  // a cancelled exposure holds the light so far
    if (seeing) {
        // Atmospheric seeing: the image wanders by a pixel or so from frame to frame.
        std::uniform_int_distribution<int> step(-1, 1);
        sky.dx = std::clamp(sky.dx + step(sky.rng), -kMaxMotion, kMaxMotion);
        sky.dy = std::clamp(sky.dy + step(sky.rng), -kMaxMotion, kMaxMotion);
        r.dx = sky.dx;
        r.dy = sky.dy;
    }
    simcam::renderMosaic(*sky.scene, r, exposure.buffer(), exposure.stride(), sky.rng);
    return {true, r.bits, simcam::readoutPattern(r)};
}
}  // namespace

namespace camera {

void maxSubframe(int* width, int* height) {
    *width = simcam::sensorWidth();
    *height = simcam::sensorHeight();
}

FillFunction beginExposure(const Settings& s) {
    Readout r;
    r.width = s.width;
    r.height = s.height;
    r.flip = s.flip;
    r.depth = s.depth;
    r.bits = s.depth == 16 ? s.maxBits : 8;
    setLevels(r, s.exposureMs, s.gain, s.balance);
    if (g_seeing) {
        r.bias = 4;
        r.noiseSigma = 0.8 + 0.04 * s.gain;
    }
    return [r, kind = g_sceneKind, seeing = g_seeing](Exposure& exposure) {
        return fill(exposure, r, kind, seeing);
    };
}

}  // namespace camera

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int openUSB(int /*reserved*/) {
    auto lock = camera::lockCamera();
    camera::Settings& s = camera::current();
    s.width = simcam::sensorWidth();
    s.height = simcam::sensorHeight();
    s.flip = false;
    s.maxBits = g_bits;
    s.depth = 8;
    s.exposureMs = kDefaultExposureMs;
    s.gain = kDefaultGain;
    std::fill(std::begin(s.balance), std::end(s.balance), kNeutralBalance);
    return 1;
}

const char* GetCameraInfo(int* width, int* height) {
    if (width) *width = simcam::sensorWidth();
    if (height) *height = simcam::sensorHeight();
    return kCameraName;
}

// sensor=WxH: the sensor size from the next openUSB on; depth=N: the sensor delivers N-bit
// samples, 8 to 16. A refused option says why through CameraLastError.
int CameraOption(const char* key, const char* value) try {
    auto lock = camera::lockCamera();
    g_lastError = optionProblem(key ? key : "", value ? value : "");
    return g_lastError.empty() ? 1 : 0;
} catch (const std::exception&) {
    return 0;  // no memory for the reason
}

const char* CameraLastError(void) {
    static thread_local std::string copy;
    auto lock = camera::lockCamera();
    copy = g_lastError;
    return copy.c_str();  // the caller's own copy, valid until its next call
}

int SimCamConfigure(int scene, int seeing) {
    if (scene != 0 && scene != 1) return 0;
    auto lock = camera::lockCamera();
    g_sceneKind = static_cast<SceneKind>(scene);
    g_seeing = seeing != 0;
    return 1;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
