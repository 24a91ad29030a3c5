#include "analysis/DiscFinder.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

// The blob search runs on a picture this wide at most: a disc of a few hundred pixels keeps
// dozens of pixels across, and labelling stays far below a millisecond.
constexpr int kSearchWidth = 320;
// Where between the sky and the disc's bright level the disc begins: low enough that the
// dark belts of a banded planet stay inside the disc, so that its blob stays whole.
constexpr double kThresholdShare = 0.25;
// The threshold stands at least this many times the noise above the sky.
constexpr double kNoiseMargin = 5;
// The sky is this share of the picture's darkest pixels; the bright level that of the
// brightest (a few stars or hot pixels cannot lift it).
constexpr double kSkyQuantile = 0.05, kBrightQuantile = 0.995;

double quantile(std::vector<float>& values, double q) {
    const auto at = values.begin() + static_cast<long>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// The noise of one pixel of `image`: from the median of the differences of horizontal
// neighbours, which edges and stars hardly move.
double noiseOf(const cv::Mat& image) {
    std::vector<float> steps;
    steps.reserve(static_cast<size_t>(image.rows) * image.cols);
    for (int y = 0; y < image.rows; ++y) {
        const float* row = image.ptr<float>(y);
        for (int x = 1; x < image.cols; x += 2) steps.push_back(std::abs(row[x] - row[x - 1]));
    }
    if (steps.empty()) return 0;
    return 1.4826 * quantile(steps, 0.5) / std::sqrt(2.0);
}

}  // namespace

DiscFound findDisc(const cv::Mat& samples, const DiscSearch& search) {
    DiscFound found;
    if (samples.empty() || samples.channels() != 1) return found;
    // A mosaic's cells become grey pixels of half the size; `cell` frame pixels per pixel.
    cv::Mat grey;
    const int cell = search.mosaic ? 2 : 1;
    if (search.mosaic && samples.cols >= 2 && samples.rows >= 2)
        cv::resize(samples(cv::Rect(0, 0, samples.cols & ~1, samples.rows & ~1)), grey,
                   cv::Size(samples.cols / 2, samples.rows / 2), 0, 0, cv::INTER_AREA);
    else
        grey = samples;

    // The search picture: whole blocks of `block` x `block` grey pixels averaged.
    const int block = std::max(1, (grey.cols + kSearchWidth - 1) / kSearchWidth);
    const cv::Size searchSize(std::max(1, grey.cols / block), std::max(1, grey.rows / block));
    cv::Mat reduced, small;
    if (block > 1)
        cv::resize(grey(cv::Rect(0, 0, searchSize.width * block, searchSize.height * block)),
                   reduced, searchSize, 0, 0, cv::INTER_AREA);
    else
        reduced = grey;
    reduced.convertTo(small, CV_32F);

    std::vector<float> levels(small.begin<float>(), small.end<float>());
    const double sky = quantile(levels, kSkyQuantile);
    const double bright = quantile(levels, kBrightQuantile);
    const double fullScale = std::ldexp(1.0, std::clamp(search.bitsPerSample, 1, 16)) - 1;
    found.sky = sky;
    found.bright = bright;
    found.threshold =
        std::max(sky + kThresholdShare * (bright - sky), sky + kNoiseMargin * noiseOf(small));
    if (bright - sky < search.minContrast * fullScale || found.threshold >= bright) return found;
    if (bright < search.minShareOfClear * search.clearBright) return found;

    cv::Mat mask = small > found.threshold;
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    int best = 0;
    for (int i = 1; i < count; ++i)
        if (best == 0 || stats.at<int>(i, cv::CC_STAT_AREA) > stats.at<int>(best, cv::CC_STAT_AREA))
            best = i;
    if (best == 0) return found;
    const double framePixels = static_cast<double>(block * cell) * (block * cell);
    found.area = stats.at<int>(best, cv::CC_STAT_AREA) * framePixels;
    if (found.area < search.minArea) return found;

    const cv::Rect box(stats.at<int>(best, cv::CC_STAT_LEFT), stats.at<int>(best, cv::CC_STAT_TOP),
                       stats.at<int>(best, cv::CC_STAT_WIDTH),
                       stats.at<int>(best, cv::CC_STAT_HEIGHT));
    found.touchesEdge = box.x == 0 || box.y == 0 || box.x + box.width >= small.cols ||
                        box.y + box.height >= small.rows;

    // The centre from the grey pixels of the blob and a border of one search pixel around
    // it (its blurred rim), each weighted by its level above the sky up to the threshold:
    // the rim counts by how much of a pixel it covers, the inside evenly, so that belts and
    // spots of the disc do not pull the centre.
    const cv::Rect near =
        (box + cv::Point(-1, -1) + cv::Size(2, 2)) & cv::Rect(0, 0, small.cols, small.rows);
    cv::Mat blob = labels(near) == best;
    cv::dilate(blob, blob, cv::Mat());
    const cv::Rect region =
        cv::Rect(near.x * block, near.y * block, near.width * block, near.height * block) &
        cv::Rect(0, 0, grey.cols, grey.rows);
    cv::Mat blobMask;
    cv::resize(blob, blobMask, cv::Size(near.width * block, near.height * block), 0, 0,
               cv::INTER_NEAREST);
    blobMask = blobMask(cv::Rect(0, 0, region.width, region.height));
    cv::Mat weight;
    grey(region).convertTo(weight, CV_32F, 1.0, -sky);
    weight = cv::min(cv::max(weight, 0.0), found.threshold - sky);
    weight.setTo(0, blobMask == 0);
    const cv::Moments m = cv::moments(weight);
    if (m.m00 <= 0) return found;
    const double greyX = region.x + m.m10 / m.m00, greyY = region.y + m.m01 / m.m00;
    // Grey pixel j covers frame pixels cell * j .. cell * j + cell - 1.
    found.centre = {cell * greyX + (cell - 1) / 2.0, cell * greyY + (cell - 1) / 2.0};
    found.found = true;
    return found;
}
