#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "FakeCamera.h"
#include "FrameQueue.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "platform/DateTime.h"

namespace {
using namespace std::chrono_literals;

// Polls `cond` for up to `ms` milliseconds.
template <typename Cond>
bool eventually(Cond cond, int ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cam_.install();
        capture_ = std::make_unique<CaptureThread>(frames_.poster());
        capture_->setStamp("", "");
        capture_->setStallMarginMs(150);
    }
    void TearDown() override {
        cam_.setCallHook(nullptr);
        cam_.setAutoRelease(true);  // ends a pending exposure, so the thread can stop
        EXPECT_TRUE(capture_->stop(3000));
        frames_.clear();
        taken_.clear();
        EXPECT_EQ(capture_->framesInFlight(), 0);
        capture_.reset();
        testclock::setNow(nullptr);
    }
    void start() {
        ASSERT_TRUE(capture_->openCamera());
        capture_->start();
    }
    // Blocks until the next exposure has started; returns the index of the first call
    // after its threadedExposure (the thread makes no calls until it is released).
    size_t awaitExposure() {
        EXPECT_TRUE(cam_.waitForExposure(10000));
        return cam_.callCount();
    }
    // Pops a frame and keeps it until the end of the test.
    Frame* take() {
        FramePtr frame = frames_.pop();
        if (!frame) return nullptr;
        taken_.push_back(std::move(frame));
        return taken_.back().get();
    }

    tvtest::FakeCamera cam_{640, 480, "Fake Cam"};
    FrameQueue frames_;
    std::vector<FramePtr> taken_;
    std::unique_ptr<CaptureThread> capture_;
};

TEST_F(CaptureTest, FirstPassesSendSettingsInOrderAndExposureLengthOnlyOnChange) {
    capture_->setGain(33);
    capture_->setExposureMs(20);
    capture_->setWhiteBalance({1, 2, 3});
    start();
    size_t mark = awaitExposure();
    EXPECT_EQ(cam_.trace(),
              "openUSB(0) GetCameraInfo(*,*) ExposureSemaphore(*) SetWhiteBalance(1,2,3) "
              "Subframe(640,480) SetExposureLength(20) HorizontalFlip(0) SetGain(33) "
              "ThreadedExposure(*,0,1)");
    EXPECT_EQ(capture_->status().sensorWidth, 640);
    EXPECT_EQ(capture_->status().sensorHeight, 480);
    EXPECT_EQ(cam_.semaphore(), capture_->doneSemaphore());

    capture_->setExposureMs(20);  // the value already sent
    cam_.release();
    size_t next = awaitExposure();
    EXPECT_EQ(cam_.trace(mark),
              "Subframe(640,480) HorizontalFlip(0) SetGain(33) ThreadedExposure(*,0,1)");

    capture_->setExposureMs(40);
    capture_->setGain(34);
    cam_.release();
    awaitExposure();
    EXPECT_EQ(cam_.trace(next),
              "Subframe(640,480) SetExposureLength(40) HorizontalFlip(0) SetGain(34) "
              "ThreadedExposure(*,0,1)");
    EXPECT_EQ(cam_.countOf("SetExposureLength"), 2);  // 20 once, then 40
}

TEST_F(CaptureTest, ALibraryWithoutMicrosecondsGetsWholeMillisecondsAtLeastOne) {
    capture_->setExposureUs(50);
    start();
    awaitExposure();
    EXPECT_NE(cam_.trace().find("SetExposureLength(1)"), std::string::npos) << cam_.trace();
    EXPECT_EQ(capture_->status().exposureUs, 1000);
    EXPECT_EQ(exposureTakenUs(2600), 3000);
}

