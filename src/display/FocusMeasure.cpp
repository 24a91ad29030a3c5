#include "display/FocusMeasure.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "analysis/FrameQuality.h"
#include "platform/Rounding.h"

namespace {

constexpr double kDetectNoise = 8.0;       // a peak or a range this many noise levels is real
constexpr double kMinNoise = 0.5;          // 8-bit quantisation: below this the MAD says nothing
constexpr double kRadiusPerHalfMax = 3.5;  // measuring radius: about four sigma of a Gaussian
constexpr double kMinRadius = 6.0;
constexpr int kWindowMargin = 3;    // pixels between the measuring circle and the border
constexpr double kBinWidth = 0.02;  // radial resolution of the enclosed-flux curve

// Square of `side` pixels around `c`, cut to the frame.
cv::Rect square(cv::Point c, int side, cv::Size frame) {
    const int half = side / 2;
    return cv::Rect(c.x - half, c.y - half, side, side) & cv::Rect(cv::Point(0, 0), frame);
}

// The region as 8-bit grey; a view when the frame is grey already.
cv::Mat greyRegion(const cv::Mat& frame, const cv::Rect& r) {
    const cv::Mat roi = frame(r);
    if (roi.channels() == 1) return roi;
    cv::Mat grey;
    cv::cvtColor(roi, grey, roi.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return grey;
}

double medianOf(std::vector<float>& v) {
    if (v.empty()) return 0;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Pixel noise from the absolute differences of horizontal neighbours: their median is
// 0.6745 * sqrt(2) sigma for Gaussian noise, and smooth structure hardly moves it.
double noiseOf(const cv::Mat& grey) {
    std::vector<float> d;
    d.reserve(static_cast<size_t>(grey.rows) * static_cast<size_t>(grey.cols));
    for (int y = 0; y < grey.rows; ++y) {
        const uint8_t* row = grey.ptr<uint8_t>(y);
        for (int x = 0; x + 1 < grey.cols; ++x)
            d.push_back(static_cast<float>(std::abs(row[x + 1] - row[x])));
    }
    return std::max(kMinNoise, medianOf(d) * 1.4826 / std::sqrt(2.0));
}

// Median of the border pixels, refined to the mean of those within 3 noise of it.
template <typename T>
double borderBackground(const cv::Mat& m, double noise) {
    std::vector<float> b;
    const int w = m.cols, h = m.rows;
    for (int x = 0; x < w; ++x) {
        b.push_back(static_cast<float>(m.at<T>(0, x)));
        if (h > 1) b.push_back(static_cast<float>(m.at<T>(h - 1, x)));
    }
    for (int y = 1; y + 1 < h; ++y) {
        b.push_back(static_cast<float>(m.at<T>(y, 0)));
        if (w > 1) b.push_back(static_cast<float>(m.at<T>(y, w - 1)));
    }
    const double median = medianOf(b);
    double sum = 0;
    int n = 0;
    for (float v : b) {
        if (std::abs(v - median) <= 3 * noise) {
            sum += v;
            ++n;
        }
    }
    return n > 0 ? sum / n : median;
}

struct StarCandidate {
    cv::Point peak;        // in patch coordinates
    double halfMaxRadius;  // radius of a disk with the area above half the peak's height
};

// The classification rule documented at measureFocus.
std::optional<StarCandidate> findStar(const cv::Mat& smoothed, double background, double noise,
                                      double peak, cv::Point peakAt) {
    const double height = peak - background;
    if (height <= kDetectNoise * noise) return std::nullopt;
    const double half = background + height / 2;
    int above = 0;
    for (int y = 0; y < smoothed.rows; ++y) {
        const uint8_t* row = smoothed.ptr<uint8_t>(y);
        for (int x = 0; x < smoothed.cols; ++x) {
            if (row[x] < half) continue;
            if (x == 0 || y == 0 || x == smoothed.cols - 1 || y == smoothed.rows - 1)
                return std::nullopt;  // reaches the edge: larger than the patch
            ++above;
        }
    }
    if (above * 4 > static_cast<int>(smoothed.total())) return std::nullopt;
    return StarCandidate{peakAt, std::sqrt(above / CV_PI)};
}

// Half-flux diameter of the star found near `start` (frame coordinates).
std::optional<double> halfFluxDiameter(const cv::Mat& frame, cv::Point start, double halfMaxRadius,
                                       double noise) {
    const int maxHalf = kFocusMaxWindow / 2;
    double radius = std::clamp(kRadiusPerHalfMax * halfMaxRadius, kMinRadius,
                               static_cast<double>(maxHalf - kWindowMargin));
    const int half = static_cast<int>(std::ceil(radius)) + kWindowMargin;
    const cv::Rect window = square(start, 2 * half + 1, frame.size());
    cv::Mat flux;
    greyRegion(frame, window).convertTo(flux, CV_32F);
    flux -= borderBackground<float>(flux, noise);

    // Flux-weighted centroid of the positive pixels near the current estimate; it starts
    // on the brightest pixel, which for the ring of a defocused star lies off the centre.
    cv::Point2d c(start.x - window.x, start.y - window.y);
    const double centroidRadius = std::max(2.0, 1.5 * halfMaxRadius);
    for (int iteration = 0; iteration < 20; ++iteration) {
        double sx = 0, sy = 0, s = 0;
        for (int y = 0; y < flux.rows; ++y) {
            const float* row = flux.ptr<float>(y);
            for (int x = 0; x < flux.cols; ++x) {
                const double dx = x - c.x, dy = y - c.y;
                if (row[x] <= 0 || dx * dx + dy * dy > centroidRadius * centroidRadius) continue;
                sx += row[x] * x;
                sy += row[x] * y;
                s += row[x];
            }
        }
        if (s <= 0) return std::nullopt;
        const cv::Point2d next(sx / s, sy / s);
        const double moved = cv::norm(next - c);
        c = next;
        if (moved < 0.01) break;
    }

    // Enclosed flux by radius. The pixel values are samples of the star's light; a bicubic
    // resampling at `n` x `n` points per pixel integrates it over the circle far more closely
    // than whole pixels would for a small star (whole pixels widen it by 1/12 px^2).
    const int n = std::clamp(static_cast<int>(std::ceil(6.0 / halfMaxRadius)), 1, 4);
    const cv::Rect box =
        cv::Rect(static_cast<int>(std::floor(c.x - radius)) - 2,
                 static_cast<int>(std::floor(c.y - radius)) - 2, static_cast<int>(2 * radius) + 6,
                 static_cast<int>(2 * radius) + 6) &
        cv::Rect(0, 0, flux.cols, flux.rows);
    cv::Mat fine;
    if (n == 1)
        fine = flux(box);
    else
        cv::resize(flux(box), fine, cv::Size(), n, n, cv::INTER_CUBIC);
    std::vector<double> bins(static_cast<size_t>(radius / kBinWidth) + 1, 0.0);
    double total = 0;
    for (int j = 0; j < fine.rows; ++j) {
        // Sample j of the resampled box sits at (j + 0.5) / n - 0.5 source pixels.
        const double dy = box.y + (j + 0.5) / n - 0.5 - c.y;
        const float* row = fine.ptr<float>(j);
        for (int i = 0; i < fine.cols; ++i) {
            const double dx = box.x + (i + 0.5) / n - 0.5 - c.x;
            const double r = std::sqrt(dx * dx + dy * dy);
            if (r >= radius) continue;
            bins[static_cast<size_t>(r / kBinWidth)] += row[i];
            total += row[i];
        }
    }
    if (total <= 0) return std::nullopt;
    double enclosed = 0;
    for (size_t k = 0; k < bins.size(); ++k) {
        if (enclosed + bins[k] >= total / 2 && bins[k] > 0) {
            const double within = (total / 2 - enclosed) / bins[k];
            return 2 * (static_cast<double>(k) + within) * kBinWidth;
        }
        enclosed += bins[k];
    }
    return std::nullopt;
}

}  // namespace

FocusFigure measureFocus(const cv::Mat& frame, cv::Point centre) {
    if (frame.empty() || frame.depth() != CV_8U) return {};
    const cv::Rect patchRect = square(centre, kFocusPatch, frame.size());
    if (patchRect.width < 5 || patchRect.height < 5) return {};
    const cv::Mat patch = greyRegion(frame, patchRect);

    const double noise = noiseOf(patch);
    const double background = borderBackground<uint8_t>(patch, noise);
    cv::Mat smoothed;
    cv::medianBlur(patch, smoothed, 3);
    double low = 0, high = 0;
    cv::Point highAt;
    cv::minMaxLoc(smoothed, &low, &high, nullptr, &highAt);
    if (high - low <= kDetectNoise * noise) return {};

    if (const auto star = findStar(smoothed, background, noise, high, highAt)) {
        const auto hfd =
            halfFluxDiameter(frame, patchRect.tl() + star->peak, star->halfMaxRadius, noise);
        if (hfd) return {FocusFigure::Kind::Star, *hfd};
    }
    return {FocusFigure::Kind::Extended, sharpness(patch)};
}

double sharpness(const cv::Mat& grey) {
    return laplacianSharpness(grey, 0);
}

std::string focusText(const FocusFigure& figure) {
    // The number is formatted here, the words around it come from the translations.
    char number[48];
    switch (figure.kind) {
        case FocusFigure::Kind::Star:
            std::snprintf(number, sizeof number, "%.1f", figure.value);
            return QCoreApplication::translate("FocusWindow", "HFD %1 px")
                .arg(QLatin1String(number))
                .toStdString();
        case FocusFigure::Kind::Extended:
            std::snprintf(number, sizeof number, "%lld",
                          static_cast<long long>(roundEven(figure.value)));
            return QCoreApplication::translate("FocusWindow", "Sharpness %1")
                .arg(QLatin1String(number))
                .toStdString();
        case FocusFigure::Kind::None:
            break;
    }
    return {};
}

bool FocusHistory::due(uint32_t nowMs) {
    if (started_) {
        const uint32_t ahead = next_ - nowMs;
        if (ahead != 0 && ahead <= kIntervalMs) return false;
    }
    started_ = true;
    next_ = nowMs + kIntervalMs;
    return true;
}

void FocusHistory::add(const FocusFigure& figure) {
    if (figure.kind == FocusFigure::Kind::None) return;
    if (figure.kind != kind_) {
        reset();
        kind_ = figure.kind;
    }
    values_.push_back(figure.value);
    if (values_.size() > kCapacity) values_.pop_front();
    const bool better = kind_ == FocusFigure::Kind::Star ? figure.value < best_.value_or(INFINITY)
                                                         : figure.value > best_.value_or(-INFINITY);
    if (better) best_ = figure.value;
}

void FocusHistory::reset() {
    values_.clear();
    best_.reset();
}
