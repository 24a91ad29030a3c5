// The simulated camera behind the ten camera functions: a planetary camera with a
// 1280 x 960 colour sensor (Bayer mosaic, blue at the top left; 12-bit samples, or 8 bits
// until the program asks for 16-bit words; the camera options sensor=WxH, up to 6248 x 4176,
// and depth=8..16 change them), whose exposures run on the worker thread of the library
// (drivers/common) in real time. With render=cached it renders 16 frames once and hands
// them out in turn, so that the simulator's rendering no longer takes a core while the
// program's own pace is measured.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

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
// Frames of render=cached: enough that the noise and the image motion do not look frozen.
constexpr int kCachedFrames = 16;

// How an exposure gets its picture: rendered after it ended (live), or copied from frames
// rendered beforehand (cached).
enum class Render { Live, Cached };

// What SimCamConfigure and the camera options chose; guarded by camera::Lock().
SceneKind g_sceneKind = SceneKind::Planet;
bool g_seeing = true;
int g_bits = 12;                 // the sensor's depth, camera option "depth"
Render g_render = Render::Live;  // camera option "render"
int g_opened = 0;                // openUSB calls so far: each open renders the cache anew
std::string g_lastError;         // why the last camera option was refused

// What the cached frames were rendered for; any change renders them anew.
struct CacheKey {
    Readout readout;  // with the image motion at 0: each frame has its own
    bool seeing = false;
    int opened = -1;
    bool operator==(const CacheKey&) const = default;
};

// kCachedFrames consecutive live renders of one readout, rows without padding.
struct FrameCache {
    CacheKey key;
    std::vector<std::vector<uint8_t>> frames;  // empty when there was no memory for them
    size_t rowBytes = 0;
    size_t next = 0;
};

// Used by the fills only, which run one after the other on the worker thread.
struct Sky {
    std::mt19937 rng{std::random_device{}()};
    int dx = 0, dy = 0;
    std::shared_ptr<simcam::Scene> scene;
    SceneKind sceneKind = SceneKind::Planet;
    FrameCache cache;
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
    if (key == "render") {
        if (value == "live")
            g_render = Render::Live;
        else if (value == "cached")
            g_render = Render::Cached;
        else
            return "render: '" + value + "' is neither live nor cached";
        return {};
    }
    return "unknown option '" + key +
           "' (the simulated camera takes sensor=WxH, depth=8..16, render=live|cached)";
}

// The scene for the sensor as it is now; a new scene drops the cached frames.
void ensureScene(Sky& sky, SceneKind kind) {
    if (!sky.scene || kind != sky.sceneKind ||
        sky.scene->width != simcam::sensorWidth() + 2 * simcam::kMargin ||
        sky.scene->height != simcam::sensorHeight() + 2 * simcam::kMargin) {
        sky.scene = std::make_shared<simcam::Scene>(simcam::buildScene(kind));
        sky.sceneKind = kind;
        sky.cache = FrameCache{};
    }
}

// Renders the next frame of the sky: with seeing, the image moves on first.
void renderNext(Sky& sky, Readout r, bool seeing, uint8_t* out, size_t stride) {
    if (seeing) {
        // Atmospheric seeing: the image wanders by a pixel or so from frame to frame.
        std::uniform_int_distribution<int> step(-1, 1);
        sky.dx = std::clamp(sky.dx + step(sky.rng), -kMaxMotion, kMaxMotion);
        sky.dy = std::clamp(sky.dy + step(sky.rng), -kMaxMotion, kMaxMotion);
        r.dx = sky.dx;
        r.dy = sky.dy;
    }
    simcam::renderMosaic(*sky.scene, r, out, stride, sky.rng);
}

