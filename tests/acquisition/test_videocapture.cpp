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
bool Eventually(Cond cond, int ms = 10000) {
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
        cam.Install();
        capture = std::make_unique<CaptureThread>(frames.Poster());
        capture->setStamp("", "");
        capture->setStallMarginMs(150);
    }
    void TearDown() override {
        cam.SetCallHook(nullptr);
        cam.SetAutoRelease(true);  // ends a pending exposure, so the thread can stop
        EXPECT_TRUE(capture->stop(3000));
        frames.Clear();
        taken.clear();
        EXPECT_EQ(capture->framesInFlight(), 0);
        capture.reset();
        testclock::SetNow(nullptr);
    }
    void Start() {
        ASSERT_TRUE(capture->openCamera());
        capture->start();
    }
    // Blocks until the next exposure has started; returns the index of the first call
    // after its ThreadedExposure (the thread makes no calls until it is released).
    size_t AwaitExposure() {
        EXPECT_TRUE(cam.WaitForExposure(10000));
        return cam.CallCount();
    }
    // Pops a frame and keeps it until the end of the test.
    Frame* Take() {
        FramePtr frame = frames.Pop();
        if (!frame) return nullptr;
        taken.push_back(std::move(frame));
        return taken.back().get();
    }

    tvtest::FakeCamera cam{640, 480, "Fake Cam"};
    FrameQueue frames;
    std::vector<FramePtr> taken;
    std::unique_ptr<CaptureThread> capture;
};

TEST_F(CaptureTest, FirstPassesSendSettingsInOrderAndExposureLengthOnlyOnChange) {
    capture->setGain(33);
    capture->setExposureMs(20);
    capture->setWhiteBalance({1, 2, 3});
    Start();
    size_t mark = AwaitExposure();
    EXPECT_EQ(cam.Trace(),
              "openUSB(0) GetCameraInfo(*,*) ExposureSemaphore(*) SetWhiteBalance(1,2,3) "
              "Subframe(640,480) SetExposureLength(20) HorizontalFlip(0) SetGain(33) "
              "ThreadedExposure(*,0,1)");
    EXPECT_EQ(capture->status().sensorWidth, 640);
    EXPECT_EQ(capture->status().sensorHeight, 480);
    EXPECT_EQ(cam.Semaphore(), capture->doneSemaphore());

    capture->setExposureMs(20);  // the value already sent
    cam.Release();
    size_t next = AwaitExposure();
    EXPECT_EQ(cam.Trace(mark),
              "Subframe(640,480) HorizontalFlip(0) SetGain(33) ThreadedExposure(*,0,1)");

    capture->setExposureMs(40);
    capture->setGain(34);
    cam.Release();
    AwaitExposure();
    EXPECT_EQ(cam.Trace(next),
              "Subframe(640,480) SetExposureLength(40) HorizontalFlip(0) SetGain(34) "
              "ThreadedExposure(*,0,1)");
    EXPECT_EQ(cam.CountOf("SetExposureLength"), 2);  // 20 once, then 40
}

TEST_F(CaptureTest, WhileRecordingOnlyWhiteBalanceIsSentAndGeometryWaits) {
    Start();
    AwaitExposure();
    capture->setRecording(true);
    capture->setSubframeWidth(320);
    capture->setSubframeHeight(240);
    capture->setFlip(true);
    capture->setExposureMs(50);
    capture->setGain(70);
    capture->setWhiteBalance({9, 8, 7});
    size_t mark = cam.CallCount();
    cam.Release();
    size_t next = AwaitExposure();
    EXPECT_EQ(cam.Trace(mark), "SetWhiteBalance(9,8,7) ThreadedExposure(*,0,0)");

    capture->setRecording(false);
    cam.Release();
    AwaitExposure();
    EXPECT_EQ(cam.Trace(next),
              "Subframe(320,240) SetExposureLength(50) HorizontalFlip(1) SetGain(70) "
              "ThreadedExposure(*,0,1)");
    const int64_t buffer = cam.Calls().back().args[0];
    cam.Release();

    Frame* first = Take();
    Frame* during = Take();
    Frame* after = Take();
    ASSERT_TRUE(first && during && after);
    EXPECT_EQ(FrameWidth(during), 640);
    EXPECT_FALSE(during->Flipped);
    EXPECT_EQ(FrameWidth(after), 320);
    EXPECT_EQ(FrameHeight(after), 240);
    EXPECT_TRUE(after->Flipped);
    // The frame handed over is the very buffer the camera was given.
    EXPECT_EQ(reinterpret_cast<intptr_t>(FrameData(after)), buffer);
    // The fake camera's fill reached it, row padding respected.
    EXPECT_EQ(after->RawImage.at<uint8_t>(1, 2), static_cast<uint8_t>(2 + 3 + 2));
}

