// The INDI camera: the camera functions of the program, served by a CCD driver behind an
// INDI server. Single exposures arrive as FITS BLOBs; short exposures use the driver's video
// stream, whose frames arrive as raw 8-bit BLOBs. Samples reach the buffers as the driver
// made them, in 16-bit words when the program asks for them, the colour mosaic unmoved and
// reported with each frame.
//
// Threads: the program calls the entry points from its acquisition thread; the INDI client
// calls back on its own listening thread; a watchdog thread ends exposures whose image never
// comes. apiMutex serialises the entry points (and so everything sent to the server);
// State::mutex guards what the callbacks share with them. Nothing is sent from a callback.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "IndiFocuser.h"
#include "IndiSession.h"
#include "IndiWheel.h"

#pragma GCC visibility push(default)
#include "IndiCam.h"
#include "tarvidll.h"
#pragma GCC visibility pop

using namespace indicam;

namespace {
// Under apiMutex: the bits of each buffer word the program asked for, and the driver's bits
// per pixel since the camera opened (0 while it is not open).
int g_sampleDepth = 8;
int g_driverBits = 0;

// Under apiMutex: when the camera, once lost, may next be tried again.
Clock::time_point g_nextReopen;

// Sends the gain (0..100) to the driver's gain property or control; true also for a camera
// without gain.
bool sendGain(int gain) {
    if (hasProperty("CCD_GAIN")) return setScaled("CCD_GAIN", "GAIN", gain, 100);
    const std::string element = controlElement({"Gain"});
    if (!element.empty()) return setScaled("CCD_CONTROLS", element, gain, 100);
    return true;
}

// The driver's gain range, the values sendGain sends for 0 and 100; false without gain.
bool gainRange(double* low, double* high) {
    if (hasProperty("CCD_GAIN")) return rangeOf("CCD_GAIN", "GAIN", low, high);
    const std::string element = controlElement({"Gain"});
    return !element.empty() && rangeOf("CCD_CONTROLS", element.c_str(), low, high);
}

// Drivers that mirror in the camera offer a FLIP switch; otherwise the copy mirrors.
void sendFlip(bool flip) {
    g_settings.driverFlips = hasProperty("FLIP") && setSwitch("FLIP", "FLIP_HORIZONTAL", flip);
}

// Under apiMutex, with the camera lost: opens it again, at most once every kReopenInterval,
// and brings back the settings in force (exposure, gain, subframe, mirror, depth); the stream
// starts again with the next streamed exposure. The loss stays the reason given while the
// server is not back. True when the camera is open again.
bool reopenLostCamera() {
    const auto now = Clock::now();
    if (now < g_nextReopen) return false;
    g_nextReopen = now + kReopenInterval;
    State& s = state();
    std::string loss;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        loss = s.lastError;
    }
    const Settings kept = g_settings;
    g_reopening = true;
    const int opened = openCamera();
    g_reopening = false;
    if (opened != 1) {
        g_settings = kept;
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lastError = loss;
        return false;
    }
    openWheel();
    openFocuser();
    g_settings.exposureUs = kept.exposureUs;
    int bits = 8;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        bits = std::clamp(s.bitsPerPixel, 8, 16);
        ++s.restarts;
        noteTrouble(s, "");
        s.lastError.clear();
        s.lastPrinted.clear();
    }
    if (kept.width <= g_settings.width && kept.height <= g_settings.height) {
        g_settings.width = kept.width;
        g_settings.height = kept.height;
    }
    g_driverBits = bits;
    if (g_sampleDepth > g_driverBits) g_sampleDepth = 8;
    if (kept.gain >= 0) {
        g_settings.gain = kept.gain;
        sendGain(kept.gain);
    }
    g_settings.originLeft = kept.originLeft;
    g_settings.originTop = kept.originTop;
    g_settings.flip = kept.flip;
    if (kept.flip) sendFlip(true);
    settingsChanged();
    std::fprintf(stderr, "INDI: camera '%s' is back at %s:%d\n", g_cameraName.c_str(),
                 g_options.host.c_str(), g_options.port);
    return true;
}

