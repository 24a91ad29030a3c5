// The recording controller without a window: counting modes, progress texts, the end of a
// recording, its summary, and what a failing writer does to it.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "RecTestUtil.h"
#include "platform/Clock.h"
#include "recording/RecordingController.h"
#include "recording/SerWriter.h"

using namespace rectest;

namespace {
constexpr int kW = 32, kH = 24;

int32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int32_t>(v);
}

struct FakeView : RecordingView {
    std::vector<std::string> progress;  // every text set, in order
    std::string memory;
    int closed = 0;
    std::vector<std::pair<double, double>> summaries;
    std::vector<std::string> failures;
    void setProgressText(const std::string& t) override { progress.push_back(t); }
    void setMemoryText(const std::string& t) override { memory = t; }
    void recordingClosed() override { ++closed; }
    void showSummary(double d, double fps) override { summaries.emplace_back(d, fps); }
    void reportFailure(const std::string& t) override { failures.push_back(t); }
};

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        now = 100000;
        testclock::SetMillis([this] { return now.load(); });
        exp.setView(&view);
    }
    void TearDown() override {
        exp.close();
        testclock::SetMillis(nullptr);
    }
    // What the frame hand-off does with a due frame, then waiting for the writer thread.
    void Step(int w = kW, int h = kH) {
        exp.recordFrame(MakeFrame(w, h));
        exp.waitForWriter();
    }
    // A SER recording started by the capture command.
    std::string StartSer(int64_t count, bool timed, const std::string& name = "moon_00000.SER") {
        const std::string path = dir / name;
        EXPECT_TRUE(
            exp.startRecording(CaptureFormat::Ser, path, kW, kH, false, 8, {count, timed}, false))
            << exp.lastError();
        return path;
    }
    void StartStills(CaptureFormat format, const std::string& stillPath, int64_t count) {
        EXPECT_TRUE(exp.startStillSeries(format, stillPath, {count, false}, false));
    }
    size_t Files() const {
        return std::distance(std::filesystem::directory_iterator(dir.path()),
                             std::filesystem::directory_iterator());
    }

    std::atomic<uint32_t> now{0};
    TempDir dir;
    FakeView view;
    RecordingController exp;
};
}  // namespace

TEST(CountText, ConvertsLikeTheRuntime) {
    int32_t v = 0;
    std::string err;
    EXPECT_TRUE(ParseCount("42", v, err));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ParseCount("-5", v, err));
    EXPECT_EQ(v, -5);
    EXPECT_TRUE(ParseCount(" +7", v, err));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(ParseCount("-2147483648", v, err));
    EXPECT_EQ(v, INT32_MIN);
    for (const char* bad : {"", "-", "12a", "2147483648", "1 ", "99999999999999999999"}) {
        EXPECT_FALSE(ParseCount(bad, v, err)) << bad;
        EXPECT_EQ(err, std::string("'") + bad + "' is not a valid integer value");
    }
}

TEST(CountText, PauseInMilliseconds) {
    EXPECT_EQ(PauseMs("", false), 0);
    EXPECT_EQ(PauseMs("", true), 0);
    EXPECT_EQ(PauseMs("250", false), 250);
    EXPECT_EQ(PauseMs("2", true), 2000);
    EXPECT_EQ(PauseMs("99999", true), 99999000);
}

TEST_F(ExportTest, CountOfOneWritesOneFrameAndTheNextDueFrameCloses) {
    const std::string path = StartSer(1, false);
    Step();
    EXPECT_EQ(exp.framesDone(), 1);
    EXPECT_EQ(exp.framesToGo(), 0);
    EXPECT_TRUE(view.progress.empty());  // the count ran out: no "0 Frames left"
    EXPECT_EQ(exp.writerState(), WriterState::Ser);
    now += 999;
    Step();  // finds the recording over: not written
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_EQ(exp.framesWritten(), 1);
    ASSERT_EQ(view.summaries.size(), 1u);
    EXPECT_DOUBLE_EQ(view.summaries[0].first, 1.0);  // (999 + 1) ms
    EXPECT_DOUBLE_EQ(view.summaries[0].second, 1.0);
    EXPECT_EQ(view.closed, 1);
    const auto bytes = ReadAll(path);
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 1);
    EXPECT_EQ(bytes.size(), size_t{SerHeaderSize} + kW * kH + 8);
}

TEST_F(ExportTest, CountOfFiveCountsDownThenClearsThePanel) {
    const std::string path = StartSer(5, false);
    for (int i = 0; i < 5; ++i) Step();
    EXPECT_EQ(view.progress, (std::vector<std::string>{"4 Frames left", "3 Frames left",
                                                       "2 Frames left", "1 Frames left"}));
    Step();
    EXPECT_EQ(view.progress.back(), "");
    EXPECT_EQ(Le32(ReadAll(path), SerFrameCountOffset), 5);
    EXPECT_FALSE(view.memory.empty());
    EXPECT_EQ(view.memory.find_first_not_of("0123456789"), std::string::npos) << view.memory;
    EXPECT_GT(std::stoll(view.memory), 0);
}

