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
    LabelledSlider* expot() { return Find<LabelledSlider>(form, "_expot"); }
    void Start() {
        cam.Install();
        cam.SetAutoRelease(true);
        ASSERT_TRUE(StartForm(form));
        Exposures(2);
    }

    DisplayStateGuard guard;
    tvtest::FakeCamera cam{1280, 1024, "Fake"};
    MainWindow form;
};

}  // namespace

TEST_F(CameraControls, ExposureReachesTheCameraOnlyWhenCommitted) {
    Start();
    ASSERT_TRUE(Has(cam.Trace(), "SetExposureLength(100)"));
    cam.ClearCalls();

    // Dragging the thumb changes only the slider.
    expot()->SetPosition(40);
    EXPECT_EQ(expot()->ValueLabel->text(), "40 ms");
    Exposures(3);
    EXPECT_EQ(form.capture().settings().exposureMs, 100);
    EXPECT_EQ(cam.CountOf("SetExposureLength"), 0);

    // Releasing the mouse commits: a pending length, no cancel after 100 ms.
    emit expot()->MouseUp();
    EXPECT_EQ(form.capture().settings().exposureMs, 40);
    EXPECT_EQ(form.storedSettings().EXPOLENGTH, "40");
    // (Waiting dispatches the frames, or the acquisition thread would wait for the window.)
    EXPECT_TRUE(WaitUntil([&] { return cam.CountOf("SetExposureLength") == 1; }));
    EXPECT_TRUE(Has(cam.Trace(), "SetExposureLength(40)"));
    EXPECT_EQ(cam.CountOf("CancelExposure"), 0);

    // A preset alone changes the range, never the camera.
    cam.ClearCalls();
    Find<QAction>(form, "MenuItem6")->trigger();  // "2500ms"
    EXPECT_EQ(expot()->Max(), 2500);
    EXPECT_EQ(expot()->Slider->tickInterval(), 250);
    EXPECT_EQ(expot()->Position(), 40);
    expot()->SetPosition(800);
    Find<QAction>(form, "MenuItem7")->trigger();  // "5000ms": the thumb comes down to 100
    EXPECT_EQ(expot()->Position(), 100);
    EXPECT_EQ(expot()->Max(), 5000);
    Exposures(3);
    EXPECT_EQ(form.capture().settings().exposureMs, 40);
    EXPECT_EQ(form.storedSettings().EXPOLENGTH, "40");
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
        expot()->SetPosition(s.position);
        emit expot()->KeyUp();
        // The cut reaches the camera through the acquisition thread within a few ms.
        WaitUntil([&] { return cam.CountOf("CancelExposure") == s.cancels; }, 200);
        EXPECT_EQ(cam.CountOf("CancelExposure"), s.cancels) << "commit of " << s.position;
        cam.SetAutoRelease(true);
    }
    EXPECT_EQ(form.storedSettings().EXPOLENGTH, "30");
}

TEST_F(CameraControls, GainIsPendingWhileDraggedAndSentAtOnceOnRelease) {
    Start();
    form.capture().setRecording(true);  // the acquisition thread leaves the gain alone now
    Exposures(2);
    cam.ClearCalls();
    Find<LabelledSlider>(form, "gain")->SetPosition(60);
    EXPECT_EQ(form.capture().settings().gain, 60);
    EXPECT_EQ(Find<LabelledSlider>(form, "gain")->ValueLabel->text(), "60 %");
    EXPECT_EQ(form.storedSettings().GAIN, "60");
    Exposures(2);
    EXPECT_EQ(cam.CountOf("SetGain"), 0);
    // To the camera before the next exposure, recording or not.
    emit Find<LabelledSlider>(form, "gain")->MouseUp();
    EXPECT_TRUE(WaitUntil([&] { return cam.CountOf("SetGain") == 1; }));
    EXPECT_TRUE(Has(cam.Trace(), "SetGain(60)"));
    form.capture().setRecording(false);
}

