// The live view through the real main window: the simulated camera at 1 ms exposure,
// the acquisition thread, and the frame hand-off on the window thread's event loop with
// colour demosaic, preview and histogram (offscreen platform). Each iteration is one frame
// handled by the window. Reports the frames handled per second, the rate the status bar
// shows, and the most frames that were ever in flight between the two threads.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <string>

#include "acquisition/CameraLib.h"
#include "acquisition/ImageList.h"
#include "acquisition/VideoCapture.h"
#include "display/Picture.h"
#include "shell/Main.h"
#include "shell/TrackBar.h"

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

// Handles events until the window has received `count` frames in all; false when none
// came for five seconds.
bool HandleFramesUntil(TForm1& form, uint64_t count, int& maxInFlight) {
    QElapsedTimer idle;
    idle.start();
    uint64_t last = form.FramesReceived;
    while (form.FramesReceived < count) {
        maxInFlight = std::max(maxInFlight, FramesInFlight.load());
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (form.FramesReceived != last) {
            last = form.FramesReceived;
            idle.restart();
        } else if (idle.elapsed() > 5000) {
            return false;
        }
    }
    return true;
}

void BM_LiveViewThroughMainWindow(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    App();
    std::string error;
    if (!LoadCameraLibrary(&error)) {
        state.SkipWithError(("camera library: " + error).c_str());
        return;
    }
    auto form = std::make_unique<TForm1>();
    form->SplashDelayMs = 0;
    form->FormCreate();  // the library is loaded: no "NO CAMERA!" halt
    form->N501->trigger();
    form->Capture->ExposureMs = 1;
    form->SliderWidth->SetPosition(width);
    form->SliderHeight->SetPosition(height);

    // Until the frames have the size asked for.
    int maxInFlight = 0;
    const QSize shown(width / 2, height / 2);
    for (int i = 0; i < 200 && form->Image1->Bitmap().size() != shown; ++i) {
        if (!HandleFramesUntil(*form, form->FramesReceived + 1, maxInFlight)) break;
    }
    if (form->Image1->Bitmap().size() != shown) {
        state.SkipWithError("the frames never took the requested size");
        return;
    }

    maxInFlight = 0;
    uint64_t frames = 0;
    int shownFps = 0;
    for (auto _ : state) {
        if (!HandleFramesUntil(*form, form->FramesReceived + 1, maxInFlight)) {
            state.SkipWithError("no frame within 5 s");
            break;
        }
        ++frames;
        shownFps = std::max(shownFps, form->StatusPanel(0)->text().trimmed().split(' ')[0].toInt());
    }
    const bool throttled = form->Capture->State() == CameraState::Throttled;
    form.reset();  // stops the acquisition thread

    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["shown_fps"] = shownFps;
    state.counters["max_in_flight"] = maxInFlight;
    state.counters["budget"] = TVideoCapture::kMaxFramesInFlight;
    state.counters["throttled_at_end"] = throttled ? 1 : 0;
}

BENCHMARK(BM_LiveViewThroughMainWindow)
    ->Args({640, 480})
    ->UseRealTime()
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond);

}  // namespace
