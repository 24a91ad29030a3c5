// The simulated camera behind the ten camera functions: a planetary camera with a
// 1280 x 960 colour sensor (Bayer mosaic, blue at the top left; 12-bit samples, or 8 bits
// until the program asks for 16-bit words; the camera options sensor=WxH, up to 6248 x 4176,
// and depth=8..16 change them), whose exposures run on the worker thread of the library
// (drivers/common) in real time. With render=cached it renders 16 frames once and hands
// them out in turn, so that the simulator's rendering no longer takes a core while the
// program's own pace is measured. The planet scene moves and dims as the camera options
// drift, seeing and clouds ask, and truth=PATH records where the planet was in each exposure.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "CameraCommon.h"
#include "Scene.h"
#include "SimControls.h"
#include "SkyMotion.h"
#include "TruthLog.h"

#pragma GCC visibility push(default)
#include "SimCam.h"
#include "tarvidll.h"
#pragma GCC visibility pop

namespace {
using simcam::Readout;
using simcam::SceneKind;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kCameraName = "SimCam SP-1280 simulated planetary camera";
constexpr int kDefaultExposureMs = 100;
constexpr int kDefaultGain = 10;
constexpr int kNeutralBalance = 127;
constexpr int kMaxMotion = 3;
// Frames of render=cached: enough that the noise and the image motion do not look frozen.
constexpr int kCachedFrames = 16;
// The largest drift (pixels per second) and seeing (pixels) the options take.
constexpr double kMaxDrift = 10000;
constexpr double kMaxSeeing = 10;

// How an exposure gets its picture: rendered after it ended (live), or copied from frames
// rendered beforehand (cached).
enum class Render { Live, Cached };

// What SimCamConfigure and the camera options chose; guarded by camera::Lock().
SceneKind g_sceneKind = SceneKind::Planet;
bool g_seeing = true;            // SimCamConfigure's noise and image motion
int g_bits = 12;                 // the sensor's depth, camera option "depth"
Render g_render = Render::Live;  // camera option "render"
simcam::Weather g_weather;       // camera options drift, seeing and clouds
int g_opened = 0;                // openUSB calls so far: each open renders the cache anew
SteadyClock::time_point g_openedAt = SteadyClock::now();  // the sky's time 0
uint64_t g_skySeed = 0;                                   // the seeing of this open
uint64_t g_exposures = 0;                                 // exposures started since the open

// The record of option truth=PATH; never destroyed, as its writer thread runs to the end.
simcam::TruthLog& truthLog() {
    static auto* log = new simcam::TruthLog;
    return *log;
}

// What one exposure shows, fixed when it starts.
struct Shot {
    Readout readout;
    SceneKind kind = SceneKind::Planet;
    bool motion = true;  // noise and image motion (SimCamConfigure's seeing)
    simcam::Weather weather;
    Render render = Render::Live;
    int opened = 0;
    uint64_t number = 0;               // of the exposure since the open
    uint64_t seed = 0;                 // of the seeing
    SteadyClock::time_point openedAt;  // the sky's time 0
    double seconds = 0;                // the exposure's start, since the open
    double exposureSeconds = 0;
};

// Where the planet was in a frame and how it looked, for the truth record.
struct Truth {
    double x = 0, y = 0, blur = 0, transparency = 1;
};

// What the cached frames were rendered for; any change renders them anew.
struct CacheKey {
    Readout readout;  // with the image motion at 0: each frame has its own
    bool motion = false;
    simcam::Weather weather;
    int opened = -1;
    bool operator==(const CacheKey&) const = default;
};

// kCachedFrames consecutive live renders of one readout, rows without padding.
struct FrameCache {
    CacheKey key;
    std::vector<std::vector<uint8_t>> frames;  // empty when there was no memory for them
    std::vector<Truth> truths;                 // of each frame
    size_t rowBytes = 0;
    size_t next = 0;
};

// Used by the fills only, which run one after the other on the worker thread.
struct Sky {
    std::mt19937 rng{std::random_device{}()};
    int dx = 0, dy = 0;  // the image motion without the seeing option
    std::unique_ptr<simcam::Scene> testCard;
    std::unique_ptr<simcam::PlanetSky> planet;
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

// A decimal number with an optional sign and fraction ("-2.5"), into *value; false for
// anything else (no exponents, no blanks, nothing after it).
bool number(const std::string& text, double* value) {
    size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    const size_t digits = text.find_first_not_of("0123456789", i);
    size_t end = digits == std::string::npos ? text.size() : digits;
    bool any = end > i;
    if (end < text.size() && text[end] == '.') {
        const size_t fraction = text.find_first_not_of("0123456789", end + 1);
        const size_t stop = fraction == std::string::npos ? text.size() : fraction;
        any = any || stop > end + 1;
        end = stop;
    }
    if (!any || end != text.size()) return false;
    *value = std::strtod(text.c_str(), nullptr);
    return true;
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
    if (key == "drift") {
        const size_t comma = value.find(',');
        double dx = 0, dy = 0;
        if (comma == std::string::npos || !number(value.substr(0, comma), &dx) ||
            !number(value.substr(comma + 1), &dy))
            return "drift: '" + value + "' is not DX,DY in pixels per second (for example 50,-20)";
        if (std::fabs(dx) > kMaxDrift || std::fabs(dy) > kMaxDrift)
            return "drift: " + value + " is faster than 10000 pixels per second";
        g_weather.driftX = dx;
        g_weather.driftY = dy;
        return {};
    }
    if (key == "seeing") {
        double seeing = 0;
        if (!number(value, &seeing) || seeing < 0 || seeing > kMaxSeeing)
            return "seeing: '" + value + "' is not 0 to 10 pixels (0 off, 1 average, 2 poor)";
        g_weather.seeing = seeing;
        return {};
    }
    if (key == "clouds") {
        double every = 0;
        if (!number(value, &every) || every < 0 || (every > 0 && every <= simcam::kCloudSeconds))
            return "clouds: '" + value + "' is neither 0 (none) nor more than 2 seconds";
        g_weather.cloudEverySeconds = every;
        return {};
    }
    if (key == "truth") {
        const std::string why = truthLog().open(value);
        if (!why.empty()) return "truth: " + why;
        truthLog().write(
            "# exposure start_unix_us planet_x planet_y blur_sigma_px transparency (planet "
            "centre in sensor pixels, pixel centres on whole numbers)");
        return {};
    }
    return "unknown option '" + key +
           "' (the simulated camera takes sensor=WxH, depth=8..16, render=live|cached, "
           "drift=DX,DY, seeing=S, clouds=SECONDS, truth=PATH)";
}

// The pictures for the sensor as it is now.
void ensureScene(Sky& sky, SceneKind kind) {
    const int w = simcam::sensorWidth(), h = simcam::sensorHeight();
    if (kind == SceneKind::TestCard &&
        (!sky.testCard || sky.testCard->width != w || sky.testCard->height != h)) {
        sky.testCard = std::make_unique<simcam::Scene>(simcam::buildTestCard());
        sky.cache = FrameCache{};
    }
    if (kind == SceneKind::Planet &&
        (!sky.planet || sky.planet->sensorWidth() != w || sky.planet->sensorHeight() != h)) {
        sky.planet = std::make_unique<simcam::PlanetSky>(w, h);
        sky.cache = FrameCache{};
    }
}

// Renders the sky of `shot` at `seconds` after the open: the planet scene where the drift,
// the seeing and (with image motion but no seeing) a wander of a pixel or so from frame to
// frame put it, dimmed by the clouds. Returns where the planet went.
Truth renderNext(Sky& sky, const Shot& shot, double seconds, uint8_t* out, size_t stride) {
    Readout r = shot.readout;
    if (shot.kind == SceneKind::TestCard) {
        simcam::renderMosaic(*sky.testCard, r, out, stride, sky.rng);
        return {};
    }
    simcam::Weather weather = shot.weather;
    if (!shot.motion) weather.seeing = 0;  // equal settings give equal frames
    simcam::SkyPose pose = simcam::skyPoseAt(weather, shot.seed, seconds);
    if (shot.motion && weather.seeing == 0) {
        std::uniform_int_distribution<int> step(-1, 1);
        sky.dx = std::clamp(sky.dx + step(sky.rng), -kMaxMotion, kMaxMotion);
        sky.dy = std::clamp(sky.dy + step(sky.rng), -kMaxMotion, kMaxMotion);
        pose.shiftX += sky.dx;
        pose.shiftY += sky.dy;
    }
    const simcam::PlanetPlace place = sky.planet->draw(pose);
    const double transparency = simcam::transparencyAt(weather, seconds);
    for (double& g : r.gain) g *= transparency;
    simcam::renderMosaic(sky.planet->scene(), r, out, stride, sky.rng);
    return {place.x, place.y, place.blur, transparency};
}

// The cached frame for this exposure and its truth, the cache rendered first when the
// readout, the motion, the weather or the camera's open changed since; nullptr when there is
// no memory for it. The cached frames show the sky one exposure length apart from now on.
const std::vector<uint8_t>* nextCachedFrame(Sky& sky, const Shot& shot, Truth* truth) {
    ensureScene(sky, shot.kind);
    FrameCache& cache = sky.cache;
    const CacheKey key{shot.readout, shot.motion, shot.weather, shot.opened};
    if (cache.key != key) {
        const Readout& r = shot.readout;
        cache = FrameCache{};
        cache.key = key;
        cache.rowBytes = static_cast<size_t>(r.width) * (r.depth == 16 ? 2 : 1);
        try {
            cache.frames.resize(kCachedFrames);
            for (std::vector<uint8_t>& frame : cache.frames) {
                frame.resize(cache.rowBytes * r.height);
                const double at = shot.seconds + shot.exposureSeconds * cache.truths.size();
                cache.truths.push_back(renderNext(sky, shot, at, frame.data(), cache.rowBytes));
            }
        } catch (const std::bad_alloc&) {
            cache.frames = {};  // rendered live instead, until the readout changes
        }
    }
    if (cache.frames.empty()) return nullptr;
    const std::vector<uint8_t>* frame = &cache.frames[cache.next];
    *truth = cache.truths[cache.next];
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

// The truth record's line of one exposure of the planet scene.
void recordTruth(const Shot& shot, int64_t startUnixUs, const Truth& t) {
    if (shot.kind != SceneKind::Planet || !truthLog().active()) return;
    char line[160];
    std::snprintf(line, sizeof line, "%llu %lld %.2f %.2f %.2f %.3f",
                  static_cast<unsigned long long>(shot.number), static_cast<long long>(startUnixUs),
                  t.x, t.y, t.blur, t.transparency);
    truthLog().write(line);
}

// Renders the exposure after it ended, with the light gathered until then. A cached frame
// is taken before the wait, so that rendering the cache anew overlaps the exposure; a
// cancelled exposure, which holds less light than the cached frames, is rendered live.
camera::FillResult fill(camera::Exposure& exposure, Shot shot) {
    Sky& sky = theSky();
    shot.seconds = std::chrono::duration<double>(exposure.start() - shot.openedAt).count();
    Truth truth;
    const std::vector<uint8_t>* cached =
        shot.render == Render::Cached ? nextCachedFrame(sky, shot, &truth) : nullptr;
    const double part = exposure.waitForEnd();
    const camera::FillResult result{true, shot.readout.bits, simcam::readoutPattern(shot.readout),
                                    shot.readout.left, shot.readout.top};
    if (cached && part >= 1.0) {
        copyFrame(*cached, sky.cache.rowBytes, exposure);
    } else {
        ensureScene(sky, shot.kind);
        for (double& g : shot.readout.gain) g *= part;  // a cancelled exposure: the light so far
        truth = renderNext(sky, shot, shot.seconds, exposure.buffer(), exposure.stride());
    }
    recordTruth(shot, exposure.startUnixUs(), truth);
    return result;
}
}  // namespace

namespace camera {

void maxSubframe(int* width, int* height) {
    *width = simcam::sensorWidth();
    *height = simcam::sensorHeight();
}

FillFunction beginExposure(const Settings& s) {
    Shot shot;
    Readout& r = shot.readout;
    r.width = s.width;
    r.height = s.height;
    const Placement at = placeSubframe(s, simcam::sensorWidth(), simcam::sensorHeight());
    r.left = at.left;
    r.top = at.top;
    r.flip = s.flip;
    r.depth = s.depth;
    r.bits = s.depth == 16 ? s.maxBits : 8;
    setLevels(r, static_cast<double>(s.exposureUs) / 1000.0, s.gain, s.balance);
    // A binned pixel gathers the light of binning x binning sensor pixels.
    const int bin = simcam::binning();
    for (double& g : r.gain) g *= bin * bin;
    if (g_seeing) {
        r.bias = 4;
        r.noiseSigma = 0.8 + 0.04 * s.gain;
    }
    r.bias += simcam::offsetLevel();
    shot.kind = g_sceneKind;
    shot.motion = g_seeing;
    shot.weather = g_weather;
    shot.render = g_render;
    shot.opened = g_opened;
    shot.number = ++g_exposures;
    shot.seed = g_skySeed;
    shot.openedAt = g_openedAt;
    shot.exposureSeconds = static_cast<double>(s.exposureUs) / 1e6;
    return [shot](Exposure& exposure) { return fill(exposure, shot); };
}

}  // namespace camera

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int openUSB(int /*reserved*/) {
    auto lock = camera::lockCamera();
    ++g_opened;
    simcam::resetControls();
    g_openedAt = SteadyClock::now();
    g_skySeed = std::random_device{}();
    g_exposures = 0;
    truthLog().write("# camera opened, sensor " + std::to_string(simcam::sensorWidth()) + "x" +
                     std::to_string(simcam::sensorHeight()) +
                     ": exposure numbers start again at 1");
    camera::Settings& s = camera::current();
    s.left = s.top = -1;
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
// samples, 8 to 16; render=live|cached: how the next exposures get their picture;
// drift=DX,DY, seeing=S, clouds=SECONDS: how the sky moves and dims; truth=PATH: the record
// of each exposure's planet. A refused option says why through CameraLastError.
int CameraOption(const char* key, const char* value) try {
    auto lock = camera::lockCamera();
    simcam::lastError() = optionProblem(key ? key : "", value ? value : "");
    return simcam::lastError().empty() ? 1 : 0;
} catch (const std::exception&) {
    return 0;  // no memory for the reason
}

const char* CameraLastError(void) {
    static thread_local std::string copy;
    auto lock = camera::lockCamera();
    copy = simcam::lastError();
    return copy.c_str();  // the caller's own copy, valid until its next call
}

int SubframeOrigin(int left, int top) {
    auto lock = camera::lockCamera();
    camera::current().left = left;
    camera::current().top = top;
    return 1;
}

// Ends the exposure worker; the truth record's writer, once started, runs to the end of the
// process, so a library that kept one stays loaded.
int CameraClose(void) {
    camera::stopWorker();
    auto lock = camera::lockCamera();
    simcam::closeControls();
    return truthLog().started() ? 0 : 1;
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
