#include "analysis/FrameQuality.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {
// The disc's patch reaches this many radii from its centre.
constexpr double kDiscMarginRadii = 1.25;
}  // namespace

double laplacianSharpness(const cv::Mat& grey, double dark, bool darkFromPatch) {
    if (grey.empty()) return 0;
    cv::Mat f, smooth, laplacian;
    grey.convertTo(f, CV_32F);
    cv::GaussianBlur(f, smooth, cv::Size(7, 7), 1.0, 1.0, cv::BORDER_REFLECT);
    if (darkFromPatch) cv::minMaxLoc(smooth, &dark, nullptr);
    const double level = cv::mean(smooth)[0] - dark;
    if (!(level > 0)) return 0;
    cv::Laplacian(smooth, laplacian, CV_32F, 1, 1.0, 0.0, cv::BORDER_REFLECT);
    const int m = std::min({3, (laplacian.cols - 1) / 2, (laplacian.rows - 1) / 2});
    const cv::Mat inner = laplacian(cv::Rect(m, m, laplacian.cols - 2 * m, laplacian.rows - 2 * m));
    return kQualityScale * inner.dot(inner) / static_cast<double>(inner.total()) / (level * level);
}

double frameQuality(const cv::Mat& samples, const QualityPatch& patch) {
    if (samples.empty()) return 0;
    const cv::Rect whole(0, 0, samples.cols, samples.rows);
    cv::Rect region = patch.region.empty() ? whole : patch.region & whole;
    if (patch.mosaic) {
        // Whole cells only, starting on an even pixel.
        region.x &= ~1;
        region.y &= ~1;
        region.width = std::min(region.width, whole.width - region.x) & ~1;
        region.height = std::min(region.height, whole.height - region.y) & ~1;
    }
    if (region.width < 2 || region.height < 2) return 0;
    cv::Mat grey;
    samples(region).convertTo(grey, CV_32F);
    if (patch.mosaic)
        cv::resize(grey, grey, cv::Size(grey.cols / 2, grey.rows / 2), 0, 0, cv::INTER_AREA);
    const double pixels = static_cast<double>(grey.total());
    if (pixels > kQualityMaxPixels) {
        const int factor = static_cast<int>(std::ceil(std::sqrt(pixels / kQualityMaxPixels)));
        cv::resize(grey, grey, cv::Size(grey.cols / factor, grey.rows / factor), 0, 0,
                   cv::INTER_AREA);
    }
    return laplacianSharpness(grey, 0, true);
}

cv::Rect discPatch(cv::Point2d centre, double area, cv::Size frame) {
    const double radius = std::sqrt(std::max(area, 0.0) / CV_PI) * kDiscMarginRadii;
    const int left = static_cast<int>(std::floor(centre.x - radius)) & ~1;
    const int top = static_cast<int>(std::floor(centre.y - radius)) & ~1;
    const int side = static_cast<int>(std::ceil(2 * radius)) + 2;
    return cv::Rect(left, top, side, side) & cv::Rect(0, 0, frame.width, frame.height);
}