int patternId(const std::string& pattern) {
    if (pattern == "RGGB") return TARVI_PATTERN_RGGB;
    if (pattern == "GRBG") return TARVI_PATTERN_GRBG;
    if (pattern == "GBRG") return TARVI_PATTERN_GBRG;
    if (pattern == "BGGR") return TARVI_PATTERN_BGGR;
    return TARVI_PATTERN_MONO;
}
}  // namespace

namespace indicam {
bool copyImage(State& s, const Image& image) {
    // An image of the subframe's size is the subframe; a larger one (a driver that sent the
    // whole sensor) is cut at the subframe's place.
    const bool whole = image.width > s.width || image.height > s.height;
    const int left = whole ? s.left : 0, top = whole ? s.top : 0;
    if (!copyToFrame(image, s.width, s.height, s.mirror, s.depth, s.buffer, left, top))
        return false;
    s.lastBits = s.depth == 16 ? image.bits : 8;
    s.lastPattern = framePattern(image, s.width, s.height, s.mirror, left, top);
    s.lastLeft = s.left;
    s.lastTop = s.top;
    return true;
}
}  // namespace indicam

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int CameraOption(const char* key, const char* value) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    const std::string k = key ? key : "", v = value ? value : "";
    std::string why;
    if (k == "server") {
        parseServer(v, &g_options.host, &g_options.port, &why);
    } else if (k == "device") {
        if (v.empty())
            why = "device needs the name of an INDI device, as its driver shows it";
        else
            g_options.device = v;
    } else if (k == "wheel") {
        setWheelOption(v, &why);
    } else if (k == "focuser") {
        setFocuserOption(v, &why);
    } else if (k == "socket") {
        g_options.localSocket = v;
    } else if (k == "blobs") {
        if (v == "separate" || v == "shared")
            g_options.separateBlobs = v == "separate";
        else
            why = "blobs is 'separate' (the images on a connection of their own) or 'shared'";
    } else {
        why = "no option '" + k +
              "' (the options are server=HOST:PORT, device=NAME, wheel=NAME, focuser=NAME, "
              "socket=PATH and blobs=separate|shared)";
    }
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastError = why.empty() ? std::string() : "INDI: " + why;
    return why.empty() ? 1 : 0;
}

const char* CameraLastError(void) {
    static thread_local std::string copy;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    copy = s.lastError;
    return copy.c_str();
}
int openUSB(int /*reserved*/) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    g_sampleDepth = 8;
    g_driverBits = 0;
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.reopenWanted = false;
        noteTrouble(s, "");
    }
    const int opened = openCamera();
    if (opened == 1) {
        std::lock_guard<std::mutex> lock(s.mutex);
        g_driverBits = std::clamp(s.bitsPerPixel, 8, 16);
        s.reopenWanted = true;
    }
    if (opened == 1) {
        openWheel();
        openFocuser();
    }
    return opened;
}

const char* GetCameraInfo(int* width, int* height) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (width) *width = s.sensorWidth;
    if (height) *height = s.sensorHeight;
    return g_cameraName.c_str();
}

int ExposureSemaphore(sem_t* done) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.done = done;
    return 1;
}

