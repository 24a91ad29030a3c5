// The live view through the real main window: the simulated camera at 1 ms exposure,
// the acquisition thread, and the frame hand-off on the window thread's event loop with
// colour demosaic, preview and histogram (offscreen platform). Each iteration is one frame
// handled by the window. Reports the frames handled per second, the rate the status bar
// shows, the most frames that were ever in flight between the two threads, and the window
// thread's own time per frame (handler_us_per_frame: hand-off, colour preview, histogram
// and, while recording, the hand-over to the writer thread), the figure that says how much
// of the window thread's time a frame takes, whatever the camera's pace.
// The second benchmark records a continuous SER (8 and 16 bits) or AVI file through the
// capture button on the same road, beside the camera alone, and sets the SER throughput
// beside a plain write of the same bytes with the same durability to the same folder, all
// measured in the same run. The window thread's CPU time per frame (everything its event
// loop did, the benchmark's loop included) is given beside the wall time of the hand-off,
// which on a loaded machine also counts the time the thread waited for a core. Each
// recording runs with the simulated camera rendering every frame (render=live) and again
// copying 16 frames rendered beforehand (render=cached), so that the camera's rendering
// no longer competes with the window and the writer for the two cores.
// The third benchmark measures how long an event posted to the window thread waits before
// it is handled while the camera runs at 1 ms, for a bounded time: what a user's input would
// wait for while the window handles the frames.
// The last one measures how far a drifting planet strays from the subframe's centre with
// "Track Planet" off and on.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSize>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TruthRecord.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "acquisition/Frame.h"
#include "display/PictureView.h"
#include "display/PreviewRenderer.h"
#include "recording/RecordingController.h"
#include "recording/RecordingGaps.h"
#include "session/PlanetTracker.h"
#include "shell/CapturePanel.h"
#include "shell/ControlMath.h"
#include "shell/ExposurePanel.h"
#include "shell/MainWindow.h"
#include "shell/SubframePanel.h"

