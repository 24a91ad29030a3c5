#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "acquisition/Frame.h"
#include "platform/Clock.h"

namespace {

TEST(Frame, NewFrameFillsFieldsAndPadsRows) {
    testclock::setNow([] { return 40605.5; });
    FramePtr n = newFrame(101, 3, "M42 ", true, 8);
    testclock::setNow(nullptr);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->stampText, "M42 ");
    EXPECT_TRUE(n->flipped);
    EXPECT_DOUBLE_EQ(n->timeStamp.dateTime(), 40605.5);
    EXPECT_TRUE(n->image8.empty());
    EXPECT_TRUE(n->colorImage.empty());
    EXPECT_FALSE(n->handedOver());
    EXPECT_EQ(frameWidth(n.get()), 101);
    EXPECT_EQ(frameHeight(n.get()), 3);
    EXPECT_EQ(frameDepth(n.get()), 8);
    EXPECT_EQ(frameStride(n.get()), 104u);
    EXPECT_EQ(frameDataSize(n.get()), 312u);
    // The padded rows are one block: a camera may write frameDataSize bytes.
    std::fill(frameData(n.get()), frameData(n.get()) + frameDataSize(n.get()), 0x5A);
    EXPECT_EQ(n->rawImage.at<uint8_t>(2, 100), 0x5A);

    FramePtr w16 = newFrame(101, 2, "", false, 16);
    ASSERT_NE(w16, nullptr);
    EXPECT_EQ(frameDepth(w16.get()), 16);
    EXPECT_EQ(frameStride(w16.get()), 204u);

    EXPECT_EQ(newFrame(0, 10, "", false, 8), nullptr);
    EXPECT_EQ(newFrame(10, -1, "", false, 8), nullptr);
}

TEST(Frame, EightBitImageIsTheRawImage) {
    FramePtr n = newFrame(6, 2, "", false, 8);
    prepareImage8(*n);
    EXPECT_EQ(n->image8.data, n->rawImage.data);
    EXPECT_EQ(n->image8.step[0], n->rawImage.step[0]);
}

TEST(Frame, SixteenBitSamplesAreScaledAndRounded) {
    FramePtr n = newFrame(3, 1, "", false, 16);
    n->rawImage.at<uint16_t>(0, 0) = 0x1234;
    n->rawImage.at<uint16_t>(0, 1) = 0x12FF;
    n->rawImage.at<uint16_t>(0, 2) = 0xFFFF;
    prepareImage8(*n);
    ASSERT_EQ(n->image8.type(), CV_8UC1);
    EXPECT_NE(n->image8.data, n->rawImage.data);
    EXPECT_EQ(n->image8.at<uint8_t>(0, 0), 0x12);
    EXPECT_EQ(n->image8.at<uint8_t>(0, 1), 0x13);
    EXPECT_EQ(n->image8.at<uint8_t>(0, 2), 0xFF);
}

// A mosaic of a flat colour laid out in `pattern` comes back as that colour, once.
TEST(Frame, ColourImageFollowsThePatternAndIsMadeOnce) {
    const cv::Vec3b orange(30, 120, 250);  // B, G, R
    for (ColorPattern pattern :
         {ColorPattern::RGGB, ColorPattern::GRBG, ColorPattern::GBRG, ColorPattern::BGGR}) {
        const std::string name = patternName(pattern);
        FramePtr n = newFrame(12, 8, "", false, 8);
        n->pattern = pattern;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x) {
                const char site = name[(y & 1) * 2 + (x & 1)];
                n->rawImage.at<uint8_t>(y, x) = orange[site == 'B' ? 0 : site == 'G' ? 1 : 2];
            }
        ensureColorImage(*n);
        const uint8_t* first = n->colorImage.data;
        ensureColorImage(*n);
        EXPECT_EQ(n->colorImage.data, first);
        EXPECT_EQ(n->colorImage.at<cv::Vec3b>(4, 6), orange) << name;
    }
}

// 12-bit samples in 16-bit words fill the 8-bit range: 4095 is saturated, 2048 mid-grey.
TEST(Frame, DeepSamplesScaleFromTheirOwnRange) {
    FramePtr n = newFrame(2, 1, "", false, 16);
    n->bitsPerSample = 12;
    n->rawImage.at<uint16_t>(0, 0) = 4095;
    n->rawImage.at<uint16_t>(0, 1) = 2048;
    prepareImage8(*n);
    EXPECT_EQ(n->image8.at<uint8_t>(0, 0), 255);
    EXPECT_EQ(n->image8.at<uint8_t>(0, 1), 128);
}

TEST(Frame, HandedOverFramesHoldTheBudgetUntilDestroyed) {
    auto budget = std::make_shared<FrameBudget>();
    FramePtr a = newFrame(4, 4, "", false, 8);
    FramePtr b = newFrame(4, 4, "", false, 8);
    a->holdBudget(budget);
    a->holdBudget(budget);  // once only
    b->holdBudget(budget);
    EXPECT_TRUE(a->handedOver());
    EXPECT_EQ(budget->inFlight(), 2);
    a.reset();
    EXPECT_EQ(budget->inFlight(), 1);
    // The budget outlives its owner while a frame still holds it.
    std::weak_ptr<FrameBudget> watch = budget;
    budget.reset();
    EXPECT_FALSE(watch.expired());
    b.reset();
    EXPECT_TRUE(watch.expired());
}

}  // namespace
