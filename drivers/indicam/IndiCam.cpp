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
int sampleDepth = 8;
int driverBits = 0;

int PatternId(const std::string& pattern) {
    if (pattern == "RGGB") return TARVI_PATTERN_RGGB;
    if (pattern == "GRBG") return TARVI_PATTERN_GRBG;
    if (pattern == "GBRG") return TARVI_PATTERN_GBRG;
    if (pattern == "BGGR") return TARVI_PATTERN_BGGR;
    return TARVI_PATTERN_MONO;
}
}  // namespace

namespace indicam {
bool CopyImage(State& s, const Image& image) {
    if (!CopyToFrame(image, s.width, s.height, s.mirror, s.depth, s.buffer)) return false;
    s.lastBits = s.depth == 16 ? image.bits : 8;
    s.lastPattern = FramePattern(image, s.width, s.height, s.mirror);
    return true;
}
}  // namespace indicam

extern "C" {

int CameraOption(const char* key, const char* value) {
    std::lock_guard<std::mutex> api(apiMutex);
    const std::string k = key ? key : "", v = value ? value : "";
    std::string why;
    if (k == "server") {
        ParseServer(v, &options.host, &options.port, &why);
    } else if (k == "device") {
        if (v.empty())
            why = "device needs the name of an INDI device, as its driver shows it";
        else
            options.device = v;
    } else if (k == "wheel") {
        SetWheelOption(v, &why);
    } else {
        why =
            "no option '" + k + "' (the options are server=HOST:PORT, device=NAME and wheel=NAME)";
    }
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastError = why.empty() ? std::string() : "INDI: " + why;
    return why.empty() ? 1 : 0;
}

const char* CameraLastError(void) {
    static thread_local std::string copy;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    copy = s.lastError;
    return copy.c_str();
}
int openUSB(int /*reserved*/) {
    std::lock_guard<std::mutex> api(apiMutex);
    sampleDepth = 8;
    driverBits = 0;
    const int opened = OpenCamera();
    if (opened == 1) {
        State& s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        driverBits = std::clamp(s.bitsPerPixel, 8, 16);
    }
    if (opened == 1) OpenWheel();
    return opened;
}

const char* GetCameraInfo(int* width, int* height) {
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (width) *width = s.sensorWidth;
    if (height) *height = s.sensorHeight;
    return cameraName.c_str();
}

int ExposureSemaphore(sem_t* done) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.done = done;
    return 1;
}

int ThreadedExposure(void* buffer, int /*reserved*/, int /*mode*/) {
    if (!buffer) return 0;
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    CheckStreamRate();
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        if (!client) return 0;
        if (s.lost || !s.serverUp) {
            if (!settings.lostReported) {
                settings.lostReported = true;
                Report(lock,
                       s.lastError.empty() ? "INDI: the camera is not connected" : s.lastError);
            }
            return 0;
        }
        if (s.pending != Kind::None) return 0;
    }
    const int w = settings.width, h = settings.height;
    // The stream's frames hold 8 bits whatever the sensor's depth: 16-bit buffers take FITS.
    const bool stream = settings.exposureMs < kStreamBelowMs && sampleDepth == 8 &&
                        HasProperty("CCD_VIDEO_STREAM") && HasProperty("STREAMING_EXPOSURE");
    if (stream)
        PrepareStream(w, h);
    else
        PrepareSingle(w, h);

    double seconds = settings.exposureMs / 1000.0;
    double min = 0, max = 0;
    if (!stream && RangeOf("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", &min, &max) && max > min)
        seconds = std::clamp(seconds, min, max);  // a value out of range is refused, no image
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.pending = stream ? Kind::Stream : Kind::Single;
        s.buffer = static_cast<uint8_t*>(buffer);
        s.width = w;
        s.height = h;
        s.mirror = settings.flip && !settings.driverFlips;
        s.depth = sampleDepth;
        s.deadline = Clock::now() + std::chrono::milliseconds(settings.exposureMs) + kImageMargin;
        s.exposureAnswered = false;
        s.changed.notify_all();  // the watchdog takes the new deadline
        if (stream && s.streamFrameFresh && s.streamFrameGeneration == s.generation) {
            // A frame that came while no exposure waited, not delivered before: this one's.
            s.streamFrameFresh = false;
            const bool filled = CopyImage(s, s.streamFrame);
            EndPending(s, filled, s.streamFrame.startUs);
            return 1;
        }
        s.streamFrameFresh = false;
    }
    if (!stream && !SetNumbers("CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", seconds}})) {
        std::unique_lock<std::mutex> lock(s.mutex);
        Report(lock, "INDI: device '" + s.device + "' takes no exposure");
        EndPending(s);
    }
    return 1;
}