namespace {

QApplication& app() {
    static QTemporaryDir* config = [] {
        auto* dir = new QTemporaryDir;  // the settings of this run, never the user's
        qputenv("XDG_CONFIG_HOME", dir->path().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return dir;
    }();
    (void)config;
    static int argc = 1;
    static char name[] = "bench_pipeline";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A widget or menu item of the window by its object name; the benchmark stops when the
// window no longer has it.
template <typename T>
T& child(QWidget& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (!child) qFatal("the main window has no %s", name);
    return *child;
}

// The window thread's time in the frame hand-off per frame, in microseconds, since a mark.
struct HandlerTime {
    uint64_t frames = 0;
    uint64_t nanoseconds = 0;
    static HandlerTime now(const MainWindow& mainWindow) {
        return {mainWindow.handoff().framesHandled(), mainWindow.handoff().nanosecondsHandling()};
    }
    double microsecondsPerFrameSince(const HandlerTime& mark) const {
        const uint64_t n = frames - mark.frames;
        return n > 0 ? static_cast<double>(nanoseconds - mark.nanoseconds) / 1e3 / n : 0.0;
    }
};

// One pass of the window thread's event loop that sleeps until something happens, as the
// program's own loop does (a loop that polls would take a core from the camera and the
// writer). A timer wakes it at least every 50 ms.
void waitForEvents() {
    static QTimer* tick = [] {
        auto* t = new QTimer;
        t->start(50);
        return t;
    }();
    (void)tick;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// CPU seconds of the calling thread (the window thread here), whatever the machine's load.
double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Handles events until the window has received `count` frames in all; false when none
// came for five seconds.
bool handleFramesUntil(MainWindow& mainWindow, uint64_t count, int& maxInFlight) {
    QElapsedTimer idle;
    idle.start();
    uint64_t last = mainWindow.framesReceived();
    while (mainWindow.framesReceived() < count) {
        maxInFlight = std::max(maxInFlight, mainWindow.capture().framesInFlight());
        waitForEvents();
        if (mainWindow.framesReceived() != last) {
            last = mainWindow.framesReceived();
            idle.restart();
        } else if (idle.elapsed() > 5000) {
            return false;
        }
    }
    return true;
}

// Loads the simulated camera with a sensor for frames of width x height (at least its usual
// 1280 x 960) and its frames rendered per exposure or copied from 16 frames rendered once.
// The options stay with the library until changed, so every benchmark on it sets them.
// False (the benchmark skipped) when the library does not load.
bool prepareCamera(benchmark::State& state, int width, int height, bool cached) {
    app();
    std::string error;
    if (!loadCameraLibrary(&error)) {
        state.SkipWithError(("camera library: " + error).c_str());
        return false;
    }
    const std::string size =
        std::to_string(std::max(width, 1280)) + "x" + std::to_string(std::max(height, 960));
    if (!applyCameraOptions({{"sensor", size}, {"render", cached ? "cached" : "live"}}, &error)) {
        state.SkipWithError(error.c_str());
        return false;
    }
    return true;
}

// The main window on the simulated camera at 1 ms exposure (or `exposureUs`), 50 % zoom (or
// `zoom` %: 25, 50, 100 or 200), showing frames of width x height; nullptr (with the benchmark
// skipped) when that fails.
std::unique_ptr<MainWindow> liveWindow(benchmark::State& state, int width, int height,
                                       int& maxInFlight, int depth = 8, int zoom = 50,
                                       int64_t exposureUs = 1000) {
    app();
    std::string error;
    if (!loadCameraLibrary(&error)) {
        state.SkipWithError(("camera library: " + error).c_str());
        return nullptr;
    }
    auto mainWindow = std::make_unique<MainWindow>();
    mainWindow->start();  // the library is loaded: no "NO CAMERA!" halt
    // On screen at its smallest size, as a user sees it: from 100 % on the preview draws
    // only the part of the picture in view.
    mainWindow->show();
    child<QAction>(*mainWindow, ("N" + std::to_string(zoom) + "1").c_str()).trigger();
    // The exposure, committed like a mouse release on the slider.
    auto& exposure = child<ExposurePanel>(*mainWindow, "ExposurePanel");
    exposure.setExposureUs(exposureUs);
    exposure.commitExposure();
    child<SubframePanel>(*mainWindow, "Panel11").setSliderPositions(width, height);
    child<QAction>(*mainWindow, depth == 16 ? "Depth16bit1" : "Depth8bit1").trigger();

    // Until the frames have the size and depth asked for.
    const QSize shown = zoomedSize(width, height, zoom);
    const PictureView& picture = child<PictureView>(*mainWindow, "Image1");
    const auto ready = [&] {
        return picture.pictureSize() == shown && mainWindow->capture().status().depth == depth;
    };
    for (int i = 0; i < 200 && !ready(); ++i) {
        if (!handleFramesUntil(*mainWindow, mainWindow->framesReceived() + 1, maxInFlight)) break;
    }
    if (!ready()) {
        state.SkipWithError("the frames never took the requested size");
        return nullptr;
    }
    return mainWindow;
}

void bmLiveViewThroughMainWindow(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    if (!prepareCamera(state, width, height, false)) return;
    int maxInFlight = 0;
    auto mainWindow = liveWindow(state, width, height, maxInFlight);
    if (!mainWindow) return;

    maxInFlight = 0;
    uint64_t frames = 0;
    int shownFps = 0;
    const QLabel& status = child<QLabel>(*mainWindow, "StatusPanel0");
    const HandlerTime mark = HandlerTime::now(*mainWindow);
    for (auto _ : state) {
        if (!handleFramesUntil(*mainWindow, mainWindow->framesReceived() + 1, maxInFlight)) {
            state.SkipWithError("no frame within 5 s");
            break;
        }
        ++frames;
        shownFps = std::max(shownFps, status.text().trimmed().split(' ')[0].toInt());
    }
    const double handlerUs = HandlerTime::now(*mainWindow).microsecondsPerFrameSince(mark);
    const bool throttled = mainWindow->capture().status().state == CameraState::Throttled;
    mainWindow.reset();  // stops the acquisition thread

    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["shown_fps"] = shownFps;
    state.counters["max_in_flight"] = maxInFlight;
    state.counters["handoff_budget_MB"] = CaptureThread::kHandOffBudgetBytes / 1e6;
    state.counters["throttled_at_end"] = throttled ? 1 : 0;
    state.counters["handler_us_per_frame"] = handlerUs;
}

BENCHMARK(bmLiveViewThroughMainWindow)
    ->Args({640, 480})
    ->UseRealTime()
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond);

// What the display stretch and the clip mark cost the window per frame: 1280 x 960 frames of
// `depth` bits at 100 % zoom and 20 ms exposures (the window draws every frame), in blocks of
// twenty frames plain, stretched (black 12, white 200, gamma 1.6) and stretched with the clip
// mark, in turn in one run. "plain_us", "stretched_us" and "clipped_us" are the window
// thread's CPU time per frame (hand-off, preview, histogram, painting); "ratio" is stretched
// to plain, "clip_ratio" stretched with the clip mark to plain.
void bmStretchedPreviewThroughMainWindow(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    if (!prepareCamera(state, 1280, 960, true)) return;
    int maxInFlight = 0;
    auto mainWindow = liveWindow(state, 1280, 960, maxInFlight, depth, 100, 20000);
    if (!mainWindow) return;
    auto& black = child<QSpinBox>(*mainWindow, "StretchBlack");
    auto& white = child<QSpinBox>(*mainWindow, "StretchWhite");
    auto& gamma = child<QDoubleSpinBox>(*mainWindow, "StretchGamma");
    auto& clipped = child<QAction>(*mainWindow, "ShowClipped1");
    double cpu[3] = {0, 0, 0};
    uint64_t frames[3] = {0, 0, 0};
    for (auto _ : state) {
        for (int mode = 0; mode < 3; ++mode) {
            // Through the controls, as a user sets them.
            black.setValue(mode > 0 ? 12 : 0);
            white.setValue(mode > 0 ? 200 : 255);
            gamma.setValue(mode > 0 ? 1.6 : 1.0);
            clipped.setChecked(mode == 2);
            // The frames on their way when the stretch changed, and the storing of the
            // choice, are not counted.
            if (!handleFramesUntil(*mainWindow, mainWindow->framesReceived() + 3, maxInFlight))
                return state.SkipWithError("no frame within 5 s");
            const uint64_t first = mainWindow->framesReceived();
            const double start = threadCpuSeconds();
            if (!handleFramesUntil(*mainWindow, first + 20, maxInFlight))
                return state.SkipWithError("no frame within 5 s");
            cpu[mode] += threadCpuSeconds() - start;
            frames[mode] += mainWindow->framesReceived() - first;
        }
    }
    double perFrame[3];
    for (int mode = 0; mode < 3; ++mode)
        perFrame[mode] = cpu[mode] / static_cast<double>(std::max<uint64_t>(frames[mode], 1)) * 1e6;
    state.counters["plain_us"] = perFrame[0];
    state.counters["stretched_us"] = perFrame[1];
    state.counters["clipped_us"] = perFrame[2];
    state.counters["ratio"] = perFrame[0] > 0 ? perFrame[1] / perFrame[0] : 0.0;
    state.counters["clip_ratio"] = perFrame[0] > 0 ? perFrame[2] / perFrame[0] : 0.0;
}
BENCHMARK(bmStretchedPreviewThroughMainWindow)
    ->ArgName("bits")
    ->Arg(8)
    ->Arg(16)
    ->Iterations(6)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Resident memory of this process in MB (VmRSS).
double residentMb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    long kib = 0;
    char line[256];
    while (f && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
    if (f) std::fclose(f);
    return kib / 1024.0;
}

// Seconds to write `frames` frame-sized pieces to a new file with the durability of a
// recording (fdatasync once a second), then remove it.
double plainWriteSeconds(const std::string& path, size_t frameBytes, size_t frames) {
    std::vector<char> frame(frameBytes, 0x40);
    QElapsedTimer t;
    t.start();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    qint64 synced = 0;
    for (size_t i = 0; i < frames && fd >= 0; ++i) {
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
        if (t.elapsed() - synced >= 1000) {
            ::fdatasync(fd);
            synced = t.elapsed();
        }
    }
    if (fd >= 0) {
        ::fdatasync(fd);
        ::close(fd);
    }
    const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
    ::unlink(path.c_str());
    return s;
}

// The simulated camera alone through the acquisition thread, frames freed as they come,
// for `ms` milliseconds at width x height, `depth` bits and `exposureUs`: frames per second.
double cameraAloneFps(int width, int height, int depth, int ms, int64_t exposureUs) {
    std::atomic<uint64_t> frames{0};
    std::atomic<bool> ready{false};
    CaptureThread capture([&](FramePtr f) {
        if (frameWidth(f.get()) == width && frameHeight(f.get()) == height &&
            frameDepth(f.get()) == depth) {
            ready = true;
            ++frames;
        }
    });
    if (!capture.openCamera()) return 0.0;
    capture.setExposureUs(exposureUs);
    capture.setSubframe(width, height);
    capture.setDepth(depth);
    capture.start();
    for (int i = 0; i < 500 && !ready; ++i) QThread::msleep(10);
    const uint64_t first = frames.load();
    QElapsedTimer t;
    t.start();
    QThread::msleep(ms);
    const double fps = (frames.load() - first) / (t.nsecsElapsed() / 1e9);
    capture.stop(5000);
    return fps;
}

enum class Output { Ser = 0, AviUncompressed = 1, AviIyuv = 2 };

// The frame sizes of the recording and latency benchmarks.
const QSize kFrameSizes[] = {{640, 480}, {1280, 960}, {4096, 3000}};

// A continuous recording through the capture button of the main window, beside the camera
// alone (measured before and after it, the mean taken, so a change of the machine's load
// during the run weighs on both sides) and a plain write of the same bytes with the same
// durability, all in one run.
// Args: width, height, output, bits per sample, seconds (0: the memory run, `frames`
// frames instead), frames, the camera's frames cached (1) or rendered live (0), and paced
// (1): the exposure made long enough that the camera brings half the bytes a second that
// the disk took in a plain synced write just before, so that the share measures what the
// program loses, not what the disk cannot take (at 1 ms the cached camera outruns the disk).
void bmRecordingThroughMainWindow(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto output = static_cast<Output>(state.range(2));
    const int depth = static_cast<int>(state.range(3));
    const int64_t seconds = state.range(4);
    const int64_t memoryFrames = state.range(5);
    const bool cached = state.range(6) != 0;
    const bool paced = state.range(7) != 0;
    if (!prepareCamera(state, width, height, cached)) return;
    QTemporaryDir folder;
    if (!folder.isValid()) return state.SkipWithError("no folder to write to");
    const std::string plainPath = (folder.path() + QStringLiteral("/plain.bin")).toStdString();
    const size_t frameBytes = static_cast<size_t>(width) * height * (depth > 8 ? 2 : 1);
    int64_t exposureUs = 1000;
    if (paced) {
        // About 400 MB, at least 20 frames.
        const size_t frames = std::max<size_t>(20, (400u << 20) / frameBytes);
        const double seconds = plainWriteSeconds(plainPath, frameBytes, frames);
        const double diskBytesPerSecond = seconds > 0 ? frameBytes * frames / seconds : 0.0;
        if (diskBytesPerSecond <= 0) return state.SkipWithError("the plain write failed");
        // At most 100 ms, the top of the exposure slider's first range.
        const auto wanted = std::clamp<int64_t>(
            static_cast<int64_t>(std::ceil(2e6 * frameBytes / diskBytesPerSecond)), 1000, 100000);
        // The exposure slider's nearest length at or above it: the window and the camera
        // alone run at the same length.
        int32_t position = exposurePositionOf(wanted);
        if (exposureUsAt(position) < wanted) ++position;
        exposureUs = exposureUsAt(position);
        state.counters["paced_exposure_ms"] = exposureUs / 1000.0;
    }
    const double cameraBefore = cameraAloneFps(width, height, depth, 2000, exposureUs);

    int maxInFlight = 0;
    auto mainWindow = liveWindow(state, width, height, maxInFlight, depth, 50, exposureUs);
    if (!mainWindow) return;
    if (mainWindow->capture().settings().exposureUs != exposureUs)
        return state.SkipWithError("the window took another exposure than the camera alone");
    CapturePanel& capture = mainWindow->capturePanel();
    capture.setCapturePath(folder.path() + QStringLiteral("/bench"));
    capture.setColorCamera(false);
    if (output == Output::Ser) {
        child<QAction>(*mainWindow, "SER8bit1").trigger();
    } else {
        child<QAction>(*mainWindow, "AVI2").trigger();
        mainWindow->recorder().avi().setCodec(
            output == Output::AviIyuv ? packFourCc('I', 'Y', 'U', 'V') : 0);
    }
    capture.setCountText(QStringLiteral("0"));
    const double rssStart = residentMb();
    child<QPushButton>(*mainWindow, "butCapture").click();
    if (!mainWindow->capture().recording()) return state.SkipWithError("recording did not start");

    QElapsedTimer wall;
    wall.start();
    const HandlerTime mark = HandlerTime::now(*mainWindow);
    const double cpuMark = threadCpuSeconds();
    const uint64_t firstFrame = mainWindow->framesReceived();
    double rssEarly = 0.0;
    const auto& budget = mainWindow->capture().frameBudget();
    for (auto _ : state) {
        for (;;) {
            const uint64_t got = mainWindow->framesReceived() - firstFrame;
            if (memoryFrames > 0 ? got >= static_cast<uint64_t>(memoryFrames)
                                 : wall.elapsed() >= seconds * 1000)
                break;
            if (memoryFrames > 0 && rssEarly == 0.0 &&
                got >= static_cast<uint64_t>(memoryFrames / 10))
                rssEarly = residentMb();
            if (!handleFramesUntil(*mainWindow, mainWindow->framesReceived() + 1, maxInFlight)) {
                state.SkipWithError("no frame within 5 s");
                break;
            }
        }
    }
    const double handlerUs = HandlerTime::now(*mainWindow).microsecondsPerFrameSince(mark);
    const uint64_t framesHandled = mainWindow->framesReceived() - firstFrame;
    const double windowCpuUs =
        framesHandled > 0 ? (threadCpuSeconds() - cpuMark) * 1e6 / framesHandled : 0.0;
    const double recordSeconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double rssEnd = residentMb();
    const double peakQueueMB = budget.peakBytesQueued() / 1e6;
    const double queueLimitMB = budget.queueLimit() / 1e6;
    // Cancel, then wait until the queue is written out and the file closed.
    child<QPushButton>(*mainWindow, "CancelButton").click();
    QElapsedTimer drain;
    drain.start();
    while (mainWindow->recorder().busy() && drain.elapsed() < 60000) waitForEvents();
    const double drainSeconds = drain.nsecsElapsed() / 1e9;
    const int32_t written = mainWindow->recorder().framesWritten();
    const uint64_t dataBytes = mainWindow->recorder().bytesWritten();
    const double writingSeconds = mainWindow->recorder().secondsWriting();
    const std::string gaps = gapText(mainWindow->recorder().lastGaps());
    mainWindow.reset();
    const double cameraAfter = cameraAloneFps(width, height, depth, 2000, exposureUs);
    const double cameraFps = (cameraBefore + cameraAfter) / 2;

    const double fps = written / recordSeconds;
    state.counters["camera_alone_fps"] = cameraFps;
    state.counters["camera_before_fps"] = cameraBefore;
    state.counters["camera_after_fps"] = cameraAfter;
    state.counters["fps"] = fps;
    state.counters["share_of_camera_%"] = cameraFps > 0 ? 100.0 * fps / cameraFps : 0.0;
    state.counters["frames_written"] = written;
    state.counters["handler_us_per_frame"] = handlerUs;
    state.counters["window_cpu_us_per_frame"] = windowCpuUs;
    state.counters["queue_peak_MB"] = peakQueueMB;
    state.counters["queue_budget_MB"] = queueLimitMB;
    state.counters["drain_s"] = drainSeconds;
    if (output == Output::Ser) {
        // The disk's own pace for the same bytes, written and synced the same way.
        const double plain = plainWriteSeconds(plainPath, dataBytes / std::max<int32_t>(written, 1),
                                               static_cast<size_t>(written));
        const double plainMBs = plain > 0 ? dataBytes / plain / 1e6 : 0.0;
        // The recording's pace: its bytes over the time until the last was written (the
        // recording plus the drain of the queue after Cancel). While the writer keeps up
        // this is the camera's pace, not the disk's.
        const double recordingMBs = dataBytes / (recordSeconds + drainSeconds) / 1e6;
        // The writer's pace: its bytes over the time the writer thread spent writing frames.
        const double writerMBs = writingSeconds > 0 ? dataBytes / writingSeconds / 1e6 : 0.0;
        state.counters["MB/s"] = recordingMBs;
        state.counters["writer_MB/s"] = writerMBs;
        state.counters["plain_synced_MB/s"] = plainMBs;
        state.counters["writer_vs_plain_%"] = plainMBs > 0 ? 100.0 * writerMBs / plainMBs : 0.0;
    }
    if (memoryFrames > 0) {
        state.counters["rss_start_MB"] = rssStart;
        state.counters["rss_at_10%_MB"] = rssEarly;
        state.counters["rss_end_MB"] = rssEnd;
        state.counters["rss_growth_MB"] = rssEnd - rssEarly;
    }
    state.SetLabel(gaps);
}

// SER at three frame sizes in 8 and 16 bits, then AVI uncompressed and IYUV at 1280 x 960,
// each for 5 s, first with the camera rendering live, then with its frames cached; last the
// SER cases again with the cached camera paced below the disk.
void recordingCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "out", "bits", "s", "frames", "cached", "paced"});
    for (const int cached : {0, 1}) {
        for (const int bits : {8, 16})
            for (const QSize size : kFrameSizes)
                b->Args({size.width(), size.height(), 0, bits, 5, 0, cached, 0});
        b->Args({1280, 960, 1, 8, 5, 0, cached, 0});
        b->Args({1280, 960, 2, 8, 5, 0, cached, 0});
    }
    for (const int bits : {8, 16})
        for (const QSize size : kFrameSizes)
            b->Args({size.width(), size.height(), 0, bits, 5, 0, 1, 1});
}
BENCHMARK(bmRecordingThroughMainWindow)
    ->Apply(recordingCases)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Resident memory over a long SER recording: 100,000 frames at 320 x 240.
