// The SER playback camera behind the ten camera functions: a SER file (option file=PATH)
// played as the camera's picture, one frame per exposure, paced by the exposure length and
// starting again after the last frame. The subframe is the centre of the file's frame.
#include <semaphore.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SerReader.h"

#pragma GCC visibility push(default)
#include "SerCam.h"
#include "acquisition/tarvidll.h"
#pragma GCC visibility pop

namespace {
using Clock = std::chrono::steady_clock;

struct CameraState {
    std::mutex mutex;
    std::condition_variable wake;

    std::string file;  // from the option
    std::shared_ptr<sercam::SerReader> reader;
    std::string name;
    std::string lastError;

    // Settings, in force from the next exposure.
    int width = 0;
    int height = 0;
    bool flip = false;
    int exposureMs = 100;
    sem_t* done = nullptr;

    // The exposure.
    bool workerStarted = false;
    bool requested = false;
    bool busy = false;
    bool cancel = false;
    int next = 0;  // frame of the next exposure
    uint8_t* buffer = nullptr;
    int readWidth = 0;
    int readHeight = 0;
    bool readFlip = false;
    Clock::time_point end;
};

// Never destroyed: the worker thread is detached and may run until the process ends.
CameraState& State() {
    static CameraState* state = new CameraState;
    return *state;
}

// Called with the mutex held.
void Fail(CameraState& s, const std::string& why) {
    s.lastError = why;
    std::fprintf(stderr, "SER playback camera: %s\n", why.c_str());
}

void PostDone(sem_t* done) {
    if (!done) return;
    int value = 0;
    // The semaphore counts to 1 at most.
    if (sem_getvalue(done, &value) == 0 && value >= 1) return;
    sem_post(done);
}

// The w x h centre of the full frame (left and top even, so that a Bayer mosaic keeps its
// pattern), mirrored when asked, into rows padded to 4 bytes.
void CopyOut(const std::vector<uint8_t>& full, int fullW, int fullH, int w, int h, bool flip,
             uint8_t* dst) {
    const int left = ((fullW - w) / 2) & ~1;
    const int top = ((fullH - h) / 2) & ~1;
    const size_t stride = (static_cast<size_t>(w) + 3) & ~static_cast<size_t>(3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = full.data() + static_cast<size_t>(top + y) * fullW + left;
        uint8_t* row = dst + stride * y;
        if (flip)
            std::reverse_copy(src, src + w, row);
        else
            std::memcpy(row, src, static_cast<size_t>(w));
    }
}

void Worker() {
    CameraState& s = State();
    std::vector<uint8_t> frame;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.requested; });
        s.requested = false;
        std::shared_ptr<sercam::SerReader> reader = s.reader;
        const int index = s.next;
        if (reader) s.next = (index + 1) % reader->FrameCount();
        const int w = s.readWidth, h = s.readHeight;
        const bool flip = s.readFlip;
        uint8_t* buffer = s.buffer;
        lock.unlock();

        // The frame is read while the exposure runs.
        std::string why;
        const bool ok = reader && reader->ReadFrame(index, &frame, &why);

        lock.lock();
        s.wake.wait_until(lock, s.end, [&] { return s.cancel; });
        if (ok)
            CopyOut(frame, reader->Width(), reader->Height(), w, h, flip, buffer);
        else
            Fail(s, reader ? why : "the camera is not open");
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

int CameraOption(const char* key, const char* value) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!key || !value || std::strcmp(key, "file") != 0) {
        Fail(s, std::string("unknown option \"") + (key ? key : "") + "\"");
        return 0;
    }
    if (!*value) {
        Fail(s, "the option file needs the path of a SER file");
        return 0;
    }
    s.file = value;
    return 1;
}

const char* CameraLastError(void) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.lastError.c_str();  // valid until the next failure
}

int openUSB(int /*reserved*/) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.busy) {
        Fail(s, "an exposure is running");
        return 0;
    }
    s.reader.reset();
    s.name.clear();
    s.width = s.height = 0;
    if (s.file.empty()) {
        Fail(s, "no SER file chosen (camera option file=PATH)");
        return 0;
    }
    auto reader = std::make_shared<sercam::SerReader>();
    std::string why;
    if (!reader->Open(s.file, &why)) {
        Fail(s, why);
        return 0;
    }
    s.reader = reader;
    s.name = "SER playback: " + s.file.substr(s.file.rfind('/') + 1);
    s.width = reader->Width();
    s.height = reader->Height();
    s.flip = false;
    s.next = 0;
    s.lastError.clear();
    return 1;
}

const char* GetCameraInfo(int* width, int* height) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (width) *width = s.reader ? s.reader->Width() : 0;
    if (height) *height = s.reader ? s.reader->Height() : 0;
    return s.name.c_str();  // changes only with openUSB
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
        if (s.busy || !s.reader) return 0;
        if (!s.workerStarted) {
            std::thread(Worker).detach();
            s.workerStarted = true;
        }
        s.buffer = static_cast<uint8_t*>(buffer);
        s.readWidth = s.width;
        s.readHeight = s.height;
        s.readFlip = s.flip;
        s.end = Clock::now() + std::chrono::milliseconds(s.exposureMs);
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

// A recorded file has its light fixed: gain and white balance are accepted and change nothing.
int SetGain(int /*gain*/) {
    return 1;
}

int SetWhiteBalance(int /*blue*/, int /*green*/, int /*red*/) {
    return 1;
}

int Subframe(int width, int height) {
    CameraState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.reader || width < 1 || height < 1 || width > s.reader->Width() ||
        height > s.reader->Height())
        return 0;
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

}  // extern "C"
