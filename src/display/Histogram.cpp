#include "display/Histogram.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <algorithm>
#include <cmath>

#include "display/HistogramChart.h"
#include "display/PreviewRenderer.h"
#include "platform/Clock.h"
#include "platform/Rounding.h"

bool HistogramThrottle::due(uint32_t now) {
    // next_ is never set more than 500 ms ahead of the then current time, so "now is
    // before it" means: it lies 1..500 ms ahead. Compared this way a wrap of the 32-bit
    // clock cannot freeze the histogram for 49 days.
    const uint32_t ahead = next_ - now;
    if (ahead != 0 && ahead <= kHistogramIntervalMs) return false;
    next_ = now + kHistogramIntervalMs;
    return true;
}

bool computeHistogram(const cv::Mat& image, bool logarithmic, HistogramResult& out) {
    if (image.empty() || image.type() != CV_8UC1) return false;

    // Two tables, filled alternately, so that runs of equal values do not wait on one
    // counter.
    uint32_t even[256] = {};
    uint32_t odd[256] = {};
    const int width = image.cols;
    for (int y = 0; y < image.rows; ++y) {
        const uint8_t* row = image.ptr<uint8_t>(y);
        int x = 0;
        for (; x + 1 < width; x += 2) {
            ++even[row[x]];
            ++odd[row[x + 1]];
        }
        if (x < width) ++even[row[x]];
    }

    double peak = 0, previous = 0;
    int64_t weighted = 0;
    for (int i = 0; i < 256; ++i) {
        const uint32_t count = even[i] + odd[i];
        out.counts[static_cast<size_t>(i)] = count;
        const double height = logarithmic ? std::log(static_cast<double>(count) + 1.0)
                                          : static_cast<double>(count) + 1.0;
        out.heights[static_cast<size_t>(i)] = height;
        if (height > peak) {
            previous = peak;
            peak = height;
        }
        weighted += static_cast<int64_t>(i) * count;
    }
    out.peak = peak;
    out.previousPeak = previous;
    out.saturated = out.counts[255] > 0;
    const double pixels = static_cast<double>(image.total());
    out.average = roundEven(static_cast<double>(weighted) / pixels);
    // From full scale down until the brightest share of the pixels is counted.
    const double brightest = std::max(1.0, pixels * kBrightestShare);
    double counted = 0;
    int level = 255;
    for (; level > 0; --level) {
        counted += out.counts[static_cast<size_t>(level)];
        if (counted >= brightest) break;
    }
    out.brightestPercent = static_cast<int>(roundEven(level * 100.0 / 255.0));
    // A single level towering more than tenfold over everything before it is cut off.
    out.top = (10.0 * previous >= peak || previous == 0) ? peak + 5.0 : 2.0 * previous;
    out.markerHeight = roundEven(out.top / kHistogramChartHeight * 3.0);
    return true;
}

QColor histogramBarColor(bool logarithmic) {
    return logarithmic ? QColor(0, 160, 160) : QColor(160, 160, 0);
}

void showHistogram(const HistogramResult& result, const HistogramView& view, int blackLevel,
                   int whiteLevel) {
    if (view.sat) view.sat->setVisible(result.saturated);
    if (view.average)
        view.average->setText(QCoreApplication::translate("Histogram", "AVG:%1")
                                  .arg(static_cast<int>(result.average)));
    if (view.brightest)
        view.brightest->setText(
            QCoreApplication::translate("Histogram", "TOP:%1%").arg(result.brightestPercent));
    HistogramChart* chart = view.chart;
    if (!chart) return;
    const QColor barColor = histogramBarColor(view.logarithmic);
    QVector<HistogramChart::Line> bars;
    bars.reserve(256);
    for (int i = 0; i < 256; ++i)
        bars.append({QPointF(i, 0), QPointF(i, result.heights[static_cast<size_t>(i)]), barColor});
    const double m = static_cast<double>(result.markerHeight);
    QVector<HistogramChart::Mark> marks{
        {QPointF(blackLevel, m), HistogramChart::MarkStyle::FilledTriangle, Qt::black},
        {QPointF(whiteLevel, m), HistogramChart::MarkStyle::HollowTriangle, Qt::black}};
    chart->setData(std::move(bars), std::move(marks), QRectF(-1, 0, 259, result.top));
}
