// The recording controller without a window: counting modes, progress texts, the end of a
// recording, its summary, and what a failing writer does to it.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "RecTestUtil.h"
#include "platform/Clock.h"
#include "recording/RecordingController.h"
#include "recording/SerWriter.h"
#include "support/RecordingLog.h"

using namespace rectest;

namespace {
constexpr int kW = 32, kH = 24;

int32_t le32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int32_t>(v);
}

using FakeView = tvtest::RecordingLog;

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        now_ = 100000;
        testclock::setMillis([this] { return now_.load(); });
        view_.listenTo(exp_);
    }
    void TearDown() override {
        exp_.close();
        testclock::setMillis(nullptr);
    }
    // What the frame hand-off does with a due frame, then waiting for the writer thread.
    void step(int w = kW, int h = kH) {
        exp_.recordFrame(makeFrame(w, h));
        exp_.waitForWriter();
    }
    // A SER recording started by the capture command.
    std::string startSer(int64_t count, bool timed, const std::string& name = "moon_00000.SER") {
        const std::string path = dir_ / name;
        EXPECT_TRUE(
            exp_.startRecording(CaptureFormat::Ser, path, kW, kH, false, 8, {count, timed}, false))
            << exp_.lastError();
        return path;
    }
    void startStills(CaptureFormat format, const std::string& stillPath, int64_t count) {
        EXPECT_TRUE(exp_.startStillSeries(format, stillPath, {count, false}, false));
    }
    size_t files() const {
        return std::distance(std::filesystem::directory_iterator(dir_.path()),
                             std::filesystem::directory_iterator());
    }

    std::atomic<uint32_t> now_{0};
    TempDir dir_;
    FakeView view_;
    RecordingController exp_;
};
}  // namespace

TEST(CountText, ConvertsLikeTheRuntime) {
    int32_t v = 0;
    std::string err;
    EXPECT_TRUE(parseCount("42", v, err));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(parseCount("-5", v, err));
    EXPECT_EQ(v, -5);
    EXPECT_TRUE(parseCount(" +7", v, err));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(parseCount("-2147483648", v, err));
    EXPECT_EQ(v, INT32_MIN);
    for (const char* bad : {"", "-", "12a", "2147483648", "1 ", "99999999999999999999"}) {
        EXPECT_FALSE(parseCount(bad, v, err)) << bad;
        EXPECT_EQ(err, std::string("'") + bad + "' is not a valid integer value");
    }
}

TEST(CountText, PauseInMilliseconds) {
    EXPECT_EQ(pauseMsFromText("", false), 0);
    EXPECT_EQ(pauseMsFromText("", true), 0);
    EXPECT_EQ(pauseMsFromText("250", false), 250);
    EXPECT_EQ(pauseMsFromText("2", true), 2000);
    EXPECT_EQ(pauseMsFromText("99999", true), 99999000);
}

TEST_F(ExportTest, CountOfOneWritesOneFrameAndTheNextDueFrameCloses) {
    const std::string path = startSer(1, false);
    step();
    EXPECT_EQ(exp_.framesDone(), 1);
    EXPECT_EQ(exp_.framesToGo(), 0);
    EXPECT_TRUE(view_.progress.empty());  // the count ran out: no "0 Frames left"
    EXPECT_EQ(exp_.writerState(), WriterState::Ser);
    now_ += 999;
    step();  // finds the recording over: not written
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_EQ(exp_.framesWritten(), 1);
    ASSERT_EQ(view_.summaries.size(), 1u);
    EXPECT_DOUBLE_EQ(view_.summaries[0].first, 1.0);  // (999 + 1) ms
    EXPECT_DOUBLE_EQ(view_.summaries[0].second, 1.0);
    EXPECT_EQ(view_.closed, 1);
    const auto bytes = readAll(path);
    EXPECT_EQ(le32(bytes, kSerFrameCountOffset), 1);
    EXPECT_EQ(bytes.size(), size_t{kSerHeaderSize} + kW * kH + 8);
}

TEST_F(ExportTest, CountOfFiveCountsDownThenClearsThePanel) {
    const std::string path = startSer(5, false);
    for (int i = 0; i < 5; ++i) step();
    EXPECT_EQ(view_.progress, (std::vector<std::string>{"4 Frames left", "3 Frames left",
                                                        "2 Frames left", "1 Frames left"}));
    step();
    EXPECT_EQ(view_.progress.back(), "");
    EXPECT_EQ(le32(readAll(path), kSerFrameCountOffset), 5);
    EXPECT_FALSE(view_.memory.empty());
    // The figure with its unit: "<MiB> MiB free".
    EXPECT_EQ(view_.memory.find_first_not_of("0123456789"), view_.memory.find(" MiB free"))
        << view_.memory;
    EXPECT_GT(std::stoll(view_.memory), 0);
}

