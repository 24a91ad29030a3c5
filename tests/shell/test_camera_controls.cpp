// The camera controls against the fake camera: which calls reach the camera and when, and
// the slider arithmetic of exposure presets and the subframe.
#include <gtest/gtest.h>

#include <QAction>
#include <QFrame>
#include <QLCDNumber>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <string>

#include "FakeCamera.h"
#include "LiveWindow.h"
#include "acquisition/CaptureThread.h"
#include "shell/ControlMath.h"
#include "widgets/LabelledSlider.h"
#include "shell/MainWindow.h"

namespace {

bool Has(const std::string& trace, const std::string& call) {
    return trace.find(call) != std::string::npos;
}

class CameraControls : public ::testing::Test {
  protected:
    // Lets `n` more exposures run, so that whatever is pending had its chance.
    void Exposures(int n) {
        const int target = cam.ExposuresStarted() + n;
        ASSERT_TRUE(WaitUntil([&] { return cam.ExposuresStarted() >= target; }));
    }
    LabelledSlider* expot() { return Find<LabelledSlider>(mainWindow, "_expot"); }
    void Start() {
        cam.Install();
        cam.SetAutoRelease(true);
        ASSERT_TRUE(startLiveWindow(mainWindow));
        Exposures(2);
    }

    DisplayStateGuard guard;
    tvtest::FakeCamera cam{1280, 1024, "Fake"};
    MainWindow mainWindow;
};

}  // namespace

TEST_F(CameraControls, ExposureReachesTheCameraOnlyWhenCommitted) {
    Start();
    ASSERT_TRUE(Has(cam.Trace(), "SetExposureLength(100)"));
    cam.ClearCalls();

    // Dragging the thumb changes only the slider.
    expot()->setValue(40);
    EXPECT_EQ(expot()->valueLabel()->text(), "40 ms");
    Exposures(3);
    EXPECT_EQ(mainWindow.capture().settings().exposureMs, 100);
    EXPECT_EQ(cam.CountOf("SetExposureLength"), 0);

    // Releasing the mouse commits: a pending length, no cancel after 100 ms.
    emit expot()->released();
    EXPECT_EQ(mainWindow.capture().settings().exposureMs, 40);
    EXPECT_EQ(mainWindow.storedSettings().exposureMs, 40);
    // (Waiting dispatches the frames, or the acquisition thread would wait for the window.)
    EXPECT_TRUE(WaitUntil([&] { return cam.CountOf("SetExposureLength") == 1; }));
    EXPECT_TRUE(Has(cam.Trace(), "SetExposureLength(40)"));
    EXPECT_EQ(cam.CountOf("CancelExposure"), 0);

    // A preset alone changes the range, never the camera.
    cam.ClearCalls();
    Find<QAction>(mainWindow, "MenuItem6")->trigger();  // "2500ms"
    EXPECT_EQ(expot()->maximum(), 2500);
    EXPECT_EQ(expot()->slider()->tickInterval(), 250);
    EXPECT_EQ(expot()->value(), 40);
    expot()->setValue(800);
    Find<QAction>(mainWindow, "MenuItem7")->trigger();  // "5000ms": the thumb comes down to 100
    EXPECT_EQ(expot()->value(), 100);
    EXPECT_EQ(expot()->maximum(), 5000);
    Exposures(3);
    EXPECT_EQ(mainWindow.capture().settings().exposureMs, 40);
    EXPECT_EQ(mainWindow.storedSettings().exposureMs, 40);
    EXPECT_EQ(cam.CountOf("SetExposureLength"), 0);

    // Only a previous length above 500 ms cancels the exposure in progress. (The fake
    // exposes instantly, so the lengths cost no time here.)
    const struct {
        int position;
        int cancels;  // after committing it
    } steps[] = {{500, 0}, {600, 0}, {501, 1}, {20, 2}, {30, 2}};
    for (const auto& s : steps) {
        cam.SetAutoRelease(false);
        ASSERT_TRUE(WaitUntil([&] { return cam.ExposurePending(); }));  // one in progress
        expot()->setValue(s.position);
        emit expot()->keyReleased();
        // The cut reaches the camera through the acquisition thread within a few ms.
        WaitUntil([&] { return cam.CountOf("CancelExposure") == s.cancels; }, 200);
        EXPECT_EQ(cam.CountOf("CancelExposure"), s.cancels) << "commit of " << s.position;
        cam.SetAutoRelease(true);
    }
    EXPECT_EQ(mainWindow.storedSettings().exposureMs, 30);
}

