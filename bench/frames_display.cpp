// Preview rendering at each zoom against a bare nearest-neighbour resize of the same frame
// into a preallocated buffer, measured side by side; the histogram count; the focus number.
#include <benchmark/benchmark.h>

#include <QImage>
#include <chrono>
#include <cmath>
#include <ctime>
#include <opencv2/imgproc.hpp>

#include "acquisition/Frame.h"
#include "display/FocusMeasure.h"
#include "display/Histogram.h"
#include "display/PreviewRenderer.h"

namespace {

constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 960;

// CPU seconds of the whole process (OpenCV may resize on several threads). On a machine
// shared with other work this is steadier than the wall clock.
double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Process CPU and wall seconds spent on one piece of work, summed over the iterations.
struct Spent {
    double cpu = 0, wall = 0;
};
// Runs `work`, adds its times to `spent` and returns its wall time.
template <class Work>
double timeInto(Spent& spent, Work&& work) {
    const double c0 = processCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    spent.cpu += processCpuSeconds() - c0;
    spent.wall += wall;
    return wall;
}

// A camera frame of random samples: 8-bit, or 12 significant bits in 16-bit words; an RGGB
// mosaic for `colour`.
FramePtr randomCameraFrame(int width, int height, int depth, bool colour) {
    FramePtr frame = newFrame(width, height, "", false, depth);
    frame->bitsPerSample = depth == 16 ? 12 : 8;
    frame->pattern = colour ? ColorPattern::RGGB : ColorPattern::Mono;
    cv::RNG(42).fill(frame->rawImage, cv::RNG::UNIFORM, 0, 1 << frame->bitsPerSample);
    return frame;
}

cv::Mat testFrame(int channels) {
    cv::Mat frame(kFrameHeight, kFrameWidth, CV_8UC(channels));
    cv::RNG(42).fill(frame, cv::RNG::UNIFORM, 0, 256);
    return frame;
}

// Args: channels, zoom percent. Reports the wall time of PreviewRenderer::render per frame and, as
// the counters "ratio" (process CPU time) and "ratio_wall", its time over that of the bare
// resize run alternately with it.
void bmRenderPreview(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const int channels = static_cast<int>(state.range(0));
    const int zoom = static_cast<int>(state.range(1));
    PreviewRenderer renderer;
    renderer.setZoom(zoom);

    cv::Mat frame = testFrame(channels);
    QImage picture, focus;
    renderer.render(frame, picture, focus, false);  // sizes the picture once
    const QSize size = zoomedSize(kFrameWidth, kFrameHeight, zoom);
    cv::Mat bare(size.height(), size.width(), CV_8UC(channels));

    double renderSeconds = 0, bareSeconds = 0, renderCpu = 0, bareCpu = 0;
    for (auto _ : state) {
        const double c0 = processCpuSeconds();
        const auto t0 = Clock::now();
        renderer.render(frame, picture, focus, false);
        const auto t1 = Clock::now();
        const double c1 = processCpuSeconds();
        cv::resize(frame, bare, bare.size(), 0, 0, cv::INTER_NEAREST);
        const auto t2 = Clock::now();
        const double c2 = processCpuSeconds();
        renderCpu += c1 - c0;
        bareCpu += c2 - c1;
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::DoNotOptimize(bare.data);
        const double render = std::chrono::duration<double>(t1 - t0).count();
        renderSeconds += render;
        bareSeconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(render);
    }
    state.counters["ratio"] = bareCpu > 0 ? renderCpu / bareCpu : 0.0;
    state.counters["ratio_wall"] = bareSeconds > 0 ? renderSeconds / bareSeconds : 0.0;
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
// The whole preview of one camera frame at 100 %: its 8-bit view (scaled from 12 bits in
// 16-bit words, or the frame itself at 8), the demosaic when colour, the render. Args: bits
// per sample word (8 or 16), colour (0 or 1).
void bmPreviewFrame(benchmark::State& state) {
    const bool colour = state.range(1) != 0;
    FramePtr frame =
        randomCameraFrame(kFrameWidth, kFrameHeight, static_cast<int>(state.range(0)), colour);
    PreviewRenderer renderer;
    QImage picture, focus;
    for (auto _ : state) {
        frame->image8.release();
        frame->colorImage.release();
        prepareImage8(*frame);
        if (colour) ensureColorImage(*frame);
        cv::Mat& shown = colour ? frame->colorImage : frame->image8;
        renderer.render(shown, picture, focus, false);
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
// The preview of a large camera frame (4096 x 3000) at a reduced zoom, by both roads
// alternately in one run: the whole frame converted to 8 bits and demosaiced, then resampled
// ("whole_ms", the road of every zoom before), and the frame drawn straight from its samples
// at the picture's size ("reduced_ms", PreviewRenderer::renderReduced; an 8-bit grey frame
// is its own 8-bit view and takes the ordinary render on both sides). "speedup" is the
// ratio of their process CPU times. Args: bits per sample word, colour, zoom percent.
void bmPreviewLargeFrame(benchmark::State& state) {
    const bool colour = state.range(1) != 0;
    FramePtr frame = randomCameraFrame(4096, 3000, static_cast<int>(state.range(0)), colour);
    PreviewRenderer renderer;
    renderer.setZoom(static_cast<int>(state.range(2)));
    QImage picture, focus;
    Spent whole, reduced;
    for (auto _ : state) {
        timeInto(whole, [&] {
            prepareImage8(*frame);
            if (colour) ensureColorImage(*frame);
            renderer.render(colour ? frame->colorImage : frame->image8, picture, focus, false);
        });
        frame->image8.release();  // the whole road's memory goes back outside both timings
        frame->colorImage.release();
        state.SetIterationTime(timeInto(reduced, [&] {
            if (!renderer.renderReduced(*frame, colour, picture, focus, false)) {
                prepareImage8(*frame);
                renderer.render(frame->image8, picture, focus, false);
            }
        }));
        benchmark::DoNotOptimize(picture.constBits());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["whole_ms"] = whole.wall / n * 1e3;
    state.counters["reduced_ms"] = reduced.wall / n * 1e3;
    state.counters["speedup"] = reduced.cpu > 0 ? whole.cpu / reduced.cpu : 0.0;
}
// The preview of a 1280 x 960 camera frame as the window draws it (the part in view, here the
// whole frame at 100 %), without and with the display stretch and the clip mark, alternately
// in one run: "plain_ms" and "stretched_ms" per frame, "ratio" their process CPU times. Args:
// bits per sample word (16: 12 significant), colour.
void bmPreviewStretch(benchmark::State& state) {
    const bool colour = state.range(1) != 0;
    FramePtr frame =
        randomCameraFrame(kFrameWidth, kFrameHeight, static_cast<int>(state.range(0)), colour);
    const PreviewSource source = previewSourceOf(*frame, colour);
    const QRect visible(0, 0, kFrameWidth, kFrameHeight);
    PreviewRenderer plain, stretched;
    stretched.setLevels(DisplayLevels{.black = 12, .white = 200, .gamma = 1.6});
    stretched.setShowClipped(true);
    QImage picture, focus;
    Spent without, with;
    for (auto _ : state) {
        timeInto(without, [&] { plain.renderRegion(source, visible, picture, focus); });
        state.SetIterationTime(
            timeInto(with, [&] { stretched.renderRegion(source, visible, picture, focus); }));
        benchmark::DoNotOptimize(picture.constBits());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_ms"] = without.wall / n * 1e3;
    state.counters["stretched_ms"] = with.wall / n * 1e3;
    state.counters["ratio"] = without.cpu > 0 ? with.cpu / without.cpu : 0.0;
}
BENCHMARK(bmPreviewStretch)
    ->ArgNames({"bits", "colour"})
    ->ArgsProduct({{8, 16}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(bmPreviewLargeFrame)
    ->ArgNames({"bits", "colour", "zoom"})
    ->ArgsProduct({{8, 16}, {0, 1}, {25, 50}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(bmPreviewFrame)
    ->ArgNames({"bits", "colour"})
    ->ArgsProduct({{8, 16}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(bmRenderPreview)
    ->ArgNames({"channels", "zoom"})
    ->ArgsProduct({{1, 3}, {25, 50, 100, 200}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void bmHistogramCount(benchmark::State& state) {
    const cv::Mat frame = testFrame(1);
    HistogramResult result;
    for (auto _ : state) {
        computeHistogram(frame, state.range(0) != 0, result);
        benchmark::DoNotOptimize(result.average);
    }
    state.SetItemsProcessed(state.iterations() * kFrameWidth * kFrameHeight);
}
BENCHMARK(bmHistogramCount)->ArgName("log")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A 1280 x 960 grey frame of sky (level 20, noise 2) with, at the centre, a Gaussian star of
// `sigma` pixels (sigma 0: a banded, limb-darkened planet of radius 150 instead).
cv::Mat focusFrame(double sigma) {
    cv::Mat f(kFrameHeight, kFrameWidth, CV_32F);
    const double cx = kFrameWidth / 2 + 0.3, cy = kFrameHeight / 2 - 0.4;
    for (int y = 0; y < f.rows; ++y)
        for (int x = 0; x < f.cols; ++x) {
            const double dx = x - cx, dy = y - cy, r2 = dx * dx + dy * dy;
            double v = 20;
            if (sigma > 0) {
                v += 180 * std::exp(-r2 / (2 * sigma * sigma));
            } else if (r2 < 150.0 * 150.0) {
                const double limb = 0.4 + 0.6 * std::sqrt(1 - r2 / (150.0 * 150.0));
                v += 200 * limb * (1 - 0.3 * (std::sin(dy / 9) > 0.7));
            }
            f.at<float>(y, x) = static_cast<float>(v);
        }
    cv::Mat noise(f.size(), CV_32F), out;
    cv::RNG(7).fill(noise, cv::RNG::NORMAL, 0, 2);
    cv::Mat(f + noise).convertTo(out, CV_8U);
    return out;
}

// One focus-number update around the frame's centre. Arg: star sigma, 0 for the planet
// (measured 60 pixels inside its limb). The goal is well under 1 ms.
void bmMeasureFocus(benchmark::State& state) {
    const double sigma = static_cast<double>(state.range(0));
    const cv::Mat frame = focusFrame(sigma);
    const cv::Point at = sigma > 0 ? cv::Point(kFrameWidth / 2, kFrameHeight / 2)
                                   : cv::Point(kFrameWidth / 2, kFrameHeight / 2 - 90);
    const FocusFigure expected = measureFocus(frame, at);
    if (expected.kind != (sigma > 0 ? FocusFigure::Kind::Star : FocusFigure::Kind::Extended))
        state.SkipWithError("the test frame is not measured as intended");
    for (auto _ : state) {
        const FocusFigure figure = measureFocus(frame, at);
        benchmark::DoNotOptimize(figure.value);
    }
    state.SetLabel(focusText(expected));
}
BENCHMARK(bmMeasureFocus)
    ->ArgName("sigma")
    ->Arg(1)
    ->Arg(3)
    ->Arg(8)
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
