// The overlay text drawn into frames.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "display/StampOverlay.h"

namespace {
// Pixels that differ between two images of the same size, as a bounding box; count in n.
cv::Rect changedBox(const cv::Mat& a, const cv::Mat& b, int& n) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    if (diff.channels() > 1) cv::cvtColor(diff, diff, cv::COLOR_BGR2GRAY);
    std::vector<cv::Point> points;
    cv::findNonZero(diff, points);
    n = static_cast<int>(points.size());
    return points.empty() ? cv::Rect() : cv::boundingRect(points);
}

}  // namespace

TEST(StampText, NothingDrawnForAnEmptyTextOrImage) {
    cv::Mat frame(50, 200, CV_8UC1, cv::Scalar(30));
    const cv::Mat before = frame.clone();
    putStampText(frame, "");
    EXPECT_EQ(cv::norm(frame, before, cv::NORM_INF), 0.0);

    cv::Mat none;
    putStampText(none, "M42 ");  // no image: nothing happens
    EXPECT_TRUE(none.empty());
}

TEST(StampText, WhiteGlyphsOnTheBaseLineAtTwentyTwenty) {
    const std::string text = "21:05:09.042";
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, cv::FONT_HERSHEY_PLAIN, 1.0, 1, &baseline);

    cv::Mat grey(60, 200, CV_8UC1, cv::Scalar(30));
    const cv::Mat greyBefore = grey.clone();
    putStampText(grey, text);
    int n = 0;
    const cv::Rect box = changedBox(grey, greyBefore, n);
    EXPECT_GT(n, 30);
    EXPECT_GE(box.x, 19);
    EXPECT_LE(box.x, 22);
    EXPECT_LE(box.br().x, 20 + size.width + 1);
    EXPECT_GE(box.y, 20 - size.height - 1);
    EXPECT_LE(box.br().y, 20 + baseline + 1);
    double maxValue = 0, minValue = 0;
    cv::minMaxLoc(grey, &minValue, &maxValue);
    EXPECT_EQ(maxValue, 255.0);

    cv::Mat colour(60, 200, CV_8UC3, cv::Scalar(10, 20, 30));
    const cv::Mat colourBefore = colour.clone();
    putStampText(colour, text);
    const cv::Rect colourBox = changedBox(colour, colourBefore, n);
    EXPECT_EQ(colourBox, box);
    cv::Mat mask;
    cv::inRange(colour, cv::Scalar(255, 255, 255), cv::Scalar(255, 255, 255), mask);
    EXPECT_EQ(cv::countNonZero(mask), n);  // every changed pixel is white
}

TEST(StampText, NarrowFrameCutsTheTextAtItsEdge) {
    const std::string text = "03/03/2011 21:05:09.042";
    cv::Mat buffer(40, 120, CV_8UC1, cv::Scalar(0));
    cv::Mat frame = buffer(cv::Rect(0, 0, 50, 40));  // a view: its right neighbours stay
    putStampText(frame, text);
    EXPECT_GT(cv::countNonZero(frame.colRange(45, 50)), 0);  // text runs to the edge
    EXPECT_EQ(cv::countNonZero(buffer.colRange(50, 120)), 0);
}