TEST_F(ExportTest, ContinuousRunsUntilCancelled) {
    startSer(0, false);
    EXPECT_EQ(exp_.framesToGo(), kCountContinuous);
    for (int i = 0; i < 7; ++i) step();
    EXPECT_EQ(view_.progress.back(), RecordingController::kContinuousText);
    exp_.cancel();
    step();
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_EQ(exp_.framesWritten(), 7);
}

TEST_F(ExportTest, TimedShowsSecondsLeftAndEndsAtEndTime) {
    startSer(3, true);
    EXPECT_EQ(exp_.framesToGo(), kCountTimed);
    EXPECT_EQ(exp_.endTime(), now_ + 3000);
    step();
    EXPECT_EQ(view_.progress.back(), "3 s left, 1 frames");
    now_ += 2500;
    step();
    EXPECT_EQ(view_.progress.back(), "0 s left, 2 frames");
    now_ += 500;  // EndTime reached
    step();
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_EQ(exp_.framesWritten(), 2);
}

TEST_F(ExportTest, TimedSurvivesTheTimerWrap) {
    now_ = 0xFFFFFC00u;  // 1024 ms before the wrap
    startSer(2, true);
    now_ += 1500;  // past the wrap, 500 ms left
    step();
    EXPECT_EQ(exp_.framesDone(), 1);
    EXPECT_EQ(view_.progress.back(), "0 s left, 1 frames");
}

TEST_F(ExportTest, TimedZeroWritesNothingAndShowsRateZero) {
    const std::string path = startSer(0, true);
    step();
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    ASSERT_EQ(view_.summaries.size(), 1u);
    EXPECT_EQ(view_.summaries[0].second, 0.0);
    EXPECT_EQ(le32(readAll(path), kSerFrameCountOffset), 0);
}

TEST_F(ExportTest, NegativeCountEndsASeriesAtItsFirstStep) {
    startStills(CaptureFormat::Fit, dir_ / "moon.FIT", -5);
    step();
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_EQ(files(), 0u);
}

TEST_F(ExportTest, StillSeriesWritesNumberedFilesAndClosesNothing) {
    startStills(CaptureFormat::Bmp, dir_ / "moon.BMP", 2);
    step();
    step();
    step();
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "moon_00000.BMP"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "moon_00001.BMP"));
    EXPECT_EQ(files(), 2u);
    EXPECT_TRUE(view_.failures.empty());
}

TEST_F(ExportTest, FramesOfAnotherSizeAreDroppedNotCounted) {
    const std::string path = startSer(2, false);
    step(kW + 4, kH);
    EXPECT_EQ(exp_.framesDone(), 0);
    EXPECT_EQ(exp_.framesToGo(), 2);
    EXPECT_TRUE(view_.failures.empty());
    step();
    step();
    step();
    EXPECT_EQ(le32(readAll(path), kSerFrameCountOffset), 2);
    EXPECT_EQ(exp_.framesWritten(), 2);
}

TEST_F(ExportTest, FailedWriteEndsTheRecordingAtOnceWithACompleteFile) {
    const std::string path = startSer(0, false);
    {
        // Room for the header and two frames.
        FileSizeLimit limit(kSerHeaderSize + 2 * kW * kH + kW * kH / 2);
        step();
        step();
        step();  // does not fit
    }
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_EQ(exp_.framesToGo(), 0);
    EXPECT_EQ(exp_.framesWritten(), 2);
    ASSERT_EQ(view_.summaries.size(), 1u);
    ASSERT_EQ(view_.failures.size(), 1u);
    EXPECT_NE(view_.failures[0].find("after 2 frames"), std::string::npos) << view_.failures[0];
    EXPECT_NE(view_.failures[0].find(path), std::string::npos) << view_.failures[0];
    const auto bytes = readAll(path);
    EXPECT_EQ(le32(bytes, kSerFrameCountOffset), 2);
    EXPECT_EQ(bytes.size(), size_t{kSerHeaderSize} + 2 * kW * kH + 2 * 8);
    step();  // later frames find nothing open
    EXPECT_EQ(view_.failures.size(), 1u);
}

TEST_F(ExportTest, FailedStillEndsTheSeries) {
    startStills(CaptureFormat::Fit, dir_ / "gone/moon.FIT", 5);  // the folder does not exist
    step();
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_EQ(exp_.framesWritten(), 0);
    ASSERT_EQ(view_.failures.size(), 1u);
    EXPECT_NE(view_.failures[0].find("moon_00000.FIT"), std::string::npos) << view_.failures[0];
}

TEST_F(ExportTest, OpenFailureLeavesNothingOpen) {
    EXPECT_FALSE(exp_.startRecording(CaptureFormat::Ser, dir_ / "gone/moon_00000.SER", kW, kH,
                                     false, 8, {0, false}, false));
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_NE(exp_.lastError().find("moon_00000.SER"), std::string::npos);
}

