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
        capture->StampFormat.Set("");
        capture->StampPrefix.Set("");
        capture->StallMarginMs = 150;
    }
    void TearDown() override {
        cam.SetCallHook(nullptr);
        cam.SetAutoRelease(true);  // ends a pending exposure, so the thread can stop
        EXPECT_TRUE(capture->StopAndWait(3000));
        frames.Clear();
        taken.clear();
        EXPECT_EQ(capture->FramesInFlight(), 0);
        capture.reset();
        testclock::SetNow(nullptr);
    }
    void Start() {
        ASSERT_TRUE(capture->OpenCamera());
        capture->Start();
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
    capture->Gain = 33;
    capture->ExposureMs = 20;
    capture->RequestWhiteBalance(1, 2, 3);
    Start();
    size_t mark = AwaitExposure();
    EXPECT_EQ(cam.Trace(),
              "openUSB(0) GetCameraInfo(*,*) ExposureSemaphore(*) SetWhiteBalance(1,2,3) "
              "Subframe(640,480) SetExposureLength(20) HorizontalFlip(0) SetGain(33) "
              "ThreadedExposure(*,0,1)");
    EXPECT_EQ(capture->SensorWidth, 640);
    EXPECT_EQ(capture->SensorHeight, 480);
    EXPECT_EQ(cam.Semaphore(), &capture->DoneSemaphore);

    capture->ExposureMs = 20;  // the value already sent
    cam.Release();
    size_t next = AwaitExposure();
    EXPECT_EQ(cam.Trace(mark),
              "Subframe(640,480) HorizontalFlip(0) SetGain(33) ThreadedExposure(*,0,1)");

    capture->ExposureMs = 40;
    capture->Gain = 34;
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
    capture->Recording = 1;
    capture->RequestedWidth = 320;
    capture->RequestedHeight = 240;
    capture->RequestedFlip = true;
    capture->ExposureMs = 50;
    capture->Gain = 70;
    capture->RequestWhiteBalance(9, 8, 7);
    size_t mark = cam.CallCount();
    cam.Release();
    size_t next = AwaitExposure();
    EXPECT_EQ(cam.Trace(mark), "SetWhiteBalance(9,8,7) ThreadedExposure(*,0,0)");

    capture->Recording = 0;
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

TEST_F(CaptureTest, BufferIsRebuiltForGeometryOrFlipButNotForExposureOrGain) {
    // Outlives the test body: the capture thread reads the clock until the fixture stops it.
    static std::atomic<double> clock;
    clock = 1.0;
    testclock::SetNow([] { return clock.load(); });
    auto allocatedNext = [&](int n) {  // the buffer for exposure n + 1 exists
        return Eventually([&] { return capture->FrameCount >= n; });
    };
    Start();
    AwaitExposure();
    ASSERT_TRUE(allocatedNext(1));  // frame 2's buffer was made at clock 1
    clock = 2.0;
    capture->ExposureMs = 77;
    capture->Gain = 55;
    cam.Release();
    AwaitExposure();
    ASSERT_TRUE(allocatedNext(2));  // frame 3's buffer was made at clock 2
    clock = 3.0;
    capture->RequestedWidth = 320;
    cam.Release();
    AwaitExposure();
    ASSERT_TRUE(allocatedNext(3));
    clock = 4.0;
    capture->RequestedFlip = true;
    cam.Release();
    AwaitExposure();
    cam.Release();

    Frame* f1 = Take();
    Frame* f2 = Take();
    Frame* f3 = Take();
    Frame* f4 = Take();
    ASSERT_TRUE(f1 && f2 && f3 && f4);
    EXPECT_DOUBLE_EQ(f2->TimeStamp, 1.0);  // kept across the exposure and gain change
    EXPECT_DOUBLE_EQ(f3->TimeStamp, 3.0);  // rebuilt for the new width
    EXPECT_EQ(FrameWidth(f3), 320);
    EXPECT_DOUBLE_EQ(f4->TimeStamp, 4.0);  // rebuilt for the flip
    EXPECT_TRUE(f4->Flipped);
}

TEST_F(CaptureTest, FirstFrameHasNoStampTextLaterOnesHaveTheBuiltText) {
    capture->StampPrefix.Set("M42");
    Start();
    AwaitExposure();
    cam.Release();
    AwaitExposure();
    cam.Release();
    Frame* first = Take();
    Frame* second = Take();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->StampText, "");
    EXPECT_EQ(second->StampText, "M42 ");
    EXPECT_EQ(capture->StampText.Get(), "M42 ");
}

TEST_F(CaptureTest, WhiteBalanceRequestedWhileSendingIsNotLost) {
    auto once = std::make_shared<std::atomic<bool>>(false);
    CaptureThread* cap = capture.get();
    cam.SetCallHook([once, cap](const tvtest::CameraCall& call) {
        // The window thread moves a slider while the previous values are on their way.
        if (call.name == "SetWhiteBalance" && !once->exchange(true))
            cap->RequestWhiteBalance(10, 20, 30);
    });
    capture->RequestWhiteBalance(1, 2, 3);
    Start();
    size_t mark = AwaitExposure();
    cam.Release();
    AwaitExposure();
    EXPECT_EQ(cam.Trace(mark).rfind("SetWhiteBalance(10,20,30) ", 0), 0u) << cam.Trace(mark);
}

