// Focus point from a click, the focus region, the enlarged picture and the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "QtTestEnv.h"
#include "display/FocusWindow.h"
#include "display/PictureView.h"
#include "display/PreviewRenderer.h"

namespace {

std::optional<QPoint> click(int x, int y, QSize picture, int zoom) {
    return focusPointFromClick(true, false, x, y, picture, zoom);
}

// Lengths of the runs of equal values along a line of the focus picture.
std::vector<std::pair<int, int>> runsOf(const QImage& image, bool alongRow) {
    std::vector<std::pair<int, int>> runs;  // value, length
    for (int i = 0; i < kFocusPictureSize; ++i) {
        const int v = alongRow ? image.pixelIndex(i, 0) : image.pixelIndex(0, i);
        if (runs.empty() || runs.back().first != v)
            runs.push_back({v, 1});
        else
            ++runs.back().second;
    }
    return runs;
}

}  // namespace

TEST(FocusClick, ConvertsScreenToFramePixelsAndKeepsAwayFromTheEdges) {
    const QSize full(1280, 960);
    EXPECT_EQ(click(5, 5, full, 100), QPoint(30, 30));
    EXPECT_EQ(click(1279, 959, full, 100), QPoint(1250, 930));
    EXPECT_EQ(click(101, 51, QSize(640, 480), 50), QPoint(202, 102));
    EXPECT_EQ(click(1001, 1001, QSize(2560, 1920), 200), QPoint(500, 500));
    EXPECT_EQ(click(2559, 3, QSize(2560, 1920), 200), QPoint(1250, 30));
    EXPECT_EQ(click(319, 239, QSize(320, 240), 25), QPoint(1250, 930));
    // Too small a picture: the upper bound wins.
    EXPECT_EQ(click(10, 10, QSize(50, 40), 100), QPoint(20, 10));
}

TEST(FocusClick, IgnoresOtherButtonsRecordingsAndBadZoom) {
    EXPECT_FALSE(focusPointFromClick(false, false, 100, 100, QSize(640, 480), 100));
    EXPECT_FALSE(focusPointFromClick(true, true, 100, 100, QSize(640, 480), 100));
    EXPECT_FALSE(focusPointFromClick(true, false, 100, 100, QSize(640, 480), 0));
}

TEST(FocusRegion, FortyOneSquareWithOneMoreRowAboveCutToTheFrame) {
    EXPECT_EQ(focusRegion(1280, 960, 100, 100), cv::Rect(80, 79, 41, 41));
    EXPECT_EQ(focusRegion(1280, 960, 5, 5), cv::Rect(0, 0, 26, 25));
    EXPECT_EQ(focusRegion(1280, 960, 1279, 959), cv::Rect(1259, 938, 21, 22));
    EXPECT_TRUE(focusRegion(1280, 960, -1, 0).area() > 0);
    EXPECT_TRUE(focusRegion(100, 100, 500, 500).empty());
}

TEST(FocusStep, EnlargesColumnsEightyToOneTwentyAndRowsSeventyNineToOneNineteen) {
    cv::Mat columns(960, 1280, CV_8UC1), rows(960, 1280, CV_8UC1);
    for (int y = 0; y < 960; ++y)
        for (int x = 0; x < 1280; ++x) {
            columns.at<uchar>(y, x) = static_cast<uchar>(x & 255);
            rows.at<uchar>(y, x) = static_cast<uchar>(y & 255);
        }
    QImage focus;
    prepareFocusPicture(focus, 1, buildLevelsPalette(0, 255, 255, 255));
    ASSERT_TRUE(focusStep(columns, focus, 100, 100));
    auto runs = runsOf(focus, true);
    ASSERT_EQ(runs.size(), 41u);
    for (int i = 0; i < 41; ++i) {
        EXPECT_EQ(runs[i].first, 80 + i);
        EXPECT_TRUE(runs[i].second == 7 || runs[i].second == 8) << runs[i].second;
    }
    ASSERT_TRUE(focusStep(rows, focus, 100, 100));
    runs = runsOf(focus, false);
    ASSERT_EQ(runs.size(), 41u);
    EXPECT_EQ(runs.front().first, 79);
    EXPECT_EQ(runs.back().first, 119);
}

TEST(FocusStep, RefusesMismatchedPicturesAndEmptyRegions) {
    cv::Mat grey(100, 100, CV_8UC1, cv::Scalar(9));
    QImage colourFocus;
    prepareFocusPicture(colourFocus, 3, {});
    EXPECT_EQ(colourFocus.format(), QImage::Format_BGR888);
    EXPECT_FALSE(focusStep(grey, colourFocus, 50, 50));
    QImage greyFocus;
    prepareFocusPicture(greyFocus, 1, buildLevelsPalette(0, 255, 255, 255));
    EXPECT_FALSE(focusStep(grey, greyFocus, 500, 500));
    EXPECT_TRUE(focusStep(grey, greyFocus, 50, 50));
    EXPECT_EQ(greyFocus.pixelIndex(288, 288), 9);
}