TEST_F(ExportTest, ContinuousRunsUntilCancelled) {
    StartSer(0, false);
    EXPECT_EQ(exp.framesToGo(), CountContinuous);
    for (int i = 0; i < 7; ++i) Step();
    EXPECT_EQ(view.progress.back(), RecordingController::ContinuousText);
    exp.cancel();
    Step();
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_EQ(exp.framesWritten(), 7);
}

TEST_F(ExportTest, TimedShowsSecondsLeftAndEndsAtEndTime) {
    StartSer(3, true);
    EXPECT_EQ(exp.framesToGo(), CountTimed);
    EXPECT_EQ(exp.endTime(), now + 3000);
    Step();
    EXPECT_EQ(view.progress.back(), "3 s left, 1 frames");
    now += 2500;
    Step();
    EXPECT_EQ(view.progress.back(), "0 s left, 2 frames");
    now += 500;  // EndTime reached
    Step();
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_EQ(exp.framesWritten(), 2);
}

TEST_F(ExportTest, TimedSurvivesTheTimerWrap) {
    now = 0xFFFFFC00u;  // 1024 ms before the wrap
    StartSer(2, true);
    now += 1500;  // past the wrap, 500 ms left
    Step();
    EXPECT_EQ(exp.framesDone(), 1);
    EXPECT_EQ(view.progress.back(), "0 s left, 1 frames");
}

TEST_F(ExportTest, TimedZeroWritesNothingAndShowsRateZero) {
    const std::string path = StartSer(0, true);
    Step();
    EXPECT_EQ(exp.writerState(), WriterState::None);
    ASSERT_EQ(view.summaries.size(), 1u);
    EXPECT_EQ(view.summaries[0].second, 0.0);
    EXPECT_EQ(Le32(ReadAll(path), SerFrameCountOffset), 0);
}

TEST_F(ExportTest, NegativeCountEndsASeriesAtItsFirstStep) {
    StartStills(CaptureFormat::Fit, dir / "moon.FIT", -5);
    Step();
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_EQ(Files(), 0u);
}

TEST_F(ExportTest, StillSeriesWritesNumberedFilesAndClosesNothing) {
    StartStills(CaptureFormat::Bmp, dir / "moon.BMP", 2);
    Step();
    Step();
    Step();
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_TRUE(std::filesystem::exists(dir / "moon_00000.BMP"));
    EXPECT_TRUE(std::filesystem::exists(dir / "moon_00001.BMP"));
    EXPECT_EQ(Files(), 2u);
    EXPECT_TRUE(view.failures.empty());
}

TEST_F(ExportTest, FramesOfAnotherSizeAreDroppedNotCounted) {
    const std::string path = StartSer(2, false);
    Step(kW + 4, kH);
    EXPECT_EQ(exp.framesDone(), 0);
    EXPECT_EQ(exp.framesToGo(), 2);
    EXPECT_TRUE(view.failures.empty());
    Step();
    Step();
    Step();
    EXPECT_EQ(Le32(ReadAll(path), SerFrameCountOffset), 2);
    EXPECT_EQ(exp.framesWritten(), 2);
}

TEST_F(ExportTest, FailedWriteEndsTheRecordingAtOnceWithACompleteFile) {
    const std::string path = StartSer(0, false);
    {
        // Room for the header and two frames.
        FileSizeLimit limit(SerHeaderSize + 2 * kW * kH + kW * kH / 2);
        Step();
        Step();
        Step();  // does not fit
    }
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_EQ(exp.framesToGo(), 0);
    EXPECT_EQ(exp.framesWritten(), 2);
    ASSERT_EQ(view.summaries.size(), 1u);
    ASSERT_EQ(view.failures.size(), 1u);
    EXPECT_NE(view.failures[0].find("after 2 frames"), std::string::npos) << view.failures[0];
    EXPECT_NE(view.failures[0].find(path), std::string::npos) << view.failures[0];
    const auto bytes = ReadAll(path);
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 2);
    EXPECT_EQ(bytes.size(), size_t{SerHeaderSize} + 2 * kW * kH + 2 * 8);
    Step();  // later frames find nothing open
    EXPECT_EQ(view.failures.size(), 1u);
}

TEST_F(ExportTest, FailedStillEndsTheSeries) {
    StartStills(CaptureFormat::Fit, dir / "gone/moon.FIT", 5);  // the folder does not exist
    Step();
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_EQ(exp.framesWritten(), 0);
    ASSERT_EQ(view.failures.size(), 1u);
    EXPECT_NE(view.failures[0].find("moon_00000.FIT"), std::string::npos) << view.failures[0];
}