void bmRecordingMemory(benchmark::State& state) {
    bmRecordingThroughMainWindow(state);
}
BENCHMARK(bmRecordingMemory)
    ->ArgNames({"w", "h", "out", "bits", "s", "frames", "cached", "paced"})
    ->Args({320, 240, 0, 8, 0, 100000, 0, 0})
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// An event posted to the window thread that carries its number; the receiver notes when
// it arrives.
class StampEvent : public QEvent {
  public:
    static QEvent::Type eventType() {
        static const auto kRegistered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kRegistered;
    }
    explicit StampEvent(size_t index) : QEvent(eventType()), index(index) {}
    const size_t index;
};

using SteadyClock = std::chrono::steady_clock;

// Lives on the window thread: the moment each stamp was handled.
class StampReceiver : public QObject {
  public:
    explicit StampReceiver(size_t capacity) : handled_(capacity) {}
    const std::vector<SteadyClock::time_point>& handled() const { return handled_; }

  protected:
    bool event(QEvent* e) override {
        if (e->type() != StampEvent::eventType()) return QObject::event(e);
        handled_[static_cast<StampEvent*>(e)->index] = SteadyClock::now();
        return true;
    }

  private:
    std::vector<SteadyClock::time_point> handled_;  // the epoch: not handled (yet)
};

