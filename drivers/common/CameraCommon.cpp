#include "CameraCommon.h"

#include <semaphore.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <thread>

#pragma GCC visibility push(default)
#include "tarvidll.h"
#pragma GCC visibility pop

namespace camera {
namespace {
using SteadyClock = std::chrono::steady_clock;

struct WorkerState {
    std::mutex mutex;
    std::condition_variable wake;
    Settings settings;
    sem_t* done = nullptr;

    // The exposure.
    bool workerStarted = false;
    std::thread thread;  // the worker, joined by stopWorker
    bool quit = false;   // the worker ends at its next wait
    bool requested = false;
    bool busy = false;
    bool cancel = false;
    uint8_t* buffer = nullptr;
    Settings used;
    FillFunction fill;
    SteadyClock::time_point start;
    int64_t startUnixUs = 0;

    // What CameraFrameInfo reports: the last exposure that ended.
    bool ended = false;
    FillResult lastResult;
    int64_t lastStartUnixUs = 0;
};

// The worker's nice value (0 is the program's own; 19 the least share).
constexpr int kWorkerNice = 5;

// Never destroyed: the worker thread may run until the process ends (stopWorker ends it).
WorkerState& state() {
    static WorkerState* state = new WorkerState;
    return *state;
}

void postDone(sem_t* done) {
    if (!done) return;
    int value = 0;
    // The semaphore counts to 1 at most.
    if (sem_getvalue(done, &value) == 0 && value >= 1) return;
    sem_post(done);
}

void worker() {
    // The worker stands in for the camera's own electronics, which work beside the computer:
    // its waits and its rendering yield the processor to the program (the window thread
    // first), so that a simulated camera measures the program rather than itself.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
    WorkerState& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.requested || s.quit; });
        if (!s.requested) return;  // quit
        s.requested = false;
        FillFunction fill = std::move(s.fill);
        const int64_t startUnixUs = s.startUnixUs;
        Exposure exposure(s.buffer, s.used, s.start, startUnixUs);
        lock.unlock();

        FillResult result;
        try {
            result = fill(exposure);
        } catch (...) {
            result.filled = false;  // out of memory, say: the buffer is not to be used
        }
        if (!exposure.waited()) exposure.waitForEnd();

        lock.lock();
        s.ended = true;
        s.lastResult = result;
        s.lastStartUnixUs = startUnixUs;
        s.busy = false;
        s.cancel = false;
        sem_t* done = s.done;
        lock.unlock();
        postDone(done);
        lock.lock();
    }
}

// True when the field at `offset`, `bytes` long, lies wholly within the struct the caller
// passed (whose size it set), so that an older caller's smaller struct is never overrun.
bool Within(const TarviFrameInfo* info, size_t offset, size_t bytes) {
    return offset + bytes <= info->size;
}
}  // namespace

double Exposure::waitForEnd() {
    if (waited_) return part_;
    WorkerState& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto end = start_ + std::chrono::microseconds(settings_.exposureUs);
    s.wake.wait_until(lock, end, [&] { return s.cancel; });
    if (s.cancel) {
        const double elapsedUs =
            std::chrono::duration<double, std::micro>(SteadyClock::now() - start_).count();
        part_ = std::clamp(elapsedUs / static_cast<double>(settings_.exposureUs), 0.0, 1.0);
    }
    waited_ = true;
    return part_;
}

Placement placeSubframe(const Settings& settings, int sensorWidth, int sensorHeight) {
    auto place = [](int asked, int size, int sensor) {
        const int room = std::max(sensor - size, 0);
        const int at = asked < 0 ? room / 2 : std::min(asked, room);
        return at & ~1;
    };
    return {place(settings.left, settings.width, sensorWidth),
            place(settings.top, settings.height, sensorHeight)};
}

int shiftedPattern(int pattern, int dx, int dy) {
    if (pattern < TARVI_PATTERN_RGGB || pattern > TARVI_PATTERN_BGGR) return pattern;
    // The 2 x 2 cells row by row, in the order of the pattern values.
    static const char* const kCells[4] = {"RGGB", "GRBG", "GBRG", "BGGR"};
    const char* cell = kCells[pattern - TARVI_PATTERN_RGGB];
    char moved[5] = {};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) moved[y * 2 + x] = cell[((y + dy) & 1) * 2 + ((x + dx) & 1)];
    for (int i = 0; i < 4; ++i)
        if (std::equal(moved, moved + 4, kCells[i])) return TARVI_PATTERN_RGGB + i;
    return pattern;
}

int mirroredPattern(int pattern, int width) {
    // Read leftwards from its last column the mosaic has the same cell as read rightwards
    // from there (the colours repeat every two columns).
    return shiftedPattern(pattern, width - 1, 0);
}