TEST_F(CameraControls, GainIsPendingWhileDraggedAndSentAtOnceOnRelease) {
    Start();
    mainWindow.capture().setRecording(true);  // the acquisition thread leaves the gain alone now
    Exposures(2);
    cam.ClearCalls();
    Find<LabelledSlider>(mainWindow, "gain")->setValue(60);
    EXPECT_EQ(mainWindow.capture().settings().gain, 60);
    EXPECT_EQ(Find<LabelledSlider>(mainWindow, "gain")->valueLabel()->text(), "60 %");
    EXPECT_EQ(mainWindow.storedSettings().gain, 60);
    Exposures(2);
    EXPECT_EQ(cam.CountOf("SetGain"), 0);
    // To the camera before the next exposure, recording or not.
    emit Find<LabelledSlider>(mainWindow, "gain")->released();
    EXPECT_TRUE(WaitUntil([&] { return cam.CountOf("SetGain") == 1; }));
    EXPECT_TRUE(Has(cam.Trace(), "SetGain(60)"));
    mainWindow.capture().setRecording(false);
}

TEST_F(CameraControls, DuringARecordingOnlyTheWhiteBalanceIsApplied) {
    Start();
    mainWindow.capture().setRecording(true);
    Exposures(2);  // a pass that began before the flag may still have sent settings
    cam.ClearCalls();

    Find<QAction>(mainWindow, "HorizontalFlip1")->trigger();
    EXPECT_TRUE(mainWindow.capture().settings().flip);
    Find<LabelledSlider>(mainWindow, "SliderWidth")->setValue(641);
    Find<LabelledSlider>(mainWindow, "SliderHeight")->setValue(480);
    Find<LabelledSlider>(mainWindow, "redbalance")->setValue(128);
    expot()->setValue(20);
    emit expot()->released();
    // "Color Camera" sends nothing to the camera.
    Find<QAction>(mainWindow, "Col1")->trigger();
    EXPECT_FALSE(Find<QFrame>(mainWindow, "Balance")->isVisibleTo(&mainWindow));
    Find<QAction>(mainWindow, "Col1")->trigger();
    Exposures(4);
    const std::string during = cam.Trace();
    EXPECT_EQ(cam.CountOf("SetWhiteBalance"), 1) << during;
    EXPECT_TRUE(Has(during, "SetWhiteBalance(127,127,255)")) << during;
    for (const char* call : {"Subframe", "HorizontalFlip", "SetExposureLength", "SetGain"})
        EXPECT_EQ(cam.CountOf(call), 0) << call << " during the recording: " << during;
    EXPECT_EQ(cam.Width(), 1280);
    EXPECT_FALSE(cam.Flipped());

    // When the recording ends everything pending is brought into force.
    mainWindow.capture().setRecording(false);
    Exposures(2);
    const std::string after = cam.Trace();
    EXPECT_TRUE(Has(after, "Subframe(640,480)")) << after;
    EXPECT_TRUE(Has(after, "HorizontalFlip(1)")) << after;
    EXPECT_TRUE(Has(after, "SetExposureLength(20)")) << after;
    EXPECT_EQ(cam.Width(), 640);
    EXPECT_TRUE(cam.Flipped());
}

