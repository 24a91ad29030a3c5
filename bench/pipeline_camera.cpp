// Frame rate of the simulated camera driven by the acquisition thread at 1 ms exposure.
// Each iteration is one frame taken from the hand-off and freed, as the window thread does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "FrameQueue.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"

namespace {

void bmSimulatedCameraThroughAcquisitionThread(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    std::string error;
    if (!loadCameraLibrary(&error)) {
        state.SkipWithError(("camera library: " + error).c_str());
        return;
    }
    // Every frame rendered, whatever an earlier benchmark chose.
    applyCameraOptions({{"render", "live"}}, &error);
    FrameQueue handoff;
    CaptureThread capture(handoff.poster());
    if (!capture.openCamera()) {
        state.SkipWithError("camera did not open");
        return;
    }
    capture.setExposureMs(1);
    capture.start();
    // The thread starts on the full frame; ask for the size and wait until it is delivered.
    handoff.pop(5000);
    capture.setSubframeWidth(width);
    capture.setSubframeHeight(height);
    for (int i = 0; i < 100; ++i) {
        const FramePtr frame = handoff.pop(5000);
        if (!frame) break;
        if (frameWidth(frame.get()) == width && frameHeight(frame.get()) == height) break;
    }

    int64_t frames = 0;
    for (auto _ : state) {
        const FramePtr frame = handoff.pop(5000);
        if (!frame) {
            state.SkipWithError("no frame within 5 s");
            break;
        }
        benchmark::DoNotOptimize(frameData(frame.get()));
        ++frames;
    }
    capture.stop(5000);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(frames) * width * height / 1e6,
                                                benchmark::Counter::kIsRate);
}

BENCHMARK(bmSimulatedCameraThroughAcquisitionThread)
    ->Args({640, 480})
    ->Args({1280, 960})
    ->UseRealTime()
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);

}  // namespace
