#pragma once
// The histogram of the newest frame: counts of the 256 levels, bar heights, the average
// level, the saturation warning and the vertical range of the chart. At most one update
// every 500 ms.
#include <QColor>
#include <array>
#include <cstdint>
#include <opencv2/core.hpp>

class QLabel;
class HistogramChart;

inline constexpr uint32_t kHistogramIntervalMs = 500;
// Height of the chart in pixels, the scale of the marker height.
inline constexpr double kHistogramChartHeight = 80.0;

struct HistogramResult {
    std::array<uint32_t, 256> counts{};
    std::array<double, 256> heights{};  // ln(count + 1) or count + 1
    double peak = 0;                    // the highest bar
    double previousPeak = 0;            // the running peak before the level of the highest bar
    int64_t average = 0;                // roundEven(sum of levels / pixels)
    double top = 0;                     // upper end of the chart's y range
    int64_t markerHeight = 0;           // roundEven(top / 80 * 3), where the level markers sit
    bool saturated = false;             // some pixel is 255
    // The level of the brightest 0.5 % of the pixels in percent of full scale: how well a
    // planet (a small bright disc on a black sky) is exposed, where the average says little.
    int brightestPercent = 0;
};

// The share of the pixels whose level brightestPercent reports.
inline constexpr double kBrightestShare = 0.005;

// The throttle of the histogram: at most one frame counted every 500 ms.
class HistogramThrottle {
  public:
    explicit HistogramThrottle(uint32_t next = 0) : next_(next) {}
    // True when a frame at `now` (monotonicMs) is to be counted; the next one is then due at
    // now + 500. Robust against the 32-bit wrap of the clock.
    bool due(uint32_t now);
    uint32_t next() const { return next_; }

  private:
    uint32_t next_;  // the time from which the next frame is counted
};

// Counts an 8-bit, 1-channel image (rows may be padded) and derives every figure of the
// chart. Returns false, leaving `out` alone, for an empty image or one of another type.
bool computeHistogram(const cv::Mat& image, bool logarithmic, HistogramResult& out);

// The bar colour: teal on the logarithmic scale, olive on the linear one.
QColor histogramBarColor(bool logarithmic);

// The controls an update writes to.
struct HistogramView {
    HistogramChart* chart = nullptr;  // H1
    QLabel* sat = nullptr;            // "SAT"
    QLabel* average = nullptr;        // lAvg
    QLabel* brightest = nullptr;      // "TOP:<percent>%"
    bool logarithmic = false;         // the "Logarithmic" box is checked
};

// Draws a computed histogram: bars, range, "AVG:%d", "TOP:%d%", the SAT warning and the black and
// white level markers, then repaints the chart.
void showHistogram(const HistogramResult& result, const HistogramView& view, int blackLevel,
                   int whiteLevel);