TEST_F(CameraControls, DuringARecordingOnlyTheWhiteBalanceIsApplied) {
    Start();
    form.capture().setRecording(true);
    Exposures(2);  // a pass that began before the flag may still have sent settings
    cam.ClearCalls();

    Find<QAction>(form, "HorizontalFlip1")->trigger();
    EXPECT_TRUE(form.capture().settings().flip);
    Find<LabelledSlider>(form, "SliderWidth")->SetPosition(641);
    Find<LabelledSlider>(form, "SliderHeight")->SetPosition(480);
    Find<LabelledSlider>(form, "redbalance")->SetPosition(128);
    expot()->SetPosition(20);
    emit expot()->MouseUp();
    // "Color Camera" sends nothing to the camera.
    Find<QAction>(form, "Col1")->trigger();
    EXPECT_FALSE(Find<QFrame>(form, "Balance")->isVisibleTo(&form));
    Find<QAction>(form, "Col1")->trigger();
    Exposures(4);
    const std::string during = cam.Trace();
    EXPECT_EQ(cam.CountOf("SetWhiteBalance"), 1) << during;
    EXPECT_TRUE(Has(during, "SetWhiteBalance(127,127,255)")) << during;
    for (const char* call : {"Subframe", "HorizontalFlip", "SetExposureLength", "SetGain"})
        EXPECT_EQ(cam.CountOf(call), 0) << call << " during the recording: " << during;
    EXPECT_EQ(cam.Width(), 1280);
    EXPECT_FALSE(cam.Flipped());

    // When the recording ends everything pending is brought into force.
    form.capture().setRecording(false);
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
    EXPECT_EQ(Find<LabelledSlider>(form, "SliderWidth")->Max(), 1280);
    EXPECT_EQ(Find<LabelledSlider>(form, "SliderHeight")->Max(), 1024);

    Find<LabelledSlider>(form, "SliderWidth")->SetPosition(320);  // 26.5 rounds to 26
    EXPECT_EQ(Find<QWidget>(form, "subframe")->x(), 40);
    EXPECT_EQ(Find<QWidget>(form, "subframe")->width(), 26);
    EXPECT_EQ(Find<QLCDNumber>(form, "HRES")->intValue(), 320);
    EXPECT_EQ(form.capture().settings().width, 320);
    Find<LabelledSlider>(form, "SliderWidth")
        ->SetPosition(323);  // the width is drawn from the aligned 320
    EXPECT_EQ(Find<QWidget>(form, "subframe")->width(), 26);
    EXPECT_EQ(form.capture().settings().width, 320);
    for (int p = 100; p <= 103; ++p) {
        Find<LabelledSlider>(form, "SliderWidth")->SetPosition(p);
        EXPECT_EQ(form.capture().settings().width, 100) << p;
        EXPECT_EQ(Find<QLCDNumber>(form, "HRES")->intValue(), 100) << p;
    }

    Find<LabelledSlider>(form, "SliderHeight")->SetPosition(512);  // 42.5 rounds to 42
    EXPECT_EQ(Find<QWidget>(form, "subframe")->y(), 21);
    EXPECT_EQ(Find<QWidget>(form, "subframe")->height(), 42);
    EXPECT_EQ(Find<QLCDNumber>(form, "VRES")->intValue(), 512);
    EXPECT_EQ(form.capture().settings().height, 512);
    Find<LabelledSlider>(form, "SliderHeight")
        ->SetPosition(515);  // drawn from the raw 515: Round(42.75)
    EXPECT_EQ(Find<QWidget>(form, "subframe")->height(), 43);
    EXPECT_EQ(Find<QWidget>(form, "subframe")->y(), 21);
    EXPECT_EQ(Find<QLCDNumber>(form, "VRES")->intValue(), 512);
    Find<LabelledSlider>(form, "SliderHeight")->SetPosition(1023);  // drawn from the raw position
    EXPECT_EQ(Find<QWidget>(form, "subframe")->height(), 85);
    EXPECT_EQ(Find<QWidget>(form, "subframe")->y(), 0);
    EXPECT_EQ(Find<QLCDNumber>(form, "VRES")->intValue(), 1020);
    EXPECT_EQ(form.capture().settings().height, 1020);

    // Key-up and mouse-up write the aligned size again.
    form.capture().setSubframeWidth(0);
    form.capture().setSubframeHeight(0);
    emit Find<LabelledSlider>(form, "SliderWidth")->MouseUp();
    emit Find<LabelledSlider>(form, "SliderHeight")->KeyUp();
    EXPECT_EQ(form.capture().settings().width, 100);
    EXPECT_EQ(form.capture().settings().height, 1020);
    Exposures(2);
    EXPECT_EQ(cam.Width(), 100);
    EXPECT_EQ(cam.Height(), 1020);
}

TEST(CameraControlsOddSensor, FullWidthOfA1294SensorRequests1292) {
    DisplayStateGuard guard;
    tvtest::FakeCamera cam(1294, 966);
    cam.Install();
    cam.SetAutoRelease(true);
    MainWindow form;
    ASSERT_TRUE(StartForm(form));
    Find<LabelledSlider>(form, "SliderWidth")->SetPosition(1200);
    Find<LabelledSlider>(form, "SliderWidth")->SetPosition(1294);
    Find<LabelledSlider>(form, "SliderHeight")->SetPosition(900);
    Find<LabelledSlider>(form, "SliderHeight")->SetPosition(966);
    EXPECT_EQ(form.capture().settings().width, 1292);
    EXPECT_EQ(Find<QLCDNumber>(form, "HRES")->intValue(), 1292);
    EXPECT_EQ(Find<QWidget>(form, "subframe")->width(),
              106);  // Round(1292 * 106 / 1294) = Round(105.84)
    EXPECT_EQ(form.capture().settings().height, 964);
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
