// The GenICam camera: the camera functions of the program served by a USB3 Vision or GigE Vision
// camera through Aravis. The entry points come from the program's acquisition thread; apiMutex
// keeps them one at a time, so the camera's features are only ever reached from there.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>

#include "AravisCamera.h"

#pragma GCC visibility push(default)
#include "AravisCam.h"
#include "tarvidll.h"
#pragma GCC visibility pop

namespace {
std::mutex g_apiMutex;
std::string g_device, g_format;
std::string g_optionError;

// Closed when the library is unloaded or the program ends: the stream and its worker stop.
aravis::Camera& theCamera() {
    static aravis::Camera camera;
    return camera;
}

// True when the field at `offset`, `bytes` long, lies within the `size` the caller gave.
bool fits(unsigned size, size_t offset, size_t bytes) {
    return offset + bytes <= size;
}
}  // namespace

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int CameraOption(const char* key, const char* value) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    const std::string k = key ? key : "", v = value ? value : "";
    g_optionError.clear();
    if (k == "device" && !v.empty()) {
        g_device = v;
    } else if (k == "format" && aravis::findPixelFormat(v.c_str())) {
        g_format = v;
    } else if (k == "device") {
        g_optionError = "GenICam: device needs a camera's Aravis device id or IP address";
    } else if (k == "format") {
        g_optionError = "GenICam: no pixel format '" + v +
                        "' (mono or Bayer, 8 to 16 bits: Mono8, Mono12, BayerRG8, ...)";
    } else {
        g_optionError =
            "GenICam: no option '" + k + "' (the options are device=ID and format=NAME)";
    }
    return g_optionError.empty() ? 1 : 0;
}

const char* CameraLastError(void) {
    static thread_local std::string copy;
    std::lock_guard<std::mutex> api(g_apiMutex);
    copy = !g_optionError.empty() ? g_optionError : theCamera().lastError();
    return copy.c_str();
}

int openUSB(int /*reserved*/) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    std::string why;
    if (theCamera().open(g_device, g_format, &why)) {
        g_optionError.clear();
        return 1;
    }
    g_optionError = "GenICam: " + why;
    return 0;
}

const char* GetCameraInfo(int* width, int* height) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (width) *width = theCamera().sensorWidth();
    if (height) *height = theCamera().sensorHeight();
    return theCamera().name().c_str();
}

int ExposureSemaphore(sem_t* done) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    theCamera().setSemaphore(done);
    return 1;
}

int ThreadedExposure(void* buffer, int /*reserved*/, int /*mode*/) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    return theCamera().expose(static_cast<uint8_t*>(buffer)) ? 1 : 0;
}

int CancelExposure(void) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    return theCamera().cancel() ? 1 : 0;
}

int SetExposureMicroseconds(long long us) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    theCamera().setExposure(std::clamp(us, 10LL, 10'000'000LL));
    return 1;
}

int SetExposureLength(int ms) {
    return SetExposureMicroseconds(std::clamp(ms, 1, 10000) * 1000LL);
}

int SetGain(int gain) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    theCamera().setGain(std::clamp(gain, 0, 100));
    return 1;
}

int SetWhiteBalance(int /*blue*/, int /*green*/, int /*red*/) {
    return 1;  // raw mono or mosaic samples: the balance is the program's
}

int Subframe(int width, int height) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    return theCamera().setSubframe(width, height) ? 1 : 0;
}

int HorizontalFlip(int on) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    theCamera().setFlip(on != 0);
    return 1;
}

int SubframeOrigin(int left, int top) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (!theCamera().isOpen()) return 0;
    theCamera().setOrigin(left, top);
    return 1;
}

int CameraSampleDepth(int bits) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (bits == 0) return theCamera().deepestBits();
    return theCamera().setDepth(bits) ? 1 : 0;
}

int CameraFrameInfo(TarviFrameInfo* info) {
    if (!info) return 0;
    const aravis::Delivered d = theCamera().delivered();
    if (!d.known) return 0;
    const unsigned size = info->size;
#define TV_FITS(field) fits(size, offsetof(TarviFrameInfo, field), sizeof info->field)
    if (TV_FITS(status)) info->status = d.good ? TARVI_FRAME_GOOD : TARVI_FRAME_FAILED;
    if (TV_FITS(startUnixUs)) info->startUnixUs = d.startUnixUs;
    if (d.good && TV_FITS(bitsPerSample)) info->bitsPerSample = d.bits;
    if (d.good && TV_FITS(colorPattern)) info->colorPattern = d.pattern;
    if (d.good && TV_FITS(subframeLeft) && TV_FITS(subframeTop)) {
        info->subframeLeft = d.left;
        info->subframeTop = d.top;
    }
#undef TV_FITS
    return 1;
}

int CameraSensorInfo(TarviSensorInfo* info) {
    if (!info) return 0;
    std::lock_guard<std::mutex> api(g_apiMutex);
    if (!theCamera().isOpen()) return 0;
    double low = 0, high = 0;
    if (!theCamera().gainRange(&low, &high)) low = high = 0;
    if (fits(info->size, offsetof(TarviSensorInfo, pixelHeightUm), sizeof(double)))
        info->pixelWidthUm = info->pixelHeightUm = 0;  // GenICam names no pixel size
    if (fits(info->size, offsetof(TarviSensorInfo, gainAtFull), sizeof(double))) {
        info->gainAtZero = low;
        info->gainAtFull = high;
    }
    return 1;
}

int CameraListDevices(const char* /*server*/, char* buffer, int size) {
    if (!buffer || size < 1) return -1;
    arv_update_device_list();
    std::string list;
    int count = 0;
    for (unsigned i = 0; i < arv_get_n_devices(); ++i) {
        const char* id = arv_get_device_id(i);
        if (!id) continue;
        const std::string line = std::string(id) + "\n";
        if (list.size() + line.size() + 1 > static_cast<size_t>(size)) continue;
        list += line;
        ++count;
    }
    std::memcpy(buffer, list.c_str(), list.size() + 1);
    return count;
}

int CameraHealth(TarviCameraHealth* health) {
    if (!health) return 0;
    aravis::Health h;
    if (!theCamera().health(&h)) return 0;
    const unsigned size = health->size;
    if (fits(size, offsetof(TarviCameraHealth, state), sizeof health->state))
        health->state = h.state;
    if (fits(size, offsetof(TarviCameraHealth, troubles), sizeof health->troubles))
        health->troubles = h.troubles;
    if (fits(size, offsetof(TarviCameraHealth, restarts), sizeof health->restarts))
        health->restarts = h.restarts;
    if (fits(size, offsetof(TarviCameraHealth, text), sizeof health->text)) {
        std::strncpy(health->text, h.text.c_str(), sizeof health->text - 1);
        health->text[sizeof health->text - 1] = '\0';
    }
    return 1;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
