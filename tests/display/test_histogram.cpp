// Histogram figures, the 500 ms throttle and what an update puts on the chart and labels.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "QtTestEnv.h"
#include "display/Histogram.h"
#include "display/HistogramChart.h"
#include "display/PreviewRenderer.h"
#include "platform/Clock.h"
#include "shell/HistogramPanel.h"

namespace {

// 1000 pixels in a padded view: 900 of value 10, 100 of value 255.
cv::Mat thousandPixelFrame(cv::Mat& buffer) {
    buffer = cv::Mat(20, 52, CV_8UC1, cv::Scalar(77));  // padding columns hold 77
    cv::Mat frame = buffer(cv::Rect(0, 0, 50, 20));
    frame.setTo(10);
    frame(cv::Rect(0, 0, 50, 2)).setTo(255);
    return frame;
}

struct ClockGuard {
    uint32_t now = 0;
    ClockGuard() {
        testclock::setMillis([this] { return now; });
    }
    ~ClockGuard() { testclock::setMillis(nullptr); }
};

template <typename T>
T* child(const QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

}  // namespace

TEST(HistogramFigures, AllBlackFrame) {
    const cv::Mat frame(480, 640, CV_8UC1, cv::Scalar(0));
    const double n = 640.0 * 480.0;
    HistogramResult r;
    ASSERT_TRUE(computeHistogram(frame, false, r));
    EXPECT_EQ(r.heights[0], n + 1);
    for (int i = 1; i < 256; ++i) ASSERT_EQ(r.heights[i], 1.0) << i;
    EXPECT_EQ(r.previousPeak, 0.0);
    EXPECT_EQ(r.top, n + 6);
    EXPECT_EQ(r.average, 0);
    EXPECT_FALSE(r.saturated);
}

// A planet: a small disc at 75 % on a black sky with one hot pixel. The average is near 0 and
// SAT lights for the hot pixel; the brightest 0.5 % report the disc.
TEST(HistogramFigures, TheBrightestShareReportsASmallDiscNotTheHotPixel) {
    cv::Mat frame(480, 640, CV_8UC1, cv::Scalar(2));
    cv::circle(frame, {320, 240}, 25, cv::Scalar(191), cv::FILLED);  // 0.64 % of the frame
    cv::circle(frame, {320, 240}, 8, cv::Scalar(200), cv::FILLED);
    frame.at<uint8_t>(10, 10) = 255;
    HistogramResult r;
    ASSERT_TRUE(computeHistogram(frame, false, r));
    EXPECT_TRUE(r.saturated);
    EXPECT_LT(r.average, 5);
    EXPECT_EQ(r.brightestPercent, 75);  // 191 of 255: the disc's rim reaches the 0.5 %
}

TEST(HistogramFigures, ThousandPixelFrameLinearCutsTheToweringLevel) {
    cv::Mat buffer;
    const cv::Mat frame = thousandPixelFrame(buffer);
    HistogramResult r;
    ASSERT_TRUE(computeHistogram(frame, false, r));
    EXPECT_EQ(r.counts[10], 900u);
    EXPECT_EQ(r.counts[255], 100u);
    EXPECT_EQ(r.counts[77], 0u);  // the row padding is not counted
    EXPECT_EQ(r.heights[10], 901.0);
    EXPECT_EQ(r.heights[255], 101.0);
    EXPECT_EQ(r.heights[0], 1.0);
    EXPECT_EQ(r.peak, 901.0);
    EXPECT_EQ(r.previousPeak, 1.0);
    EXPECT_EQ(r.top, 2.0);
    EXPECT_EQ(r.markerHeight, 0);
    EXPECT_TRUE(r.saturated);
    EXPECT_EQ(r.average, 34);  // 34.5, half to even
}

TEST(HistogramFigures, ThousandPixelFrameLogarithmic) {
    cv::Mat buffer;
    const cv::Mat frame = thousandPixelFrame(buffer);
    HistogramResult r;
    ASSERT_TRUE(computeHistogram(frame, true, r));
    EXPECT_DOUBLE_EQ(r.heights[10], std::log(901.0));
    EXPECT_DOUBLE_EQ(r.heights[255], std::log(101.0));
    EXPECT_EQ(r.heights[0], 0.0);
    EXPECT_EQ(r.previousPeak, 0.0);
    EXPECT_NEAR(r.top, 11.80, 0.01);
    EXPECT_EQ(r.average, 34);
}

TEST(HistogramFigures, ComparableLevelsKeepTheFullRangeAndMarkersRise) {
    cv::Mat frame(1, 150, CV_8UC1, cv::Scalar(6));
    frame(cv::Rect(0, 0, 50, 1)).setTo(5);
    HistogramResult r;
    ASSERT_TRUE(computeHistogram(frame, false, r));
    EXPECT_EQ(r.previousPeak, 51.0);
    EXPECT_EQ(r.top, 106.0);       // 10 x 51 >= 101: peak + 5
    EXPECT_EQ(r.markerHeight, 4);  // 106 / 80 * 3 = 3.975
    EXPECT_EQ(r.average, 6);       // 5.67

    const cv::Mat halves = (cv::Mat_<uchar>(1, 2) << 1, 2);  // 1.5 -> 2
    ASSERT_TRUE(computeHistogram(halves, false, r));
    EXPECT_EQ(r.average, 2);
}

TEST(HistogramFigures, RejectsEmptyAndNonGreyImages) {
    HistogramResult r;
    r.average = 99;
    EXPECT_FALSE(computeHistogram(cv::Mat(), false, r));
    EXPECT_FALSE(computeHistogram(cv::Mat(4, 4, CV_8UC3, cv::Scalar(0)), false, r));
    EXPECT_EQ(r.average, 99);
}

TEST(HistogramThrottle, CountsAtMostEveryHalfSecond) {
    HistogramThrottle throttle;
    EXPECT_TRUE(throttle.due(1000));
    EXPECT_FALSE(throttle.due(1200));
    EXPECT_FALSE(throttle.due(1499));
    EXPECT_TRUE(throttle.due(1500));
    EXPECT_EQ(throttle.next(), 2000u);
}

TEST(HistogramThrottle, SurvivesTheTimerWrap) {
    HistogramThrottle nearWrap(0xFFFFFF00u);  // set just before the 32-bit wrap
    EXPECT_TRUE(nearWrap.due(5));             // after the wrap: not 49 days later
    HistogramThrottle longPast(0xFFFFFF00u - 1000);
    EXPECT_TRUE(longPast.due(0xFFFFFF00u));  // next one due at 244, after the wrap
    EXPECT_FALSE(longPast.due(0xFFFFFFF0u));
    EXPECT_FALSE(longPast.due(100));
    EXPECT_TRUE(longPast.due(244));
}

TEST(HistogramUpdate, DrawsBarsRangeMarkersAndLabelsThenThrottles) {
    ensureApp();
    ClockGuard clock;
    HistogramPanel panel;
    auto* chart = child<HistogramChart>(panel, "H1");
    auto* sat = child<QLabel>(panel, "sat");
    auto* avg = child<QLabel>(panel, "lAvg");
    auto* loga = child<QCheckBox>(panel, "loga");
    ASSERT_TRUE(chart && sat && avg && loga);
    EXPECT_EQ(child<QFrame>(panel, "Panel6")->size(), QSize(183, 95));
    EXPECT_EQ(chart->size(), QSize(161, 80));
    EXPECT_EQ(avg->text(), "AVG: ---");

    cv::Mat buffer;
    const cv::Mat frame = thousandPixelFrame(buffer);
    clock.now = 10000;
    ASSERT_TRUE(panel.offer(frame, DisplayLevels{}));
    EXPECT_EQ(avg->text(), "AVG:34");
    EXPECT_FALSE(sat->isHidden());
    ASSERT_EQ(chart->lines().size(), 256);
    const auto& bar10 = chart->lines()[10];
    EXPECT_EQ(bar10.from, QPointF(10, 0));
    EXPECT_EQ(bar10.to, QPointF(10, 901));
    EXPECT_EQ(bar10.color, QColor(160, 160, 0));
    EXPECT_EQ(chart->range(), QRectF(-1, 0, 259, 2));
    ASSERT_EQ(chart->marks().size(), 2);
    EXPECT_EQ(chart->marks()[0].at, QPointF(0, 0));
    EXPECT_EQ(chart->marks()[0].style, HistogramChart::MarkStyle::FilledTriangle);
    EXPECT_EQ(chart->marks()[1].at, QPointF(255, 0));
    EXPECT_EQ(chart->marks()[1].style, HistogramChart::MarkStyle::HollowTriangle);
    EXPECT_EQ(chart->marks()[1].color, QColor(Qt::black));

    // 200 ms later a dark frame is not counted; at 500 ms it is, in teal, without "SAT".
    loga->setChecked(true);
    const cv::Mat dark(10, 10, CV_8UC1, cv::Scalar(3));
    clock.now = 10200;
    EXPECT_FALSE(panel.offer(dark, DisplayLevels{}));
    EXPECT_EQ(avg->text(), "AVG:34");
    clock.now = 10500;
    ASSERT_TRUE(panel.offer(dark, DisplayLevels{}));
    EXPECT_EQ(avg->text(), "AVG:3");
    EXPECT_TRUE(sat->isHidden());
    EXPECT_EQ(chart->lines()[3].color, QColor(0, 160, 160));
    EXPECT_EQ(chart->lines().size(), 256);  // cleared before drawing
}

TEST(HistogramChart, MapsTheRangeOntoThePlotAreaAndDrawsApexUpTriangles) {
    ensureApp();
    HistogramChart chart;
    chart.setData({}, {}, QRectF(-1, 0, 259, 100));
    EXPECT_EQ(chart.toPixels(QPointF(-1, 0)), QPointF(10, 70));
    EXPECT_EQ(chart.toPixels(QPointF(258, 100)), QPointF(160, 1));
    const QVector<QPointF> t = HistogramChart::triangleAt(QPointF(50, 60));
    EXPECT_EQ(t, (QVector<QPointF>{{46, 63}, {50, 56}, {54, 63}}));
    chart.setData({{QPointF(1, 0), QPointF(1, 5), Qt::black}},
                  {{QPointF(1, 1), HistogramChart::MarkStyle::HollowTriangle, Qt::black}},
                  QRectF(-1, 0, 259, 100));
    EXPECT_EQ(chart.lines().size(), 1);
    chart.clear();
    EXPECT_TRUE(chart.lines().isEmpty());
    EXPECT_TRUE(chart.marks().isEmpty());
}

TEST(HistogramPanel, HistogramBoxShowsAndHidesChartAndLogarithmicBox) {
    ensureApp();
    HistogramPanel panel;
    auto* box = child<QCheckBox>(panel, "HGram");
    auto* chart = child<QFrame>(panel, "Panel6");
    auto* loga = child<QCheckBox>(panel, "loga");
    ASSERT_TRUE(box && chart && loga);
    EXPECT_TRUE(panel.enabled());
    box->click();
    EXPECT_FALSE(panel.enabled());
    EXPECT_TRUE(chart->isHidden());
    EXPECT_TRUE(loga->isHidden());
    box->click();
    EXPECT_TRUE(panel.enabled());
    EXPECT_FALSE(chart->isHidden());
    EXPECT_FALSE(loga->isHidden());
}