TEST_F(CameraControls, SubframeSlidersDrawCentredAndRequestAlignedSizes) {
    Start();
    EXPECT_EQ(Find<LabelledSlider>(mainWindow, "SliderWidth")->maximum(), 1280);
    EXPECT_EQ(Find<LabelledSlider>(mainWindow, "SliderHeight")->maximum(), 1024);

    Find<LabelledSlider>(mainWindow, "SliderWidth")->setValue(320);  // 26.5 rounds to 26
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->x(), 40);
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->width(), 26);
    EXPECT_EQ(Find<QLCDNumber>(mainWindow, "HRES")->intValue(), 320);
    EXPECT_EQ(mainWindow.capture().settings().width, 320);
    Find<LabelledSlider>(mainWindow, "SliderWidth")
        ->setValue(323);  // the width is drawn from the aligned 320
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->width(), 26);
    EXPECT_EQ(mainWindow.capture().settings().width, 320);
    for (int p = 100; p <= 103; ++p) {
        Find<LabelledSlider>(mainWindow, "SliderWidth")->setValue(p);
        EXPECT_EQ(mainWindow.capture().settings().width, 100) << p;
        EXPECT_EQ(Find<QLCDNumber>(mainWindow, "HRES")->intValue(), 100) << p;
    }

    Find<LabelledSlider>(mainWindow, "SliderHeight")->setValue(512);  // 42.5 rounds to 42
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->y(), 21);
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->height(), 42);
    EXPECT_EQ(Find<QLCDNumber>(mainWindow, "VRES")->intValue(), 512);
    EXPECT_EQ(mainWindow.capture().settings().height, 512);
    Find<LabelledSlider>(mainWindow, "SliderHeight")
        ->setValue(515);  // drawn from the raw 515: Round(42.75)
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->height(), 43);
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->y(), 21);
    EXPECT_EQ(Find<QLCDNumber>(mainWindow, "VRES")->intValue(), 512);
    Find<LabelledSlider>(mainWindow, "SliderHeight")->setValue(1023);  // drawn from the raw position
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->height(), 85);
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->y(), 0);
    EXPECT_EQ(Find<QLCDNumber>(mainWindow, "VRES")->intValue(), 1020);
    EXPECT_EQ(mainWindow.capture().settings().height, 1020);

    // Key-up and mouse-up write the aligned size again.
    mainWindow.capture().setSubframeWidth(0);
    mainWindow.capture().setSubframeHeight(0);
    emit Find<LabelledSlider>(mainWindow, "SliderWidth")->released();
    emit Find<LabelledSlider>(mainWindow, "SliderHeight")->keyReleased();
    EXPECT_EQ(mainWindow.capture().settings().width, 100);
    EXPECT_EQ(mainWindow.capture().settings().height, 1020);
    Exposures(2);
    EXPECT_EQ(cam.Width(), 100);
    EXPECT_EQ(cam.Height(), 1020);
}

TEST(CameraControlsOddSensor, FullWidthOfA1294SensorRequests1292) {
    DisplayStateGuard guard;
    tvtest::FakeCamera cam(1294, 966);
    cam.Install();
    cam.SetAutoRelease(true);
    MainWindow mainWindow;
    ASSERT_TRUE(startLiveWindow(mainWindow));
    Find<LabelledSlider>(mainWindow, "SliderWidth")->setValue(1200);
    Find<LabelledSlider>(mainWindow, "SliderWidth")->setValue(1294);
    Find<LabelledSlider>(mainWindow, "SliderHeight")->setValue(900);
    Find<LabelledSlider>(mainWindow, "SliderHeight")->setValue(966);
    EXPECT_EQ(mainWindow.capture().settings().width, 1292);
    EXPECT_EQ(Find<QLCDNumber>(mainWindow, "HRES")->intValue(), 1292);
    EXPECT_EQ(Find<QWidget>(mainWindow, "subframe")->width(),
              106);  // Round(1292 * 106 / 1294) = Round(105.84)
    EXPECT_EQ(mainWindow.capture().settings().height, 964);
    EXPECT_TRUE(WaitUntil([&] { return cam.Width() == 1292 && cam.Height() == 964; }));
}

TEST(ControlMath, PresetCaptionsAndRanges) {
    int32_t p = 0;
    EXPECT_TRUE(PresetFromCaption("2500ms", p));
    EXPECT_EQ(p, 2500);
    EXPECT_TRUE(PresetFromCaption("&10000ms", p));
    EXPECT_EQ(p, 10000);
    EXPECT_FALSE(PresetFromCaption("fast", p));
    EXPECT_FALSE(PresetFromCaption("0ms", p));
    EXPECT_EQ(p, 10000);  // untouched by a refused caption

    const ExposureRange keep = ExposurePresetRange(50, 2500);
    EXPECT_EQ(keep.position, 50);
    EXPECT_EQ(keep.max, 2500);
    EXPECT_EQ(keep.tickInterval, 250);
    EXPECT_EQ(ExposurePresetRange(800, 5000).position, 100);
    EXPECT_EQ(ExposurePresetRange(100, 100).position, 100);
}

TEST(ControlMath, BalanceAlignmentAndSpans) {
    EXPECT_EQ(BalanceValue(-127), 0);
    EXPECT_EQ(BalanceValue(0), 127);
    EXPECT_EQ(BalanceValue(128), 255);
    EXPECT_EQ(AlignedSize(1294), 1292);
    EXPECT_EQ(AlignedSize(1296), 1296);
    // Halves to even in both directions: 2.5 -> 2, 3.5 -> 4 (of a 10-pixel extent).
    EXPECT_EQ(SubframeSpan(1, 4, 10).length, 2);
    EXPECT_EQ(SubframeSpan(7, 20, 10).length, 4);
    EXPECT_EQ(SubframeSpan(7, 20, 10).offset, 3);
    EXPECT_EQ(SubframeSpan(5, 0, 85).length, 85);  // no maximum yet: the full panel
}