TEST_F(CaptureTest, EachFrameIsStampedWhenItsExposureStartsAndItsTextIsThatInstant) {
    // Outlives the test body: the capture thread reads the clock until the fixture stops it.
    static std::atomic<double> clock;
    clock = 1.0;
    testclock::SetNow([] { return clock.load(); });
    capture->setStamp("hh:mm:ss", "M42");
    Start();
    for (int i = 2; i <= 3; ++i) {
        AwaitExposure();
        // The buffer of the next exposure exists by now; that exposure starts only after
        // the release, at the new time.
        ASSERT_TRUE(Eventually([&] { return capture->status().exposuresStarted >= 1u; }));
        clock = static_cast<double>(i) + 0.5;  // 12:00 on day i
        cam.Release();
    }
    AwaitExposure();
    cam.Release();
    for (int i = 1; i <= 3; ++i) {
        Frame* f = Take();
        ASSERT_TRUE(f);
        EXPECT_DOUBLE_EQ(f->TimeStamp, i == 1 ? 1.0 : i + 0.5) << "frame " << i;
        EXPECT_EQ(f->StampText, i == 1 ? "M42 00:00:00" : "M42 12:00:00");
    }
}

TEST_F(CaptureTest, CameraReportedStartAndFailedExposures) {
    // The camera knows its exposures started 2 s after the program asked, and fails two.
    testclock::SetNow([] { return UnixMillisToDateTime(1'700'000'000'000); }, [] { return 0; });
    cam.SetReportedStart([](int exposure) { return (1'700'000'002'000LL + exposure) * 1000; });
    cam.FailNextExposures(2);
    cam.SetAutoRelease(true);
    Start();
    Frame* first = Take();
    Frame* second = Take();
    ASSERT_TRUE(first && second);
    // The failed two were neither delivered nor left out of the numbering.
    EXPECT_EQ(first->ExposureNumber, 3u);
    EXPECT_EQ(second->ExposureNumber, 4u);
    EXPECT_DOUBLE_EQ(first->TimeStamp, UnixMillisToDateTime(1'700'000'002'002));
    EXPECT_EQ(capture->status().failedExposures, 2u);
    // Delivered buffers were filled by their own exposure.
    EXPECT_EQ(first->RawImage.at<uint8_t>(0, 1), static_cast<uint8_t>(1 + 2));
}