TEST_F(CaptureTest, WhileRecordingOnlyWhiteBalanceIsSentAndGeometryWaits) {
    start();
    awaitExposure();
    capture_->setRecording(true);
    capture_->setSubframeWidth(320);
    capture_->setSubframeHeight(240);
    capture_->setFlip(true);
    capture_->setExposureMs(50);
    capture_->setGain(70);
    capture_->setWhiteBalance({9, 8, 7});
    size_t mark = cam_.callCount();
    cam_.release();
    size_t next = awaitExposure();
    EXPECT_EQ(cam_.trace(mark), "SetWhiteBalance(9,8,7) ThreadedExposure(*,0,0)");

    capture_->setRecording(false);
    cam_.release();
    awaitExposure();
    EXPECT_EQ(cam_.trace(next),
              "Subframe(320,240) SetExposureLength(50) HorizontalFlip(1) SetGain(70) "
              "ThreadedExposure(*,0,1)");
    const int64_t buffer = cam_.calls().back().args[0];
    cam_.release();

    Frame* first = take();
    Frame* during = take();
    Frame* after = take();
    ASSERT_TRUE(first && during && after);
    EXPECT_EQ(frameWidth(during), 640);
    EXPECT_FALSE(during->flipped);
    EXPECT_EQ(frameWidth(after), 320);
    EXPECT_EQ(frameHeight(after), 240);
    EXPECT_TRUE(after->flipped);
    // The frame handed over is the very buffer the camera was given.
    EXPECT_EQ(reinterpret_cast<intptr_t>(frameData(after)), buffer);
    // The fake camera's fill reached it, row padding respected.
    EXPECT_EQ(after->rawImage.at<uint8_t>(1, 2), static_cast<uint8_t>(2 + 3 + 2));
}

TEST_F(CaptureTest, EachFrameIsStampedWhenItsExposureStartsAndItsTextIsThatInstant) {
    // Outlives the test body: the capture thread reads the clock until the fixture stops it.
    static std::atomic<double> clock;
    clock = 1.0;
    testclock::setNow([] { return clock.load(); });
    capture_->setStamp("hh:mm:ss", "M42");
    start();
    for (int i = 2; i <= 3; ++i) {
        awaitExposure();
        // The buffer of the next exposure exists by now; that exposure starts only after
        // the release, at the new time.
        ASSERT_TRUE(eventually([&] { return capture_->status().exposuresStarted >= 1u; }));
        clock = static_cast<double>(i) + 0.5;  // 12:00 on day i
        cam_.release();
    }
    awaitExposure();
    cam_.release();
    for (int i = 1; i <= 3; ++i) {
        Frame* f = take();
        ASSERT_TRUE(f);
        EXPECT_DOUBLE_EQ(f->timeStamp.dateTime(), i == 1 ? 1.0 : i + 0.5) << "frame " << i;
        EXPECT_EQ(f->stampText, i == 1 ? "M42 00:00:00" : "M42 12:00:00");
    }
}

TEST_F(CaptureTest, CameraReportedStartAndFailedExposures) {
    // The camera knows its exposures started 2 s after the program asked, and fails two.
    testclock::setNow([] { return unixMillisToDateTime(1'700'000'000'000); }, [] { return 0; });
    cam_.setReportedStart([](int exposure) { return (1'700'000'002'000LL + exposure) * 1000; });
    cam_.failNextExposures(2);
    cam_.setAutoRelease(true);
    start();
    Frame* first = take();
    Frame* second = take();
    ASSERT_TRUE(first && second);
    // The failed two were neither delivered nor left out of the numbering.
    EXPECT_EQ(first->exposureNumber, 3u);
    EXPECT_EQ(second->exposureNumber, 4u);
    EXPECT_DOUBLE_EQ(first->timeStamp.dateTime(), unixMillisToDateTime(1'700'000'002'002));
    EXPECT_EQ(capture_->status().failedExposures, 2u);
    // Delivered buffers were filled by their own exposure.
    EXPECT_EQ(first->rawImage.at<uint8_t>(0, 1), static_cast<uint8_t>(1 + 2));
}