// How long an event posted to the window thread waits until it is handled, while the main
// window shows the simulated camera at 1 ms exposure, width x height, `bits` bits, its
// frames rendered live or cached, at a zoom. A thread of its own posts an event every 10 ms
// for 4 s; the run then stops whatever the window does, and an event not handled by then
// counts with the time it has waited so far, so a starving window gives large figures, not
// an endless run. Args: width, height, bits, cached, zoom in percent.
void bmWindowLatency(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int depth = static_cast<int>(state.range(2));
    const bool cached = state.range(3) != 0;
    const int zoom = static_cast<int>(state.range(4));
    constexpr auto kPeriod = std::chrono::milliseconds(10);
    constexpr auto kMeasured = std::chrono::seconds(4);
    constexpr size_t kStamps = kMeasured / kPeriod;
    if (!prepareCamera(state, width, height, cached)) return;
    int maxInFlight = 0;
    auto mainWindow = liveWindow(state, width, height, maxInFlight, depth, zoom);
    if (!mainWindow) return;

    StampReceiver receiver(kStamps);
    std::vector<SteadyClock::time_point> posted(kStamps);
    size_t postedCount = 0;
    uint64_t frames = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        const uint64_t firstFrame = mainWindow->framesReceived();
        const SteadyClock::time_point start = SteadyClock::now();
        std::atomic<bool> stop{false};
        std::thread poster([&] {
            for (size_t i = 0; i < kStamps && !stop; ++i) {
                std::this_thread::sleep_until(start + i * kPeriod);
                posted[i] = SteadyClock::now();
                QCoreApplication::postEvent(&receiver, new StampEvent(i));
                postedCount = i + 1;
            }
        });
        while (SteadyClock::now() - start < kMeasured) waitForEvents();
        stop = true;
        poster.join();
        const SteadyClock::time_point end = SteadyClock::now();
        frames = mainWindow->framesReceived() - firstFrame;
        seconds = std::chrono::duration<double>(end - start).count();

        std::vector<double> delaysMs;
        size_t notHandled = 0;
        for (size_t i = 0; i < postedCount; ++i) {
            const SteadyClock::time_point handled = receiver.handled()[i];
            if (handled == SteadyClock::time_point{}) ++notHandled;
            const SteadyClock::time_point until =
                handled == SteadyClock::time_point{} ? end : handled;
            delaysMs.push_back(
                std::chrono::duration<double, std::milli>(until - posted[i]).count());
        }
        std::sort(delaysMs.begin(), delaysMs.end());
        const size_t over100 =
            delaysMs.end() - std::upper_bound(delaysMs.begin(), delaysMs.end(), 100.0);
        state.counters["median_delay_ms"] = delaysMs.empty() ? 0.0 : delaysMs[delaysMs.size() / 2];
        state.counters["max_delay_ms"] = delaysMs.empty() ? 0.0 : delaysMs.back();
        state.counters["events_posted"] = static_cast<double>(postedCount);
        state.counters["events_over_100ms"] = static_cast<double>(over100);
        state.counters["events_not_handled"] = static_cast<double>(notHandled);
    }
    mainWindow.reset();  // its pending frames go with it; the stamps with the receiver
    state.counters["window_fps"] = seconds > 0 ? frames / seconds : 0.0;
    state.counters["measured_s"] = seconds;
}
// Three frame sizes in 8 and 16 bits, the camera rendering live, then cached; at the
// program's default zoom of 100 % (the whole frame rendered for the preview), then at 50 %
// as in the recording benchmarks (the preview drawn at the picture's size).
void latencyCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "bits", "cached", "zoom"});
    for (const int zoom : {100, 50})
        for (const int cached : {0, 1})
            for (const int bits : {8, 16})
                for (const QSize size : kFrameSizes)
                    b->Args({size.width(), size.height(), bits, cached, zoom});
}
BENCHMARK(bmWindowLatency)
    ->Apply(latencyCases)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// How far the planet strays from the subframe's centre while the sky drifts (by `speed`
