// The seeing figure against the simulated sky's truth: 60 s of the simulated camera at
// `seeing=2` through the acquisition thread, 640 x 480 at 5 ms exposures, every frame
// measured as the recording measures it; the rank correlation (Spearman) of the figure with
// the negated true blur of each frame, and the figure's own pace beside the camera's. At
// gain 75 the planet is well exposed (a mean level of about 16 of 255, its disc about 60);
// at the camera's default gain of 10 it lies a few levels above the bias, in the noise.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "FrameQueue.h"
#include "RankCorrelation.h"
#include "TruthRecord.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "analysis/FrameQuality.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"

namespace {

void bmSeeingRanking(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    const int gain = static_cast<int>(state.range(1));
    QTemporaryDir dir;
    const std::string truth = dir.filePath(QStringLiteral("truth.txt")).toStdString();
    std::string error;
    if (!loadCameraLibrary(&error) ||
        !applyCameraOptions(
            {{"sensor", "640x480"}, {"render", "live"}, {"seeing", "2"}, {"truth", truth}},
            &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<std::pair<int64_t, double>> figures;  // exposure start (unix us), figure
    double measureSeconds = 0;
    double runSeconds = 0;
    double level = 0;
    for (auto _ : state) {
        FrameQueue handoff;
        CaptureThread capture(handoff.poster());
        if (!capture.openCamera()) {
            state.SkipWithError("camera did not open");
            break;
        }
        capture.setExposureUs(5000);
        capture.setGain(gain);
        capture.start();
        const int32_t offset = utcOffsetSeconds();
        const auto started = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - started < std::chrono::seconds(seconds)) {
            const FramePtr frame = handoff.pop(5000);
            if (!frame) break;
            const auto before = std::chrono::steady_clock::now();
            const double figure = frameQuality(
                frame->rawImage, {.mosaic = frame->pattern != ColorPattern::Mono, .region = {}});
            measureSeconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
            const int64_t us =
                (frame->timeStamp.ticks() - PreciseDateTime::fromUnixMicros(0, offset).ticks()) /
                10;
            figures.push_back({us, figure});
            level += cv::mean(frame->rawImage)[0];
        }
        runSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        capture.stop(5000);
    }
    applyCameraOptions({{"seeing", "0"}, {"truth", ""}}, &error);
    std::map<int64_t, double> blurAt;
    for (const TruthLine& t : truthLines(truth, figures.size())) blurAt[t.startUs] = t.blur;
    std::vector<double> figure, sharpness;
    for (const auto& [us, value] : figures) {
        const auto it = blurAt.find(us);
        if (it == blurAt.end()) continue;
        figure.push_back(value);
        sharpness.push_back(-it->second);
    }
    if (figure.size() < 100) {
        state.SkipWithError("too few frames matched their truth");
        return;
    }
    state.counters["spearman"] = spearman(figure, sharpness);
    state.counters["frames"] = static_cast<double>(figure.size());
    state.counters["mean_level"] = level / static_cast<double>(figures.size());
    state.counters["camera_fps"] = static_cast<double>(figures.size()) / runSeconds;
    state.counters["figure_fps"] = static_cast<double>(figures.size()) / measureSeconds;
}
BENCHMARK(bmSeeingRanking)
    ->ArgNames({"seconds", "gain"})
    ->Args({60, 75})
    ->Args({60, 10})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