TEST_F(ExportTest, OpenFailureLeavesNothingOpen) {
    EXPECT_FALSE(exp.startRecording(CaptureFormat::Ser, dir / "gone/moon_00000.SER", kW, kH, false,
                                    8, {0, false}, false));
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_NE(exp.lastError().find("moon_00000.SER"), std::string::npos);
}

TEST_F(ExportTest, ASecondOpenFinishesTheFirstOutput) {
    const std::string first = StartSer(0, false, "a_00000.SER");
    Step();
    StartSer(0, false, "b_00000.SER");
    EXPECT_EQ(Le32(ReadAll(first), SerFrameCountOffset), 1);
}

TEST_F(ExportTest, FramesHandedOffDuringTheCodecDialogWaitInTheQueue) {
    // A new AVI part asks the window thread for its codec; frames handed off while the
    // dialog is up wait in the queue and are written after it.
    int asked = 0;
    exp.avi().setCodecChooser(
        [&](const std::vector<AviCodec>&, const std::string&, int32_t& fourcc) {
            if (++asked == 2) exp.recordFrame(MakeFrame(kW, kH));
            fourcc = 0;
            return true;
        });
    exp.avi().setCodec(CodecAsk);
    exp.avi().setPartLimitBytes(10);  // every second frame starts a part
    ASSERT_TRUE(exp.startRecording(CaptureFormat::Avi, dir / "moon_00000.AVI", kW, kH, false, 8,
                                   {0, false}, false))
        << exp.lastError();
    Step();
    Step();  // new part: asks; the frame handed off meanwhile takes a third part
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(exp.framesWritten(), 3);
    EXPECT_TRUE(exp.close()) << exp.lastError();
}

// A camera that stops sending frames must not keep a recording open: a cancel, a timed end
// and a finished count end it without another frame, with a complete file.
TEST_F(ExportTest, OverRecordingsEndWithoutAnotherFrame) {
    const std::string timed = StartSer(2, true);
    Step();
    EXPECT_FALSE(exp.finishIfOver());  // time left
    now += 2000;
    EXPECT_TRUE(exp.finishIfOver());
    exp.waitForWriter();
    EXPECT_EQ(exp.writerState(), WriterState::None);
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(view.summaries.size(), 1u);
    const auto bytes = ReadAll(timed);
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 1);
    EXPECT_EQ(bytes.size(), size_t(SerHeaderSize) + kW * kH + 8);  // one frame, one stamp

    const std::string cancelled = StartSer(0, false, "moon_00001.SER");
    Step();
    Step();
    exp.cancel();
    EXPECT_TRUE(exp.finishIfOver());
    exp.waitForWriter();
    EXPECT_EQ(Le32(ReadAll(cancelled), SerFrameCountOffset), 2);

    StartStills(CaptureFormat::Fit, dir / "m.FIT", 1);
    Step();
    EXPECT_TRUE(exp.finishIfOver());
    exp.waitForWriter();
    EXPECT_FALSE(exp.finishIfOver());  // nothing open any more
    EXPECT_EQ(view.closed, 3);
}

TEST(Gaps, IntervalsLongerThanOneAndAHalfMedians) {
    EXPECT_EQ(GapText(FindGaps({})), "no gaps");
    EXPECT_EQ(GapText(FindGaps({1.0, 5.0})), "no gaps");
    EXPECT_EQ(GapText(FindGaps({0.0, 0.1, 0.2, 0.3, 0.4})), "no gaps");
    // Median 0.1: 0.14 is no gap, 0.4 and 0.2 are.
    const GapReport r = FindGaps({0.0, 0.1, 0.24, 0.34, 0.74, 0.84, 1.04, 1.14});
    EXPECT_EQ(r.gaps, 2);
    EXPECT_DOUBLE_EQ(r.longestSeconds, 0.4);
    EXPECT_EQ(GapText(r), "2 gaps, longest 0.4 s");
    // An even number of intervals: the median lies between the middle two (0.1 and 0.25).
    EXPECT_EQ(GapText(FindGaps({0.0, 0.1, 0.2, 0.45, 0.7})), "no gaps");
    EXPECT_EQ(GapText(FindGaps({0.0, 0.1, 0.2, 0.3, 1.5})), "1 gap, longest 1.2 s");
}

TEST_F(ExportTest, GapsOfTheWrittenFramesTimeStamps) {
    StartSer(0, false);
    const double day = 86400.0;
    for (double t : {10.0, 10.1, 10.2, 10.8, 10.9}) {
        FramePtr f = MakeFrame(kW, kH);
        f->TimeStamp = t / day;
        exp.recordFrame(std::move(f));
    }
    exp.cancel();
    exp.finishIfOver();
    exp.waitForWriter();
    EXPECT_EQ(exp.lastGaps().gaps, 1);
    EXPECT_NEAR(exp.lastGaps().longestSeconds, 0.6, 1e-6);
}