// pixels a second across and 0.6 times that down: 20 is 20 and 12), with "Track Planet" off
// and on, for 20 s or, when sooner, until the subframe would have to go past the sensor's
// edge to follow (the tracker is not what keeps it then): a 640 x 480 subframe of the
// 1280 x 960 sensor at 50 ms exposures; every 50 ms the newest line of the camera's truth
// record against the place of the newest frame. Reports the median and the 95th percentile
// of the distance in pixels, the share of samples with the planet within a tenth of the
// subframe's width and height of its centre, and the moves.
void bmTrackingDrift(benchmark::State& state) {
    const bool tracking = state.range(0) == 1;
    const int64_t speed = state.range(1);
    const std::string drift = std::to_string(speed) + "," + std::to_string(speed * 3 / 5);
    // The subframe's centre can go 320 pixels right of the sensor's centre and 240 down.
    const int64_t runMs = std::min<int64_t>(20000, 320 * 1000 / std::max<int64_t>(speed, 1));
    app();
    QTemporaryDir dir;
    const std::string truth = dir.filePath(QStringLiteral("truth.txt")).toStdString();
    std::string error;
    if (!loadCameraLibrary(&error) ||
        !applyCameraOptions(
            {{"sensor", "1280x960"}, {"render", "live"}, {"drift", drift}, {"truth", truth}},
            &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<double> distances;
    size_t withinTenth = 0;
    uint64_t moves = 0;
    for (auto _ : state) {
        auto mainWindow = std::make_unique<MainWindow>();
        mainWindow->start();
        auto& exposure = child<ExposurePanel>(*mainWindow, "ExposurePanel");
        exposure.setExposureUs(50000);
        exposure.commitExposure();
        child<SubframePanel>(*mainWindow, "Panel11").setSliderPositions(640, 480);
        child<QAction>(*mainWindow, "TrackPlanet1").setChecked(tracking);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < runMs) {
            app().processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(50);
            app().processEvents(QEventLoop::AllEvents, 5);
            const CaptureStatus at = mainWindow->capture().status();
            const std::vector<TruthLine> lines = truthLines(truth, 1);
            if (lines.empty() || at.frameLeft < 0 || at.width != 640) continue;
            const double dx = lines.back().x - (at.frameLeft + (at.width - 1) / 2.0);
            const double dy = lines.back().y - (at.frameTop + (at.height - 1) / 2.0);
            distances.push_back(std::hypot(dx, dy));
            withinTenth += std::abs(dx) <= at.width / 10.0 && std::abs(dy) <= at.height / 10.0;
        }
        moves = mainWindow->tracker().moves();
        mainWindow.reset();
    }
    applyCameraOptions({{"drift", "0,0"}, {"truth", ""}}, &error);
    if (distances.empty()) {
        state.SkipWithError("no frame of the subframe's size");
        return;
    }
    std::sort(distances.begin(), distances.end());
    state.counters["median_px"] = distances[distances.size() / 2];
    state.counters["p95_px"] = distances[distances.size() * 95 / 100];
    state.counters["within_tenth_%"] =
        100.0 * static_cast<double>(withinTenth) / static_cast<double>(distances.size());
    state.counters["moves"] = static_cast<double>(moves);
    state.counters["samples"] = static_cast<double>(distances.size());
    state.counters["seconds"] = runMs / 1000.0;
}
BENCHMARK(bmTrackingDrift)
    ->ArgNames({"tracking", "speed"})
    ->Args({0, 20})
    ->Args({1, 5})
    ->Args({1, 20})
    ->Args({1, 50})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