TEST(FocusStep, RenderFillsTheVisibleFocusPictureInColourAndLeavesTheFrame) {
    PreviewRenderer renderer;
    renderer.setZoom(50);
    cv::Mat frame(200, 300, CV_8UC3);
    cv::RNG(7).fill(frame, cv::RNG::UNIFORM, 0, 256);
    const cv::Mat before = frame.clone();
    renderer.setFocusPoint(QPoint(150, 100));
    QImage picture, focus;
    ASSERT_TRUE(renderer.render(frame, picture, focus, true));
    EXPECT_EQ(cv::norm(frame, before, cv::NORM_INF), 0.0);
    ASSERT_EQ(focus.format(), QImage::Format_BGR888);
    // Top-left block shows frame pixel (130, 79), bottom-right (170, 119).
    const cv::Vec3b first = frame.at<cv::Vec3b>(79, 130), last = frame.at<cv::Vec3b>(119, 170);
    EXPECT_EQ(0, memcmp(focus.constScanLine(0), first.val, 3));
    EXPECT_EQ(0, memcmp(focus.constScanLine(288) + 3 * 288, last.val, 3));
}

TEST(FocusWindowPlacement, CentredOverTheMainWindowAndKeptOnTheDesktop) {
    const QRect desktop(0, 0, 1920, 1080);
    EXPECT_EQ(centredOver(QRect(100, 100, 800, 600), QSize(300, 320), desktop), QPoint(350, 240));
    EXPECT_EQ(centredOver(QRect(1800, 1000, 200, 100), QSize(300, 320), desktop),
              QPoint(1620, 760));
    EXPECT_EQ(centredOver(QRect(-500, -500, 100, 100), QSize(300, 320), desktop), QPoint(0, 0));
}

TEST(FocusWindowForm, ShownCentredOverTheMainWindowOnceThenWhereTheUserLeftIt) {
    ensureApp();
    QWidget main;
    main.setGeometry(100, 100, 800, 600);
    FocusWindow focus;
    EXPECT_EQ(focus.windowTitle(), "FOCUS AID");
    EXPECT_EQ(focus.width(), 289);  // the picture, with the figure and its graph below
    EXPECT_TRUE(focus.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(focus.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(focus.windowFlags() & Qt::WindowMinimizeButtonHint);
    auto* preview = focus.findChild<PictureView*>("Preview");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->geometry(), QRect(0, 0, 289, 289));
    EXPECT_EQ(&focus.image(), &preview->image());
    EXPECT_EQ(focus.image().size(), QSize(kFocusPictureSize, kFocusPictureSize));
    EXPECT_TRUE(focus.isHidden());

    focus.showOver(&main);
    EXPECT_TRUE(focus.isVisible());

    // Moved by the user, closed and shown again: it comes back where it was.
    focus.move(40, 30);
    const QPoint moved = focus.pos();
    focus.close();
    QApplication::processEvents();
    focus.showOver(&main);
    EXPECT_TRUE(focus.isVisible());
    EXPECT_EQ(focus.pos(), moved);
    focus.hide();
}

TEST(FocusWindowForm, ShowsTheFigureOfTheFocusPointAtMostFiveTimesASecond) {
    ensureApp();
    FocusWindow focus;
    cv::Mat frame(200, 300, CV_8UC1, cv::Scalar(20));
    for (int y = 0; y < frame.rows; ++y)
        for (int x = 0; x < frame.cols; ++x) {
            const double r2 = (x - 150) * (x - 150) + (y - 100) * (y - 100);
            frame.at<uchar>(y, x) =
                cv::saturate_cast<uchar>(20 + 200 * std::exp(-r2 / (2 * 2.0 * 2.0)));
        }
    auto* label = focus.findChild<QLabel*>("FocusFigure");
    ASSERT_NE(label, nullptr);
    focus.measure(frame, QPoint(150, 100), 1000);
    EXPECT_TRUE(label->text().startsWith("HFD ")) << label->text().toStdString();
    ASSERT_EQ(focus.history().values().size(), 1u);
    EXPECT_NEAR(focus.history().values().back(), 2.355 * 2.0, 0.25);
    focus.measure(frame, QPoint(150, 100), 1100);  // within 200 ms: not measured again
    EXPECT_EQ(focus.history().values().size(), 1u);
    focus.measure(frame, QPoint(150, 100), 1200);
    EXPECT_EQ(focus.history().values().size(), 2u);
}
