#include "analysis/ExposureControl.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/DiscFinder.h"

namespace {
// Share of the pixels whose level is measured.
constexpr double kBrightShare = 0.005;
// A level at or above this (percent) is clipped: how much too bright is not known.
constexpr double kClippedPercent = 99.0;
// The most one step changes the signal by, up or down.
constexpr double kMaxFactor = 8;
constexpr double kClippedFactor = 0.35;

template <typename T>
void countLevels(const cv::Mat& samples, cv::Rect area, cv::Point2d centre, double radius,
                 double threshold, std::vector<uint32_t>& counts, uint64_t& total) {
    const double r2 = radius * radius;
    const size_t top = counts.size() - 1;
    for (int y = area.y; y < area.y + area.height; ++y) {
        const T* row = samples.ptr<T>(y);
        const double dy = y - centre.y;
        for (int x = area.x; x < area.x + area.width; ++x) {
            if (radius > 0) {
                const double dx = x - centre.x;
                if (dx * dx + dy * dy > r2 || row[x] < threshold) continue;
            }
            ++counts[std::min<size_t>(row[x], top)];
            ++total;
        }
    }
}
}  // namespace

double brightLevelPercent(const cv::Mat& samples, int bitsPerSample, bool mosaic) {
    if (samples.empty() || samples.channels() != 1) return 0;
    const bool wide = samples.depth() == CV_16U;
    const int bits = wide ? std::clamp(bitsPerSample, 9, 16) : 8;
    const double fullScale = static_cast<double>((1 << bits) - 1);
    const DiscFound disc = findDisc(samples, DiscSearch{.mosaic = mosaic, .bitsPerSample = bits});
    // The disc's pixels: above the level that parted it from the sky, within the circle of its
    // area (a little wider for its outline), so that moons and stars beside it do not count.
    cv::Rect area(0, 0, samples.cols, samples.rows);
    double radius = 0;
    if (disc.found) {
        radius = std::sqrt(disc.area / CV_PI) * 1.2 + 2;
        area &= cv::Rect(static_cast<int>(disc.centre.x - radius),
                         static_cast<int>(disc.centre.y - radius), static_cast<int>(2 * radius) + 2,
                         static_cast<int>(2 * radius) + 2);
    }
    std::vector<uint32_t> counts(size_t{1} << bits);
    uint64_t total = 0;
    if (wide)
        countLevels<uint16_t>(samples, area, disc.centre, radius, disc.threshold, counts, total);
    else
        countLevels<uint8_t>(samples, area, disc.centre, radius, disc.threshold, counts, total);
    if (total == 0) return 0;
    const double wanted = std::max(1.0, static_cast<double>(total) * kBrightShare);
    double counted = 0;
    size_t level = counts.size() - 1;
    for (; level > 0; --level) {
        counted += counts[level];
        if (counted >= wanted) break;
    }
    return std::min(100.0, static_cast<double>(level) * 100.0 / fullScale);
}

void ExposureControl::reset() {
    settled_ = false;
    outside_ = 0;
}

ExposureControl::Decision ExposureControl::step(double level, const ExposureSetting& current) {
    Decision d{Step::Held, current};
    const double off = std::abs(level - target_);
    if (settled_) {
        outside_ = off > kLeaveShare * target_ ? outside_ + 1 : 0;
        if (outside_ < kLeaveFrames) return d;
        reset();
    }
    if (off <= kSettleShare * target_) {
        settled_ = true;
        d.step = Step::Settled;
        return d;
    }
    // The signal grows in proportion to the exposure and by a decade every
    // kGainStepsPerDecade steps of gain (above the camera's small bias).
    double factor = level >= kClippedPercent ? kClippedFactor
                    : level <= 0             ? kMaxFactor
                                             : target_ / level;
    factor = std::clamp(factor, 1.0 / kMaxFactor, kMaxFactor);
    const ExposureLimits& lim = limits_;
    ExposureSetting next = current;
    const bool brighter = factor > 1;
    // Which of the two moves first: brighter with the preferred one, darker with the other.
    const bool gainMovesFirst = brighter == lim.gainFirst;
    double left = std::log(factor);  // what is still to be changed, as a log factor
    const auto moveExposure = [&] {
        const double wanted = static_cast<double>(next.exposureUs) * std::exp(left);
        const auto us = static_cast<int64_t>(
            std::llround(std::clamp(wanted, static_cast<double>(lim.shortestUs),
                                    static_cast<double>(std::max(lim.longestUs, lim.shortestUs)))));
        left -= std::log(static_cast<double>(us) / static_cast<double>(next.exposureUs));
        next.exposureUs = us;
    };
    const auto moveGain = [&] {
        const double steps = left / std::log(10.0) * kGainStepsPerDecade;
        const int gain = std::clamp(static_cast<int>(std::lround(current.gain + steps)), 0,
                                    std::max(lim.highestGain, 0));
        left -= (gain - next.gain) * std::log(10.0) / kGainStepsPerDecade;
        next.gain = gain;
    };
    if (gainMovesFirst) {
        moveGain();
        moveExposure();
    } else {
        moveExposure();
        moveGain();
    }
    // A setting outside the limits (the user's own) comes back within them.
    next.exposureUs =
        std::clamp(next.exposureUs, lim.shortestUs, std::max(lim.longestUs, lim.shortestUs));
    next.gain = std::clamp(next.gain, 0, std::max(lim.highestGain, 0));
    d.setting = next;
    d.step = next == current ? Step::Limited : Step::Changed;
    return d;
}