// The cached frame for this exposure, the cache rendered first when the readout, the
// seeing or the camera's open changed since; nullptr when there is no memory for it.
const std::vector<uint8_t>* nextCachedFrame(Sky& sky, const Readout& r, SceneKind kind, bool seeing,
                                            int opened) {
    ensureScene(sky, kind);
    FrameCache& cache = sky.cache;
    const CacheKey key{r, seeing, opened};
    if (cache.key != key) {
        cache = FrameCache{};
        cache.key = key;
        cache.rowBytes = static_cast<size_t>(r.width) * (r.depth == 16 ? 2 : 1);
        try {
            cache.frames.resize(kCachedFrames);
            for (std::vector<uint8_t>& frame : cache.frames) {
                frame.resize(cache.rowBytes * r.height);
                renderNext(sky, r, seeing, frame.data(), cache.rowBytes);
            }
        } catch (const std::bad_alloc&) {
            cache.frames = {};  // rendered live instead, until the readout changes
        }
    }
    if (cache.frames.empty()) return nullptr;
    const std::vector<uint8_t>* frame = &cache.frames[cache.next];
    cache.next = (cache.next + 1) % cache.frames.size();
    return frame;
}

// Copies a cached frame into the exposure's buffer, leaving the row padding alone.
void copyFrame(const std::vector<uint8_t>& frame, size_t rowBytes, camera::Exposure& exposure) {
    const size_t stride = exposure.stride();
    if (stride == rowBytes) {
        std::memcpy(exposure.buffer(), frame.data(), frame.size());
        return;
    }
    const size_t rows = frame.size() / rowBytes;
    for (size_t y = 0; y < rows; ++y)
        std::memcpy(exposure.buffer() + y * stride, frame.data() + y * rowBytes, rowBytes);
}

// Renders the exposure after it ended, with the light gathered until then. A cached frame
// is taken before the wait, so that rendering the cache anew overlaps the exposure; a
// cancelled exposure, which holds less light than the cached frames, is rendered live.
camera::FillResult fill(camera::Exposure& exposure, Readout r, SceneKind kind, bool seeing,
                        Render render, int opened) {
    Sky& sky = theSky();
    const std::vector<uint8_t>* cached =
        render == Render::Cached ? nextCachedFrame(sky, r, kind, seeing, opened) : nullptr;
    const double part = exposure.waitForEnd();
    if (cached && part >= 1.0) {
        copyFrame(*cached, sky.cache.rowBytes, exposure);
        return {true, r.bits, simcam::readoutPattern(r)};
    }
    ensureScene(sky, kind);
    for (double& g : r.gain) g *= part;  // a cancelled exposure holds the light so far
    renderNext(sky, r, seeing, exposure.buffer(), exposure.stride());
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
    setLevels(r, static_cast<double>(s.exposureUs) / 1000.0, s.gain, s.balance);
    if (g_seeing) {
        r.bias = 4;
        r.noiseSigma = 0.8 + 0.04 * s.gain;
    }
    return [r, kind = g_sceneKind, seeing = g_seeing, render = g_render, opened = g_opened](
               Exposure& exposure) { return fill(exposure, r, kind, seeing, render, opened); };
}

}  // namespace camera

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int openUSB(int /*reserved*/) {
    auto lock = camera::lockCamera();
    ++g_opened;
    camera::Settings& s = camera::current();
    s.width = simcam::sensorWidth();
    s.height = simcam::sensorHeight();
    s.flip = false;
    s.maxBits = g_bits;
    s.depth = 8;
    s.exposureUs = kDefaultExposureMs * 1000LL;
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
// samples, 8 to 16; render=live|cached: how the next exposures get their picture. A refused
// option says why through CameraLastError.
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

// A sensor of 3.75 um pixels whose gain runs 0 to 400 in tenths of a decibel: 20 dB (one
// decade of level) per half of the range.
int CameraSensorInfo(TarviSensorInfo* info) {
    if (!info) return 0;
    // Only fields that lie wholly within the caller's struct: an older caller's is smaller.
    const auto within = [info](size_t end) { return end <= info->size; };
    if (within(offsetof(TarviSensorInfo, pixelHeightUm) + sizeof(double)))
        info->pixelWidthUm = info->pixelHeightUm = 3.75;
    if (within(offsetof(TarviSensorInfo, gainAtFull) + sizeof(double))) {
        info->gainAtZero = 0;
        info->gainAtFull = 400;
    }
    return 1;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