TEST_F(CaptureTest, AFrameTheCameraBeganBeforeACutCountsAsBeforeIt) {
    // The second exposure is asked for after the cut but is a video stream's frame the camera
    // had begun 100 ms before it; the third begins when asked.
    const auto unixNowUs = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const int64_t cutUs = unixNowUs() + 50'000;
    cam.SetReportedStart(
        [&](int exposure) { return exposure == 1 ? cutUs - 100'000 : unixNowUs(); });
    Start();
    AwaitExposure();
    std::this_thread::sleep_for(60ms);
    const uint64_t cut = capture->cutExposure();
    cam.SetAutoRelease(true);
    cam.Release();
    Frame* frames[3] = {Take(), Take(), Take()};
    ASSERT_TRUE(frames[0] && frames[1] && frames[2]);
    EXPECT_EQ(cut, 1u);
    EXPECT_LE(frames[1]->ExposureNumber, cut);  // not recorded by a recording begun at the cut
    EXPECT_EQ(frames[2]->ExposureNumber, 3u);
}

TEST_F(CaptureTest, OnlyTheAcquisitionThreadCallsTheCamera) {
    Start();
    AwaitExposure();
    // Every setting and command of the window thread reaches the camera through the thread.
    capture->setGain(5);
    capture->sendGain();
    capture->setWhiteBalance({1, 2, 3});
    capture->setExposureMs(3000);
    capture->cutExposure();
    ASSERT_TRUE(cam.WaitForCount("CancelExposure", 1, 5000));
    ASSERT_TRUE(cam.WaitForCount("SetWhiteBalance", 1, 5000));
    const std::thread::id acquisition = cam.Calls().front().thread;
    EXPECT_NE(acquisition, std::this_thread::get_id());
    for (const tvtest::CameraCall& call : cam.Calls())
        EXPECT_EQ(call.thread, acquisition) << call.Text();
}

TEST_F(CaptureTest, WhiteBalanceRequestedWhileSendingIsNotLost) {
    auto once = std::make_shared<std::atomic<bool>>(false);
    CaptureThread* cap = capture.get();
    cam.SetCallHook([once, cap](const tvtest::CameraCall& call) {
        // The window thread moves a slider while the previous values are on their way.
        if (call.name == "SetWhiteBalance" && !once->exchange(true))
            cap->setWhiteBalance({10, 20, 30});
    });
    capture->setWhiteBalance({1, 2, 3});
    Start();
    size_t mark = AwaitExposure();
    cam.Release();
    AwaitExposure();
    EXPECT_EQ(cam.Trace(mark).rfind("SetWhiteBalance(10,20,30) ", 0), 0u) << cam.Trace(mark);
}

TEST_F(CaptureTest, RunningExposureIsFinishedAndPostedAfterStop) {
    Start();
    AwaitExposure();
    capture->requestStop();
    std::this_thread::sleep_for(60ms);
    EXPECT_FALSE(capture->finished());  // still waiting for the healthy exposure
    cam.Release();
    EXPECT_TRUE(capture->stop(2000));
    EXPECT_EQ(frames.Posted(), 1);
    EXPECT_EQ(cam.ExposuresStarted(), 1);
    EXPECT_EQ(capture->status().state, CameraState::Stopped);
}

TEST_F(CaptureTest, SilentCameraIsCancelledShownStalledAndDoesNotBlockExit) {
    cam.SetCancelReleases(false);  // unplugged: nothing ever comes back
    capture->setExposureMs(10);
    Start();
    AwaitExposure();
    const int64_t buffer = cam.Calls().back().args[0];
    ASSERT_TRUE(Eventually([&] { return capture->status().state == CameraState::Stalled; }));
    EXPECT_EQ(cam.CountOf("CancelExposure"), 1);
    EXPECT_STRNE(CameraStateText(capture->status().state), "");

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(capture->stop(2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(frames.Posted(), 0);
    // The buffer the camera still holds is kept, never freed.
    ASSERT_EQ(capture->abandonedFrames().size(), 1u);
    EXPECT_EQ(reinterpret_cast<intptr_t>(FrameData(capture->abandonedFrames()[0].get())), buffer);
}

TEST_F(CaptureTest, SlowCameraRecoversThroughCancel) {
    capture->setExposureMs(10);
    Start();
    AwaitExposure();
    // Not released: after 10 + 150 ms the thread cancels, which releases the frame.
    ASSERT_TRUE(frames.WaitForPosted(1, 10000));
    EXPECT_EQ(cam.CountOf("CancelExposure"), 1);
    ASSERT_TRUE(cam.WaitForCount("ThreadedExposure", 2, 10000));
    EXPECT_EQ(capture->status().state, CameraState::Exposing);
}

TEST_F(CaptureTest, FramesInFlightAreBounded) {
    cam.SetAutoRelease(true);
    // A hand-off budget of eight frames of the fake camera's sensor.
    const int budget = 8;
    capture->setFrameBudget(budget * PaddedStride(640, 8) * 480, UINT64_MAX);
    Start();
    ASSERT_TRUE(frames.WaitForPosted(budget));
    ASSERT_TRUE(Eventually([&] { return capture->status().state == CameraState::Throttled; }));
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(frames.Posted(), budget);
    EXPECT_EQ(cam.ExposuresStarted(), budget);

    frames.Pop();  // the window thread catches up by one frame
    EXPECT_TRUE(frames.WaitForPosted(budget + 1));
    // Stopping while throttled needs no camera at all.
    EXPECT_TRUE(capture->stop(1000));
}

TEST_F(CaptureTest, UndeliverableFramesAreFreed) {
    frames.SetAccept(false);
    cam.SetAutoRelease(true);
    Start();
    ASSERT_TRUE(cam.WaitForCount("ThreadedExposure", 20, 10000));
    EXPECT_TRUE(capture->stop(1000));
    EXPECT_EQ(capture->framesInFlight(), 0);
}

TEST_F(CaptureTest, RequestsOutsideTheSensorAreKeptInside) {
    Start();
    AwaitExposure();
    capture->setSubframeWidth(5000);
    capture->setSubframeHeight(0);
    size_t mark = cam.CallCount();
    cam.Release();
    AwaitExposure();
    EXPECT_EQ(cam.Calls()[mark].Text(), "Subframe(640,1)");
    cam.Release();
    Take();
    Frame* f = Take();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FrameWidth(f), 640);
    EXPECT_EQ(FrameHeight(f), 1);
}

TEST(CaptureNoCamera, MissingOrRefusingCameraIsNoCamera) {
    SetCameraApi(TarviApi{});
    FrameQueue frames;
    CaptureThread empty(frames.Poster());
    EXPECT_FALSE(empty.openCamera());
    EXPECT_TRUE(empty.finished());  // never started
    EXPECT_TRUE(empty.stop(0));
    CaptureThread started(frames.Poster());
    started.start();  // no table: the loop ends at once
    EXPECT_TRUE(started.stop(1000));
    EXPECT_EQ(started.status().state, CameraState::Stopped);

    tvtest::FakeCamera cam;
    cam.Install();
    cam.SetOpenResult(0);
    CaptureThread refused(frames.Poster());
    EXPECT_FALSE(refused.openCamera());
    EXPECT_FALSE(refused.status().cameraOpen);
}

TEST(BuildStampText, PrefixAndFormats) {
    const LocalDateTime t = EncodeDateTime({2011, 3, 3, 21, 5, 9, 42});
    EXPECT_EQ(BuildStampText("", "", t), "");
    EXPECT_EQ(BuildStampText("", "M42", t), "M42 ");
    EXPECT_EQ(BuildStampText("", " \t ", t), "");
    EXPECT_EQ(BuildStampText("hh:mm:ss.zzz", "  M42 ", t), "  M42  21:05:09.042");
    EXPECT_EQ(BuildStampText("dd/mm/yyyy", "", t), "03/03/2011");
    EXPECT_EQ(BuildStampText("dd/mm/yyyy hh:mm:ss", "", t), "03/03/2011 21:05:09");
    EXPECT_EQ(BuildStampText("dd/mm/yyyy hh:mm:ss.zzz", "", t), "03/03/2011 21:05:09.042");
    EXPECT_EQ(BuildStampText("hh:mm:ss.zzz", "", t), "21:05:09.042");
    EXPECT_EQ(CaptureThread(nullptr).stampFormat(),
              "dd/mm/yyyy hh:mm:ss.zzz");  // the start value
}

}  // namespace
