#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "acquisition/Frame.h"
#include "platform/Clock.h"

namespace {

// Frees whatever a test left in the frame list.
struct ImageListTest : ::testing::Test {
    void TearDown() override {
        while (FrameListHead) ReleaseHead();
        EXPECT_EQ(FrameListTail, nullptr);
    }
};

TEST_F(ImageListTest, ListKeepsHeadAndTailConsistent) {
    ReleaseHead();  // empty list: nothing happens
    EXPECT_EQ(FrameListHead, nullptr);
    EXPECT_EQ(FrameListTail, nullptr);

    Frame* a = NewFrame(8, 4, "", false, 8);
    AppendFrame(a);
    EXPECT_EQ(FrameListHead, a);
    EXPECT_EQ(FrameListTail, a);
    ReleaseHead();
    EXPECT_EQ(FrameListHead, nullptr);
    EXPECT_EQ(FrameListTail, nullptr);

    Frame* b = NewFrame(8, 4, "", false, 8);
    Frame* c = NewFrame(8, 4, "", false, 8);
    b->Next = c;  // stale link from elsewhere: append must reset it
    AppendFrame(b);
    AppendFrame(c);
    EXPECT_EQ(b->Next, c);
    EXPECT_EQ(c->Next, nullptr);
    ReleaseHead();
    EXPECT_EQ(FrameListHead, c);
    EXPECT_EQ(FrameListTail, c);
}

TEST_F(ImageListTest, NewFrameFillsFieldsAndPadsRows) {
    testclock::SetNow([] { return 40605.5; });
    Frame* n = NewFrame(101, 3, "M42 ", true, 8);
    testclock::SetNow(nullptr);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->StampText, "M42 ");
    EXPECT_TRUE(n->Flipped);
    EXPECT_DOUBLE_EQ(n->TimeStamp, 40605.5);
    EXPECT_TRUE(n->Image8.empty());
    EXPECT_TRUE(n->ColorImage.empty());
    EXPECT_EQ(FrameWidth(n), 101);
    EXPECT_EQ(FrameHeight(n), 3);
    EXPECT_EQ(FrameDepth(n), 8);
    EXPECT_EQ(FrameStride(n), 104u);
    EXPECT_EQ(FrameDataSize(n), 312u);
    // The padded rows are one block: a camera may write FrameDataSize bytes.
    std::fill(FrameData(n), FrameData(n) + FrameDataSize(n), 0x5A);
    EXPECT_EQ(n->RawImage.at<uint8_t>(2, 100), 0x5A);
    FreeFrame(n);

    Frame* w16 = NewFrame(101, 2, "", false, 16);
    ASSERT_NE(w16, nullptr);
    EXPECT_EQ(FrameDepth(w16), 16);
    EXPECT_EQ(FrameStride(w16), 204u);
    FreeFrame(w16);

    EXPECT_EQ(NewFrame(0, 10, "", false, 8), nullptr);
    EXPECT_EQ(NewFrame(10, -1, "", false, 8), nullptr);
    FreeFrame(nullptr);
}

TEST_F(ImageListTest, EightBitImageIsTheRawImage) {
    Frame* n = NewFrame(6, 2, "", false, 8);
    AppendFrame(n);
    EXPECT_EQ(n->Image8.data, n->RawImage.data);
    EXPECT_EQ(n->Image8.step[0], n->RawImage.step[0]);
}

TEST_F(ImageListTest, SixteenBitSamplesAreScaledAndRounded) {
    Frame* n = NewFrame(3, 1, "", false, 16);
    n->RawImage.at<uint16_t>(0, 0) = 0x1234;
    n->RawImage.at<uint16_t>(0, 1) = 0x12FF;
    n->RawImage.at<uint16_t>(0, 2) = 0xFFFF;
    AppendFrame(n);
    ASSERT_EQ(n->Image8.type(), CV_8UC1);
    EXPECT_NE(n->Image8.data, n->RawImage.data);
    EXPECT_EQ(n->Image8.at<uint8_t>(0, 0), 0x12);
    EXPECT_EQ(n->Image8.at<uint8_t>(0, 1), 0x13);
    EXPECT_EQ(n->Image8.at<uint8_t>(0, 2), 0xFF);
}

TEST_F(ImageListTest, ColourImageIsMadeOnceWithThePhaseOfTheFlip) {
    cv::Mat mosaic(8, 12, CV_8UC1);
    cv::randu(mosaic, 0, 256);
    for (bool flipped : {false, true}) {
        Frame* n = NewFrame(12, 8, "", flipped, 8);
        mosaic.copyTo(n->RawImage);
        AppendFrame(n);
        EnsureColorImage(n);
        const uint8_t* first = n->ColorImage.data;
        EnsureColorImage(n);
        EXPECT_EQ(n->ColorImage.data, first);
        EXPECT_EQ(DemosaicCode(flipped), flipped ? 49 : 48);
        cv::Mat expected;
        cv::cvtColor(mosaic, expected, flipped ? cv::COLOR_BayerGR2BGR : cv::COLOR_BayerRG2BGR);
        EXPECT_EQ(cv::norm(n->ColorImage, expected, cv::NORM_INF), 0.0) << "flipped " << flipped;
        ReleaseHead();
    }
}

TEST_F(ImageListTest, PostedFramesAreCountedUntilFreed) {
    const int before = FramesInFlight.load();
    Frame* a = NewFrame(4, 4, "", false, 8);
    Frame* b = NewFrame(4, 4, "", false, 8);
    MarkPosted(a);
    MarkPosted(a);  // once only
    MarkPosted(b);
    EXPECT_EQ(FramesInFlight.load(), before + 2);
    AppendFrame(a);
    ReleaseHead();
    FreeFrame(b);
    EXPECT_EQ(FramesInFlight.load(), before);
}

}  // namespace