TEST_F(ExportTest, ASecondOpenFinishesTheFirstOutput) {
    const std::string first = startSer(0, false, "a_00000.SER");
    step();
    startSer(0, false, "b_00000.SER");
    EXPECT_EQ(le32(readAll(first), kSerFrameCountOffset), 1);
}

TEST_F(ExportTest, FramesHandedOffDuringTheCodecDialogWaitInTheQueue) {
    // A new AVI part asks the window thread for its codec; frames handed off while the
    // dialog is up wait in the queue and are written after it.
    int asked = 0;
    exp_.avi().setCodecChooser(
        [&](const std::vector<AviCodec>&, const std::string&, int32_t& fourcc) {
            if (++asked == 2) exp_.recordFrame(makeFrame(kW, kH));
            fourcc = 0;
            return true;
        });
    exp_.avi().setCodec(kCodecAsk);
    exp_.avi().setPartLimitBytes(10);  // every second frame starts a part
    ASSERT_TRUE(exp_.startRecording(CaptureFormat::Avi, dir_ / "moon_00000.AVI", kW, kH, false, 8,
                                    {0, false}, false))
        << exp_.lastError();
    step();
    step();  // new part: asks; the frame handed off meanwhile takes a third part
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(exp_.framesWritten(), 3);
    EXPECT_TRUE(exp_.close()) << exp_.lastError();
}

// A camera that stops sending frames must not keep a recording open: a cancel, a timed end
// and a finished count end it without another frame, with a complete file.
TEST_F(ExportTest, OverRecordingsEndWithoutAnotherFrame) {
    const std::string timed = startSer(2, true);
    step();
    EXPECT_FALSE(exp_.finishIfOver());  // time left
    now_ += 2000;
    EXPECT_TRUE(exp_.finishIfOver());
    exp_.waitForWriter();
    EXPECT_EQ(exp_.writerState(), WriterState::None);
    EXPECT_EQ(view_.closed, 1);
    EXPECT_EQ(view_.summaries.size(), 1u);
    const auto bytes = readAll(timed);
    EXPECT_EQ(le32(bytes, kSerFrameCountOffset), 1);
    EXPECT_EQ(bytes.size(), size_t(kSerHeaderSize) + kW * kH + 8);  // one frame, one stamp

    const std::string cancelled = startSer(0, false, "moon_00001.SER");
    step();
    step();
    exp_.cancel();  // ends the recording without another frame
    EXPECT_TRUE(exp_.ending() || !exp_.busy());
    exp_.waitForWriter();
    EXPECT_EQ(le32(readAll(cancelled), kSerFrameCountOffset), 2);

    startStills(CaptureFormat::Fit, dir_ / "m.FIT", 1);
    step();
    EXPECT_TRUE(exp_.finishIfOver());
    exp_.waitForWriter();
    EXPECT_FALSE(exp_.finishIfOver());  // nothing open any more
    EXPECT_EQ(view_.closed, 3);
}

TEST(Gaps, IntervalsLongerThanOneAndAHalfMedians) {
    EXPECT_EQ(gapText(findGaps({})), "no gaps");
    EXPECT_EQ(gapText(findGaps({1.0, 5.0})), "no gaps");
    EXPECT_EQ(gapText(findGaps({0.0, 0.1, 0.2, 0.3, 0.4})), "no gaps");
    // Median 0.1: 0.14 is no gap, 0.4 and 0.2 are.
    const GapReport r = findGaps({0.0, 0.1, 0.24, 0.34, 0.74, 0.84, 1.04, 1.14});
    EXPECT_EQ(r.gaps, 2);
    EXPECT_DOUBLE_EQ(r.longestSeconds, 0.4);
    EXPECT_EQ(gapText(r), "2 gaps, longest 0.4 s");
    // An even number of intervals: the median lies between the middle two (0.1 and 0.25).
    EXPECT_EQ(gapText(findGaps({0.0, 0.1, 0.2, 0.45, 0.7})), "no gaps");
    EXPECT_EQ(gapText(findGaps({0.0, 0.1, 0.2, 0.3, 1.5})), "1 gap, longest 1.2 s");
}

TEST_F(ExportTest, GapsOfTheWrittenFramesTimeStamps) {
    startSer(0, false);
    const double day = 86400.0;
    for (double t : {10.0, 10.1, 10.2, 10.8, 10.9}) {
        FramePtr f = makeFrame(kW, kH);
        f->timeStamp = t / day;
        exp_.recordFrame(std::move(f));
    }
    exp_.cancel();
    exp_.finishIfOver();
    exp_.waitForWriter();
    EXPECT_EQ(exp_.lastGaps().gaps, 1);
    EXPECT_NEAR(exp_.lastGaps().longestSeconds, 0.6, 1e-6);
}