std::unique_lock<std::mutex> lockCamera() {
    return std::unique_lock<std::mutex>(state().mutex);
}

Settings& current() {
    return state().settings;
}

bool exposureRunning() {
    return state().busy;
}

void stopWorker() {
    WorkerState& s = state();
    std::thread worker;
    {
        auto lock = lockCamera();
        if (!s.workerStarted) return;
        // An exposure still running is cut short; its semaphore post is the last.
        s.cancel = true;
        s.quit = true;
        s.wake.notify_all();
        worker = std::move(s.thread);
        s.workerStarted = false;
    }
    if (worker.joinable()) worker.join();
    auto lock = lockCamera();
    s.quit = false;
    s.cancel = false;
    s.done = nullptr;
}

}  // namespace camera

using namespace camera;

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int ExposureSemaphore(sem_t* done) {
    auto lock = lockCamera();
    state().done = done;
    return 1;
}

int ThreadedExposure(void* buffer, int /*reserved*/, int /*mode*/) {
    if (!buffer) return 0;
    WorkerState& s = state();
    {
        auto lock = lockCamera();
        if (s.busy) return 0;
        FillFunction fill;
        try {
            fill = beginExposure(s.settings);
            if (!fill) return 0;
            if (!s.workerStarted) {
                s.thread = std::thread(worker);
                s.workerStarted = true;
            }
        } catch (const std::exception&) {
            return 0;  // no memory or no thread for the exposure
        }
        s.fill = std::move(fill);
        s.buffer = static_cast<uint8_t*>(buffer);
        s.used = s.settings;
        s.start = SteadyClock::now();
        s.startUnixUs = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        s.busy = true;
        s.cancel = false;
        s.requested = true;
    }
    s.wake.notify_all();
    return 1;
}

int CancelExposure(void) {
    WorkerState& s = state();
    {
        auto lock = lockCamera();
        if (!s.busy) return 0;
        s.cancel = true;
    }
    s.wake.notify_all();
    return 1;
}

int CameraFrameInfo(TarviFrameInfo* info) {
    if (!info) return 0;
    WorkerState& s = state();
    auto lock = lockCamera();
    if (!s.ended) return 0;
    const FillResult& r = s.lastResult;
#define TV_WITHIN(field) Within(info, offsetof(TarviFrameInfo, field), sizeof info->field)
    if (!TV_WITHIN(status)) return 0;
    info->status = r.filled ? TARVI_FRAME_GOOD : TARVI_FRAME_FAILED;
    if (TV_WITHIN(startUnixUs)) info->startUnixUs = s.lastStartUnixUs;
    // Depth and pattern only when the camera reported them; the caller's values stay else.
    if (r.bitsPerSample > 0 && TV_WITHIN(bitsPerSample)) info->bitsPerSample = r.bitsPerSample;
    if (r.colorPattern != TARVI_PATTERN_UNKNOWN && TV_WITHIN(colorPattern))
        info->colorPattern = r.colorPattern;
    if (r.subframeLeft >= 0 && r.subframeTop >= 0 && TV_WITHIN(subframeLeft) &&
        TV_WITHIN(subframeTop)) {
        info->subframeLeft = r.subframeLeft;
        info->subframeTop = r.subframeTop;
    }
#undef TV_WITHIN
    return 1;
}

int CameraSampleDepth(int bits) {
    auto lock = lockCamera();
    Settings& s = current();
    if (bits == 0) return s.maxBits;
    if (bits == 8 || (bits == 16 && s.maxBits > 8)) {
        s.depth = bits;
        return 1;
    }
    return 0;
}

int SetExposureLength(int ms) {
    auto lock = lockCamera();
    current().exposureUs = std::clamp(ms, 1, 10000) * 1000LL;
    return 1;
}

int SetExposureMicroseconds(long long us) {
    auto lock = lockCamera();
    current().exposureUs = std::clamp(us, 10LL, 10'000'000LL);
    return 1;
}

int SetGain(int gain) {
    auto lock = lockCamera();
    current().gain = std::clamp(gain, 0, 100);
    return 1;
}

int SetWhiteBalance(int blue, int green, int red) {
    auto lock = lockCamera();
    int* balance = current().balance;
    balance[0] = std::clamp(blue, 0, 255);
    balance[1] = std::clamp(green, 0, 255);
    balance[2] = std::clamp(red, 0, 255);
    return 1;
}

int Subframe(int width, int height) {
    auto lock = lockCamera();
    int maxWidth = 0, maxHeight = 0;
    maxSubframe(&maxWidth, &maxHeight);
    if (width < 1 || height < 1 || width > maxWidth || height > maxHeight) return 0;
    current().width = width;
    current().height = height;
    return 1;
}

int HorizontalFlip(int on) {
    auto lock = lockCamera();
    current().flip = on != 0;
    return 1;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
