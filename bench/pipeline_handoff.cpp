// The live view through the real main window: the simulated camera at 1 ms exposure,
// the acquisition thread, and the frame hand-off on the window thread's event loop with
// colour demosaic, preview and histogram (offscreen platform). Each iteration is one frame
// handled by the window. Reports the frames handled per second, the rate the status bar
// shows, the most frames that were ever in flight between the two threads, and the window
// thread's own time per frame (handler_us_per_frame: hand-off, colour preview, histogram
// and, while recording, the SER write), the figure that says how much of the window
// thread's time a frame takes, whatever the camera's pace.
// The second benchmark records a continuous SER file through the capture button on the
// same road and sets its throughput beside a plain write of the same bytes to the same
// folder, measured in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <string>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "acquisition/Frame.h"
#include "display/PictureView.h"
#include "recording/RecordingController.h"
#include "shell/CapturePanel.h"
#include "shell/ExposurePanel.h"
#include "shell/MainWindow.h"
#include "shell/SubframePanel.h"

namespace {

QApplication& App() {
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
T& Child(QWidget& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (!child) qFatal("the main window has no %s", name);
    return *child;
}

// The window thread's time in the frame hand-off per frame, in microseconds, since a mark.
struct HandlerTime {
    uint64_t frames = 0;
    uint64_t nanoseconds = 0;
    static HandlerTime Now(const MainWindow& form) {
        return {form.handoff().framesHandled(), form.handoff().nanosecondsHandling()};
    }
    double MicrosecondsPerFrameSince(const HandlerTime& mark) const {
        const uint64_t n = frames - mark.frames;
        return n > 0 ? static_cast<double>(nanoseconds - mark.nanoseconds) / 1e3 / n : 0.0;
    }
};

// Handles events until the window has received `count` frames in all; false when none
// came for five seconds.
bool HandleFramesUntil(MainWindow& form, uint64_t count, int& maxInFlight) {
    QElapsedTimer idle;
    idle.start();
    uint64_t last = form.framesReceived();
    while (form.framesReceived() < count) {
        maxInFlight = std::max(maxInFlight, form.capture().framesInFlight());
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (form.framesReceived() != last) {
            last = form.framesReceived();
            idle.restart();
        } else if (idle.elapsed() > 5000) {
            return false;
        }
    }
    return true;
}

// The main window on the simulated camera at 1 ms exposure, 50 % zoom, showing frames of
// width x height; nullptr (with the benchmark skipped) when that fails.
std::unique_ptr<MainWindow> LiveWindow(benchmark::State& state, int width, int height,
                                       int& maxInFlight) {
    App();
    std::string error;
    if (!LoadCameraLibrary(&error)) {
        state.SkipWithError(("camera library: " + error).c_str());
        return nullptr;
    }
    auto form = std::make_unique<MainWindow>();
    form->splashDelayMs = 0;
    form->start();  // the library is loaded: no "NO CAMERA!" halt
    Child<QAction>(*form, "N501").trigger();
    // The shortest exposure, committed like a mouse release on the slider.
    auto& exposure = Child<ExposurePanel>(*form, "ExposurePanel");
    exposure.setExposureMs(1);
    exposure.commitExposure();
    Child<SubframePanel>(*form, "Panel11").setSliderPositions(width, height);

    // Until the frames have the size asked for.
    const QSize shown(width / 2, height / 2);
    const PictureView& picture = Child<PictureView>(*form, "Image1");
    for (int i = 0; i < 200 && picture.Bitmap().size() != shown; ++i) {
        if (!HandleFramesUntil(*form, form->framesReceived() + 1, maxInFlight)) break;
    }
    if (picture.Bitmap().size() != shown) {
        state.SkipWithError("the frames never took the requested size");
        return nullptr;
    }
    return form;
}

void BM_LiveViewThroughMainWindow(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    int maxInFlight = 0;
    auto form = LiveWindow(state, width, height, maxInFlight);
    if (!form) return;

    maxInFlight = 0;
    uint64_t frames = 0;
    int shownFps = 0;
    const QLabel& status = Child<QLabel>(*form, "StatusPanel0");
    const HandlerTime mark = HandlerTime::Now(*form);
    for (auto _ : state) {
        if (!HandleFramesUntil(*form, form->framesReceived() + 1, maxInFlight)) {
            state.SkipWithError("no frame within 5 s");
            break;
        }
        ++frames;
        shownFps = std::max(shownFps, status.text().trimmed().split(' ')[0].toInt());
    }
    const double handlerUs = HandlerTime::Now(*form).MicrosecondsPerFrameSince(mark);
    const bool throttled = form->capture().status().state == CameraState::Throttled;
    form.reset();  // stops the acquisition thread

    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["shown_fps"] = shownFps;
    state.counters["max_in_flight"] = maxInFlight;
    state.counters["handoff_budget_MB"] = CaptureThread::kHandOffBudgetBytes / 1e6;
    state.counters["throttled_at_end"] = throttled ? 1 : 0;
    state.counters["handler_us_per_frame"] = handlerUs;
}

BENCHMARK(BM_LiveViewThroughMainWindow)
    ->Args({640, 480})
    ->UseRealTime()
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond);

// Seconds to write `bytes` bytes in frame-sized pieces to a new file, then remove it.
double PlainWriteSeconds(const std::string& path, size_t frameBytes, size_t frames) {
    std::vector<char> frame(frameBytes, 0x40);
    QElapsedTimer t;
    t.start();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (size_t i = 0; i < frames && fd >= 0; ++i)
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
    if (fd >= 0) ::close(fd);
    const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
    ::unlink(path.c_str());
    return s;
}

void BM_SerRecordingThroughMainWindow(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    int maxInFlight = 0;
    auto form = LiveWindow(state, width, height, maxInFlight);
    if (!form) return;
    QTemporaryDir folder;
    if (!folder.isValid()) return state.SkipWithError("no folder to write to");

    // A continuous SER recording, started the way the user starts one.
    CapturePanel& capture = form->capturePanel();
    capture.setCapturePath(folder.path() + QStringLiteral("/bench"));
    Child<QAction>(*form, "SER8bit1").trigger();
    capture.setCountText(QStringLiteral("0"));
    Child<QPushButton>(*form, "butCapture").click();
    if (form->capture().recording() != 1) return state.SkipWithError("recording did not start");

    // Three seconds of recording; one benchmark iteration is the whole recording.
    QElapsedTimer wall;
    wall.start();
    maxInFlight = 0;
    const HandlerTime mark = HandlerTime::Now(*form);
    for (auto _ : state) {
        while (wall.elapsed() < 3000) {
            if (!HandleFramesUntil(*form, form->framesReceived() + 1, maxInFlight)) {
                state.SkipWithError("no frame within 5 s");
                break;
            }
        }
    }
    const double handlerUs = HandlerTime::Now(*form).MicrosecondsPerFrameSince(mark);
    Child<QPushButton>(*form, "CancelButton").click();
    for (int i = 0; i < 100 && form->capture().recording(); ++i)
        HandleFramesUntil(*form, form->framesReceived() + 1, maxInFlight);
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const int32_t written = form->recorder().framesWritten();
    form.reset();

    const QString serFile = folder.path() + QStringLiteral("/bench_00000.SER");
    const double fileBytes = static_cast<double>(QFileInfo(serFile).size());
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    const double plain =
        PlainWriteSeconds((folder.path() + QStringLiteral("/plain.bin")).toStdString(), frameBytes,
                          static_cast<size_t>(written));
    const double dataBytes = static_cast<double>(frameBytes) * written;
    state.counters["frames_written"] = written;
    state.counters["fps"] = written / seconds;
    state.counters["MB/s"] = dataBytes / seconds / 1e6;
    state.counters["file_MB"] = fileBytes / 1e6;
    state.counters["plain_MB/s"] = plain > 0 ? dataBytes / plain / 1e6 : 0.0;
    state.counters["max_in_flight"] = maxInFlight;
    state.counters["handler_us_per_frame"] = handlerUs;
}

// The recording runs at the camera's pace: the figure beside the plain write shows how far
// below the disk's speed that pace lies, and that no frame is lost on the way.
BENCHMARK(BM_SerRecordingThroughMainWindow)
    ->Args({640, 480})
    ->Args({1280, 960})
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
