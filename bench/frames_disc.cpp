// The disc finder and the seeing figure on one core: a banded planet with two moons, a few
// stars, hot pixels and noise, as a colour mosaic of 8 bits and as 16-bit mono samples, at
// 640 x 480 and 1280 x 960.
#include <benchmark/benchmark.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "analysis/DiscFinder.h"
#include "analysis/FrameQuality.h"

namespace {

cv::Mat skyFrame(int width, int height, int depth) {
    const double full = depth == CV_8U ? 255 : 4095;
    cv::Mat sky(height, width, CV_32F, cv::Scalar(0.02 * full));
    const cv::Point centre(width / 2 + 17, height / 2 - 11);
    const int radius = height / 5;
    cv::circle(sky, centre, radius, cv::Scalar(0.75 * full), cv::FILLED, cv::LINE_AA);
    for (int band = -2; band <= 2; band += 2)
        cv::rectangle(
            sky, cv::Rect(centre.x - radius, centre.y + band * radius / 5, 2 * radius, radius / 8),
            cv::Scalar(0.5 * full), cv::FILLED);
    cv::circle(sky, centre + cv::Point(-radius * 17 / 10, 4), 3, cv::Scalar(0.9 * full),
               cv::FILLED);
    cv::circle(sky, centre + cv::Point(radius * 2, -6), 2, cv::Scalar(0.8 * full), cv::FILLED);
    cv::RNG rng(5);
    for (int i = 0; i < 40; ++i)
        sky.at<float>(rng.uniform(0, height), rng.uniform(0, width)) = static_cast<float>(full);
    cv::Mat noise(sky.size(), CV_32F);
    rng.fill(noise, cv::RNG::NORMAL, 0, 0.01 * full);
    cv::Mat samples;
    cv::Mat(sky + noise).convertTo(samples, depth);
    return samples;
}

void bmFindDisc(benchmark::State& state) {
    cv::setNumThreads(1);
    const int width = static_cast<int>(state.range(0));
    const bool mosaic = state.range(1) == 8;
    const cv::Mat frame = skyFrame(width, width * 3 / 4, mosaic ? CV_8U : CV_16U);
    const DiscSearch search{.mosaic = mosaic, .bitsPerSample = mosaic ? 8 : 12};
    for (auto _ : state) {
        const DiscFound disc = findDisc(frame, search);
        if (!disc.found) state.SkipWithError("no disc found");
        benchmark::DoNotOptimize(disc);
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(mosaic ? "8-bit mosaic" : "16-bit mono");
}
BENCHMARK(bmFindDisc)
    ->ArgsProduct({{640, 1280}, {8, 16}})
    ->ArgNames({"width", "bits"})
    ->Unit(benchmark::kMillisecond);

// The seeing figure of the whole frame (no disc tracked) and of the disc's square.
void bmFrameQuality(benchmark::State& state) {
    cv::setNumThreads(1);
    const int width = static_cast<int>(state.range(0));
    const bool mosaic = state.range(1) == 8;
    const bool onDisc = state.range(2) == 1;
    const cv::Mat frame = skyFrame(width, width * 3 / 4, mosaic ? CV_8U : CV_16U);
    QualityPatch patch{.mosaic = mosaic, .region = {}};
    if (onDisc) {
        const DiscFound disc =
            findDisc(frame, {.mosaic = mosaic, .bitsPerSample = mosaic ? 8 : 12});
        patch.region = discPatch(disc.centre, disc.area, frame.size());
    }
    for (auto _ : state) benchmark::DoNotOptimize(frameQuality(frame, patch));
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(mosaic ? "8-bit mosaic" : "16-bit mono") +
                   (onDisc ? ", disc" : ", whole frame"));
}
BENCHMARK(bmFrameQuality)
    ->ArgsProduct({{640, 1280}, {8, 16}, {0, 1}})
    ->ArgNames({"width", "bits", "disc"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