int ThreadedExposure(void* buffer, int /*reserved*/, int /*mode*/) {
    if (!buffer) return 0;
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = state();
    bool reopen = false;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        if (!g_client && !s.reopenWanted) return 0;
        if (!g_client || s.lost || !s.serverUp) {
            if (!g_settings.lostReported) {
                g_settings.lostReported = true;
                report(lock,
                       s.lastError.empty() ? "INDI: the camera is not connected" : s.lastError);
            }
            if (!s.reopenWanted) return 0;
            reopen = true;
        }
        if (s.pending != Kind::None) return 0;
    }
    if (reopen && !reopenLostCamera()) return 0;
    const int w = g_settings.width, h = g_settings.height;
    // The stream's frames hold 8 bits whatever the sensor's depth: 16-bit buffers take FITS.
    const bool stream = g_settings.exposureUs < kStreamBelowMs * 1000LL && g_sampleDepth == 8 &&
                        hasProperty("CCD_VIDEO_STREAM") && hasProperty("STREAMING_EXPOSURE");
    if (stream)
        prepareStream(w, h);
    else
        prepareSingle(w, h);
    const Placement at = placeSubframe(w, h);

    double seconds = static_cast<double>(g_settings.exposureUs) / 1e6;
    double min = 0, max = 0;
    if (!stream && rangeOf("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", &min, &max) && max > min)
        seconds = std::clamp(seconds, min, max);  // a value out of range is refused, no image
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.pending = stream ? Kind::Stream : Kind::Single;
        s.buffer = static_cast<uint8_t*>(buffer);
        s.width = w;
        s.height = h;
        s.left = at.left;
        s.top = at.top;
        s.mirror = g_settings.flip && !g_settings.driverFlips;
        s.depth = g_sampleDepth;
        s.deadline = Clock::now() + std::chrono::microseconds(g_settings.exposureUs) + kImageMargin;
        s.exposureAnswered = false;
        s.changed.notify_all();  // the watchdog takes the new deadline
        if (stream && s.streamFrameFresh && s.streamFrameGeneration == s.generation) {
            // A frame that came while no exposure waited, not delivered before: this one's.
            s.streamFrameFresh = false;
            const bool filled = copyImage(s, s.streamFrame);
            endPending(s, filled, s.streamFrame.startUs);
            return 1;
        }
        s.streamFrameFresh = false;
    }
    if (!stream && !setNumbers("CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", seconds}})) {
        std::unique_lock<std::mutex> lock(s.mutex);
        report(lock, "INDI: device '" + s.device + "' takes no exposure");
        endPending(s);
    }
    return 1;
}

int CancelExposure(void) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = state();
    Kind was = Kind::None;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        was = s.pending;
        endPending(s);
    }
    if (was == Kind::Single && setSwitch("CCD_ABORT_EXPOSURE", "ABORT")) {
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.abortsUnanswered;  // its idle CCD_EXPOSURE is no news of the next exposure
    }
    return was == Kind::None ? 0 : 1;
}

int SetExposureMicroseconds(long long us) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    const long long clamped = std::clamp(us, 10LL, 10'000'000LL);
    if (clamped != g_settings.exposureUs) {
        g_settings.exposureUs = clamped;
        settingsChanged();
    }
    return 1;
}

int SetExposureLength(int ms) {
    return SetExposureMicroseconds(std::clamp(ms, 1, 10000) * 1000LL);
}

int SetGain(int gain) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    const int g = std::clamp(gain, 0, 100);
    if (g == g_settings.gain) return 1;
    g_settings.gain = g;
    settingsChanged();
    if (!usable()) return 1;  // sent when the camera is back
    return sendGain(g) ? 1 : 0;
}

// CCD_INFO's pixel size and the gain property's range.
int CameraSensorInfo(TarviSensorInfo* info) {
    if (!info) return 0;
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (!usable()) return 0;
    double pixelW = 0, pixelH = 0;
    {
        State& st = state();
        std::lock_guard<std::mutex> lock(st.mutex);
        pixelW = st.pixelWidthUm;
        pixelH = st.pixelHeightUm;
    }
    double low = 0, high = 0;
    if (!gainRange(&low, &high)) low = high = 0;
    const auto within = [info](size_t end) { return end <= info->size; };
    if (within(offsetof(TarviSensorInfo, pixelHeightUm) + sizeof(double))) {
        info->pixelWidthUm = pixelW;
        info->pixelHeightUm = pixelH;
    }
    if (within(offsetof(TarviSensorInfo, gainAtFull) + sizeof(double))) {
        info->gainAtZero = low;
        info->gainAtFull = high;
    }
    return 1;
}