// The second exposure is asked for after the cut but is a video stream's frame the camera
// had begun `leadUs` before it; the third begins when asked. A capture command sets its
// (shorter) exposure just before the cut: a frame begun under the longer one before counts
// as begun before the cut all the same.
struct CutCase {
    int64_t leadUs;
    int32_t exposureMs, exposureAtCutMs;
};
class CutTest : public CaptureTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(CutTest, AFrameTheCameraBeganBeforeACutCountsAsBeforeIt) {
    const CutCase c = GetParam();
    capture_->setExposureMs(c.exposureMs);
    const auto unixNowUs = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const int64_t cutUs = unixNowUs() + 50'000;
    cam_.setReportedStart(
        [&](int exposure) { return exposure == 1 ? cutUs - c.leadUs : unixNowUs(); });
    start();
    awaitExposure();
    std::this_thread::sleep_for(60ms);
    capture_->setExposureMs(c.exposureAtCutMs);
    const uint64_t cut = capture_->cutExposure();
    cam_.setAutoRelease(true);
    cam_.release();
    Frame* frames[3] = {take(), take(), take()};
    ASSERT_TRUE(frames[0] && frames[1] && frames[2]);
    EXPECT_EQ(cut, 1u);
    EXPECT_LE(frames[1]->exposureNumber, cut);  // not recorded by a recording begun at the cut
    EXPECT_EQ(frames[2]->exposureNumber, 3u);
}
INSTANTIATE_TEST_SUITE_P(Leads, CutTest,
                         ::testing::Values(CutCase{100'000, 20, 20}, CutCase{4'000'000, 3000, 20}));

TEST_F(CaptureTest, OnlyTheAcquisitionThreadCallsTheCamera) {
    start();
    awaitExposure();
    // Every setting and command of the window thread reaches the camera through the thread.
    capture_->setGain(5);
    capture_->sendGain();
    capture_->setWhiteBalance({1, 2, 3});
    capture_->setExposureMs(3000);
    capture_->cutExposure();
    ASSERT_TRUE(cam_.waitForCount("CancelExposure", 1, 5000));
    ASSERT_TRUE(cam_.waitForCount("SetWhiteBalance", 1, 5000));
    const std::thread::id acquisition = cam_.calls().front().thread;
    EXPECT_NE(acquisition, std::this_thread::get_id());
    for (const tvtest::CameraCall& call : cam_.calls())
        EXPECT_EQ(call.thread, acquisition) << call.text();
}

TEST_F(CaptureTest, WhiteBalanceRequestedWhileSendingIsNotLost) {
    auto once = std::make_shared<std::atomic<bool>>(false);
    CaptureThread* cap = capture_.get();
    cam_.setCallHook([once, cap](const tvtest::CameraCall& call) {
        // The window thread moves a slider while the previous values are on their way.
        if (call.name == "SetWhiteBalance" && !once->exchange(true))
            cap->setWhiteBalance({10, 20, 30});
    });
    capture_->setWhiteBalance({1, 2, 3});
    start();
    size_t mark = awaitExposure();
    cam_.release();
    awaitExposure();
    EXPECT_EQ(cam_.trace(mark).rfind("SetWhiteBalance(10,20,30) ", 0), 0u) << cam_.trace(mark);
}

TEST_F(CaptureTest, RunningExposureIsFinishedAndPostedAfterStop) {
    start();
    awaitExposure();
    capture_->requestStop();
    std::this_thread::sleep_for(60ms);
    EXPECT_FALSE(capture_->finished());  // still waiting for the healthy exposure
    cam_.release();
    EXPECT_TRUE(capture_->stop(2000));
    EXPECT_EQ(frames_.posted(), 1);
    EXPECT_EQ(cam_.exposuresStarted(), 1);
    EXPECT_EQ(capture_->status().state, CameraState::Stopped);
}

TEST_F(CaptureTest, SilentCameraIsCancelledShownStalledAndDoesNotBlockExit) {
    cam_.setCancelReleases(false);  // unplugged: nothing ever comes back
    capture_->setExposureMs(10);
    start();
    awaitExposure();
    const int64_t buffer = cam_.calls().back().args[0];
    ASSERT_TRUE(eventually([&] { return capture_->status().state == CameraState::Stalled; }));
    EXPECT_EQ(cam_.countOf("CancelExposure"), 1);
    EXPECT_STRNE(cameraStateText(capture_->status().state), "");

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(capture_->stop(2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(frames_.posted(), 0);
    // The buffer the camera still holds is kept, never freed.
    ASSERT_EQ(capture_->abandonedFrames().size(), 1u);
    EXPECT_EQ(reinterpret_cast<intptr_t>(frameData(capture_->abandonedFrames()[0].get())), buffer);
}

TEST_F(CaptureTest, SlowCameraRecoversThroughCancel) {
    capture_->setExposureMs(10);
    start();
    awaitExposure();
    // Not released: after 10 + 150 ms the thread cancels, which releases the frame.
    ASSERT_TRUE(frames_.waitForPosted(1, 10000));
    EXPECT_EQ(cam_.countOf("CancelExposure"), 1);
    ASSERT_TRUE(cam_.waitForCount("ThreadedExposure", 2, 10000));
    EXPECT_EQ(capture_->status().state, CameraState::Exposing);
}

TEST_F(CaptureTest, FramesInFlightAreBounded) {
    cam_.setAutoRelease(true);
    // A hand-off budget of eight frames of the fake camera's sensor.
    const int budget = 8;
    capture_->setFrameBudget(budget * paddedStride(640, 8) * 480, UINT64_MAX);
    start();
    ASSERT_TRUE(frames_.waitForPosted(budget));
    ASSERT_TRUE(eventually([&] { return capture_->status().state == CameraState::Throttled; }));
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(frames_.posted(), budget);
    EXPECT_EQ(cam_.exposuresStarted(), budget);

    frames_.pop();  // the window thread catches up by one frame
    EXPECT_TRUE(frames_.waitForPosted(budget + 1));
    // Stopping while throttled needs no camera at all.
    EXPECT_TRUE(capture_->stop(1000));
}

// 16-bit frames the budget cannot hold come at 8 bits until it can (both budgets just fit).
TEST_F(CaptureTest, SixteenBitFramesThatDoNotFitTheBudgetComeAtEightBits) {
    camera().cameraSampleDepth = [](int bits) { return bits == 0 ? 12 : 1; };
    const uint64_t frame8 = paddedStride(640, 8) * 480;
    capture_->setFrameBudget(FrameBudget::kFramesAlwaysHeld * frame8, 0);
    capture_->setDepth(16);
    cam_.setAutoRelease(true);
    start();
    for (int i = 0; i < 3; ++i) {
        const FramePtr frame = frames_.pop();
        ASSERT_TRUE(frame && frameDepth(frame.get()) == 8);
    }
    EXPECT_EQ(capture_->status().depth, 8);
    capture_->setFrameBudget(FrameBudget::kFramesAlwaysHeld * 2 * frame8, 0);
    EXPECT_TRUE(eventually([&] {
        const FramePtr frame = frames_.pop();
        return frame && frameDepth(frame.get()) == 16;
    }));
}

TEST_F(CaptureTest, UndeliverableFramesAreFreed) {
    frames_.setAccept(false);
    cam_.setAutoRelease(true);
    start();
    ASSERT_TRUE(cam_.waitForCount("ThreadedExposure", 20, 10000));
    EXPECT_TRUE(capture_->stop(1000));
    EXPECT_EQ(capture_->framesInFlight(), 0);
}

TEST_F(CaptureTest, RequestsOutsideTheSensorAreKeptInside) {
    start();
    awaitExposure();
    capture_->setSubframeWidth(5000);
    capture_->setSubframeHeight(0);
    size_t mark = cam_.callCount();
    cam_.release();
    awaitExposure();
    EXPECT_EQ(cam_.calls()[mark].text(), "Subframe(640,1)");
    cam_.release();
    take();
    Frame* f = take();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(frameWidth(f), 640);
    EXPECT_EQ(frameHeight(f), 1);
}

TEST(CaptureNoCamera, MissingOrRefusingCameraIsNoCamera) {
    setCameraApi(TarviApi{});
    FrameQueue frames;
    CaptureThread empty(frames.poster());
    EXPECT_FALSE(empty.openCamera());
    EXPECT_TRUE(empty.finished());  // never started
    EXPECT_TRUE(empty.stop(0));
    CaptureThread started(frames.poster());
    started.start();  // no table: the loop ends at once
    EXPECT_TRUE(started.stop(1000));
    EXPECT_EQ(started.status().state, CameraState::Stopped);

    tvtest::FakeCamera cam;
    cam.install();
    cam.setOpenResult(0);
    CaptureThread refused(frames.poster());
    EXPECT_FALSE(refused.openCamera());
    EXPECT_FALSE(refused.status().cameraOpen);
}

TEST(BuildStampText, PrefixAndFormats) {
    const LocalDateTime t = encodeDateTime({2011, 3, 3, 21, 5, 9, 42});
    EXPECT_EQ(buildStampText("", "", t), "");
    EXPECT_EQ(buildStampText("", "M42", t), "M42 ");
    EXPECT_EQ(buildStampText("", " \t ", t), "");
    EXPECT_EQ(buildStampText("hh:mm:ss.zzz", "  M42 ", t), "  M42  21:05:09.042");
    EXPECT_EQ(buildStampText("dd/mm/yyyy", "", t), "03/03/2011");
    EXPECT_EQ(buildStampText("dd/mm/yyyy hh:mm:ss", "", t), "03/03/2011 21:05:09");
    EXPECT_EQ(buildStampText("dd/mm/yyyy hh:mm:ss.zzz", "", t), "03/03/2011 21:05:09.042");
    EXPECT_EQ(buildStampText("hh:mm:ss.zzz", "", t), "21:05:09.042");
    EXPECT_EQ(CaptureThread(nullptr).stampFormat(),
              "dd/mm/yyyy hh:mm:ss.zzz");  // the start value
}

}  // namespace