int CancelExposure(void) {
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    Kind was = Kind::None;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        was = s.pending;
        EndPending(s);
    }
    if (was == Kind::Single && SetSwitch("CCD_ABORT_EXPOSURE", "ABORT")) {
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.abortsUnanswered;  // its idle CCD_EXPOSURE is no news of the next exposure
    }
    return was == Kind::None ? 0 : 1;
}

int SetExposureLength(int ms) {
    std::lock_guard<std::mutex> api(apiMutex);
    const int clamped = std::clamp(ms, 1, 10000);
    if (clamped != settings.exposureMs) {
        settings.exposureMs = clamped;
        SettingsChanged();
    }
    return 1;
}

int SetGain(int gain) {
    std::lock_guard<std::mutex> api(apiMutex);
    const int g = std::clamp(gain, 0, 100);
    if (g == settings.gain) return 1;
    settings.gain = g;
    SettingsChanged();
    if (!Usable()) return 1;
    if (HasProperty("CCD_GAIN")) return SetScaled("CCD_GAIN", "GAIN", g, 100) ? 1 : 0;
    const std::string element = ControlElement({"Gain"});
    if (!element.empty()) return SetScaled("CCD_CONTROLS", element, g, 100) ? 1 : 0;
    return 1;  // a camera without gain
}

int SetWhiteBalance(int blue, int green, int red) {
    std::lock_guard<std::mutex> api(apiMutex);
    if (!Usable()) return 1;
    bool any = false;
    const std::pair<std::initializer_list<const char*>, int> channels[] = {
        {{"WB_B", "WB_Blue", "BlueBalance", "Blue"}, blue},
        {{"WB_G", "WB_Green", "GreenBalance", "Green"}, green},
        {{"WB_R", "WB_Red", "RedBalance", "Red"}, red}};
    for (const auto& [names, value] : channels) {
        const std::string element = ControlElement(names);
        if (!element.empty()) any |= SetScaled("CCD_CONTROLS", element, value, 255);
    }
    if (any) SettingsChanged();
    return 1;  // no balance controls: the colours stay as the driver makes them
}

int Subframe(int width, int height) {
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (width < 1 || height < 1 || width > s.sensorWidth || height > s.sensorHeight) return 0;
    }
    if (width != settings.width || height != settings.height) {
        settings.width = width;
        settings.height = height;
        SettingsChanged();
    }
    return 1;
}

int HorizontalFlip(int on) {
    std::lock_guard<std::mutex> api(apiMutex);
    const bool flip = on != 0;
    if (flip == settings.flip) return 1;
    settings.flip = flip;
    // Drivers that mirror in the camera offer a FLIP switch; otherwise the copy mirrors.
    settings.driverFlips = HasProperty("FLIP") && SetSwitch("FLIP", "FLIP_HORIZONTAL", flip);
    SettingsChanged();
    return 1;
}

int CameraFrameInfo(TarviFrameInfo* info) {
    if (!info) return 0;
    State& s = S();
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
        info->colorPattern = PatternId(s.lastPattern);
    return 1;
}

int CameraSampleDepth(int bits) {
    std::lock_guard<std::mutex> api(apiMutex);
    if (bits == 0) return driverBits > 0 ? driverBits : 8;
    if (bits == 8 || (bits == 16 && driverBits > 8)) {
        sampleDepth = bits;
        return 1;
    }
    return 0;
}

}  // extern "C"