int SetWhiteBalance(int blue, int green, int red) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (!usable()) return 1;
    bool any = false;
    const std::pair<std::initializer_list<const char*>, int> channels[] = {
        {{"WB_B", "WB_Blue", "BlueBalance", "Blue"}, blue},
        {{"WB_G", "WB_Green", "GreenBalance", "Green"}, green},
        {{"WB_R", "WB_Red", "RedBalance", "Red"}, red}};
    for (const auto& [names, value] : channels) {
        const std::string element = controlElement(names);
        if (!element.empty()) any |= setScaled("CCD_CONTROLS", element, value, 255);
    }
    if (any) settingsChanged();
    return 1;  // no balance controls: the colours stay as the driver makes them
}

int Subframe(int width, int height) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (width < 1 || height < 1 || width > s.sensorWidth || height > s.sensorHeight) return 0;
    }
    if (width != g_settings.width || height != g_settings.height) {
        g_settings.width = width;
        g_settings.height = height;
        settingsChanged();
    }
    return 1;
}

int HorizontalFlip(int on) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    const bool flip = on != 0;
    if (flip == g_settings.flip) return 1;
    g_settings.flip = flip;
    sendFlip(flip);
    settingsChanged();
    return 1;
}

int CameraFrameInfo(TarviFrameInfo* info) {
    if (!info) return 0;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.lastKnown) return 0;
    // Only the fields that lie wholly within the caller's struct.
    const auto fits = [&](size_t offset, size_t bytes) { return offset + bytes <= info->size; };
    if (fits(offsetof(TarviFrameInfo, status), sizeof info->status))
        info->status = s.lastGood ? TARVI_FRAME_GOOD : TARVI_FRAME_FAILED;
    if (fits(offsetof(TarviFrameInfo, startUnixUs), sizeof info->startUnixUs))
        info->startUnixUs = s.lastStartUs;
    if (s.lastGood && fits(offsetof(TarviFrameInfo, bitsPerSample), sizeof info->bitsPerSample))
        info->bitsPerSample = s.lastBits;
    if (s.lastGood && fits(offsetof(TarviFrameInfo, colorPattern), sizeof info->colorPattern))
        info->colorPattern = patternId(s.lastPattern);
    if (s.lastGood && fits(offsetof(TarviFrameInfo, subframeTop), sizeof info->subframeTop)) {
        info->subframeLeft = s.lastLeft;
        info->subframeTop = s.lastTop;
    }
    return 1;
}

int SubframeOrigin(int left, int top) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (!g_client) return 0;
    g_settings.originLeft = left < 0 ? -1 : left;
    g_settings.originTop = top < 0 ? -1 : top;
    return 1;
}

int CameraHealth(TarviCameraHealth* health) {
    if (!health) return 0;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.reopenWanted) return 0;
    const bool lost = s.lost || !s.serverUp || s.device.empty();
    const std::string text = !s.trouble.empty() ? s.trouble : lost ? s.lastError : "";
    const auto fits = [&](size_t offset, size_t bytes) { return offset + bytes <= health->size; };
    if (fits(offsetof(TarviCameraHealth, state), sizeof health->state))
        health->state = lost                ? TARVI_HEALTH_LOST
                        : s.trouble.empty() ? TARVI_HEALTH_GOOD
                                            : TARVI_HEALTH_SLOW;
    if (fits(offsetof(TarviCameraHealth, troubles), sizeof health->troubles))
        health->troubles = s.troubles;
    if (fits(offsetof(TarviCameraHealth, restarts), sizeof health->restarts))
        health->restarts = s.restarts;
    if (fits(offsetof(TarviCameraHealth, text), sizeof health->text)) {
        std::strncpy(health->text, text.c_str(), sizeof health->text - 1);
        health->text[sizeof health->text - 1] = '\0';
    }
    return 1;
}

int CameraSampleDepth(int bits) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (bits == 0) return g_driverBits > 0 ? g_driverBits : 8;
    if (bits == 8 || (bits == 16 && g_driverBits > 8)) {
        g_sampleDepth = bits;
        return 1;
    }
    return 0;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