TEST_F(CaptureTest, RunningExposureIsFinishedAndPostedAfterStop) {
    Start();
    AwaitExposure();
    capture->Running = false;
    std::this_thread::sleep_for(60ms);
    EXPECT_FALSE(capture->Suspended());  // still waiting for the healthy exposure
    cam.Release();
    EXPECT_TRUE(capture->StopAndWait(2000));
    EXPECT_EQ(frames.Posted(), 1);
    EXPECT_EQ(cam.ExposuresStarted(), 1);
    EXPECT_EQ(capture->State(), CameraState::Stopped);
}

TEST_F(CaptureTest, SilentCameraIsCancelledShownStalledAndDoesNotBlockExit) {
    cam.SetCancelReleases(false);  // unplugged: nothing ever comes back
    capture->ExposureMs = 10;
    Start();
    AwaitExposure();
    const int64_t buffer = cam.Calls().back().args[0];
    ASSERT_TRUE(Eventually([&] { return capture->State() == CameraState::Stalled; }));
    EXPECT_EQ(cam.CountOf("CancelExposure"), 1);
    EXPECT_STRNE(CameraStateText(capture->State()), "");

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(capture->StopAndWait(2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(frames.Posted(), 0);
    // The buffer the camera still holds is kept, never freed.
    ASSERT_EQ(capture->AbandonedFrames().size(), 1u);
    EXPECT_EQ(reinterpret_cast<intptr_t>(FrameData(capture->AbandonedFrames()[0].get())), buffer);
}

TEST_F(CaptureTest, SlowCameraRecoversThroughCancel) {
    capture->ExposureMs = 10;
    Start();
    AwaitExposure();
    // Not released: after 10 + 150 ms the thread cancels, which releases the frame.
    ASSERT_TRUE(frames.WaitForPosted(1, 10000));
    EXPECT_EQ(cam.CountOf("CancelExposure"), 1);
    ASSERT_TRUE(cam.WaitForCount("ThreadedExposure", 2, 10000));
    EXPECT_EQ(capture->State(), CameraState::Exposing);
}

TEST_F(CaptureTest, FramesInFlightAreBounded) {
    cam.SetAutoRelease(true);
    Start();
    const int budget = CaptureThread::kMaxFramesInFlight;
    ASSERT_TRUE(frames.WaitForPosted(budget));
    ASSERT_TRUE(Eventually([&] { return capture->State() == CameraState::Throttled; }));
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(frames.Posted(), budget);
    EXPECT_EQ(cam.ExposuresStarted(), budget);

    frames.Pop();  // the window thread catches up by one frame
    EXPECT_TRUE(frames.WaitForPosted(budget + 1));
    // Stopping while throttled needs no camera at all.
    EXPECT_TRUE(capture->StopAndWait(1000));
}

TEST_F(CaptureTest, UndeliverableFramesAreFreed) {
    frames.SetAccept(false);
    cam.SetAutoRelease(true);
    Start();
    ASSERT_TRUE(cam.WaitForCount("ThreadedExposure", 20, 10000));
    EXPECT_TRUE(capture->StopAndWait(1000));
    EXPECT_EQ(capture->FramesInFlight(), 0);
}

TEST_F(CaptureTest, RequestsOutsideTheSensorAreKeptInside) {
    Start();
    AwaitExposure();
    capture->RequestedWidth = 5000;
    capture->RequestedHeight = 0;
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
    EXPECT_FALSE(empty.OpenCamera());
    EXPECT_TRUE(empty.Suspended());  // never started
    EXPECT_TRUE(empty.StopAndWait(0));
    CaptureThread started(frames.Poster());
    started.Start();  // no table: the loop ends at once
    EXPECT_TRUE(started.StopAndWait(1000));
    EXPECT_EQ(started.State(), CameraState::Stopped);

    tvtest::FakeCamera cam;
    cam.Install();
    cam.SetOpenResult(0);
    CaptureThread refused(frames.Poster());
    EXPECT_FALSE(refused.OpenCamera());
    EXPECT_FALSE(refused.CameraOpen);
}

TEST(BuildStampText, PrefixAndFormats) {
    const TDateTime t = EncodeDateTime({2011, 3, 3, 21, 5, 9, 42});
    EXPECT_EQ(BuildStampText("", "", t), "");
    EXPECT_EQ(BuildStampText("", "M42", t), "M42 ");
    EXPECT_EQ(BuildStampText("", " \t ", t), "");
    EXPECT_EQ(BuildStampText("hh:mm:ss.zzz", "  M42 ", t), "  M42  21:05:09.042");
    EXPECT_EQ(BuildStampText("dd/mm/yyyy", "", t), "03/03/2011");
    EXPECT_EQ(BuildStampText("dd/mm/yyyy hh:mm:ss", "", t), "03/03/2011 21:05:09");
    EXPECT_EQ(BuildStampText("dd/mm/yyyy hh:mm:ss.zzz", "", t), "03/03/2011 21:05:09.042");
    EXPECT_EQ(BuildStampText("hh:mm:ss.zzz", "", t), "21:05:09.042");
    EXPECT_EQ(CaptureThread(nullptr).StampFormat.Get(),
              "dd/mm/yyyy hh:mm:ss.zzz");  // the start value
}

}  // namespace
