// The camera controls against the fake camera: which calls reach the camera and when, and
// the slider arithmetic of exposure presets and the subframe.
#include <gtest/gtest.h>

#include <QAction>
#include <QFrame>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <string>

#include "FakeCamera.h"
#include "LiveWindow.h"
#include "acquisition/CaptureThread.h"
#include "shell/ControlMath.h"
#include "shell/ExposurePanel.h"
#include "shell/MainWindow.h"
#include "shell/SubframePanel.h"
#include "widgets/LabelledSlider.h"

namespace {

bool has(const std::string& trace, const std::string& call) {
    return trace.find(call) != std::string::npos;
}

class CameraControls : public ::testing::Test {
  protected:
    // Lets `n` more exposures run, so that whatever is pending had its chance.
    void exposures(int n) {
        const int target = cam_.exposuresStarted() + n;
        ASSERT_TRUE(waitUntil([&] { return cam_.exposuresStarted() >= target; }));
    }
    LabelledSlider* expot() { return find<LabelledSlider>(mainWindow_, "_expot"); }
    // Moves the exposure slider to the position of `ms` whole milliseconds.
    void slideTo(int ms) { expot()->setValue(exposurePositionOf(int64_t{ms} * 1000)); }
    void start() {
        cam_.install();
        cam_.setAutoRelease(true);
        ASSERT_TRUE(startLiveWindow(mainWindow_));
        exposures(2);
    }

    DisplayStateGuard guard_;
    tvtest::FakeCamera cam_{1280, 1024, "Fake"};
    MainWindow mainWindow_;
};

}  // namespace

TEST_F(CameraControls, ExposureReachesTheCameraOnlyWhenCommitted) {
    start();
    ASSERT_TRUE(has(cam_.trace(), "SetExposureLength(100)"));
    cam_.clearCalls();

    // Dragging the thumb changes only the slider.
    slideTo(40);
    EXPECT_EQ(find<QLineEdit>(mainWindow_, "expofield")->text(), "40");
    exposures(3);
    EXPECT_EQ(mainWindow_.capture().settings().exposureUs, 100'000);
    EXPECT_EQ(cam_.countOf("SetExposureLength"), 0);

    // Releasing the mouse commits: a pending length, no cancel after 100 ms.
    emit expot()->released();
    EXPECT_EQ(mainWindow_.capture().settings().exposureUs, 40'000);
    EXPECT_EQ(mainWindow_.storedSettings().exposureUs, 40'000);
    // (Waiting dispatches the frames, or the acquisition thread would wait for the window.)
    EXPECT_TRUE(waitUntil([&] { return cam_.countOf("SetExposureLength") == 1; }));
    EXPECT_TRUE(has(cam_.trace(), "SetExposureLength(40)"));
    EXPECT_EQ(cam_.countOf("CancelExposure"), 0);

    // A preset alone changes the range, never the camera.
    cam_.clearCalls();
    find<QAction>(mainWindow_, "MenuItem6")->trigger();  // "2500ms"
    EXPECT_EQ(mainWindow_.findChild<ExposurePanel*>()->exposureMax(), 2500);
    EXPECT_EQ(expot()->value(), exposurePositionOf(40'000));
    slideTo(800);
    find<QAction>(mainWindow_, "MenuItem7")->trigger();  // "5000ms": the thumb comes down to 100
    EXPECT_EQ(mainWindow_.findChild<ExposurePanel*>()->exposureUs(), 100'000);
    EXPECT_EQ(mainWindow_.findChild<ExposurePanel*>()->exposureMax(), 5000);
    exposures(3);
    EXPECT_EQ(mainWindow_.capture().settings().exposureUs, 40'000);
    EXPECT_EQ(mainWindow_.storedSettings().exposureUs, 40'000);
    EXPECT_EQ(cam_.countOf("SetExposureLength"), 0);

    // Only a previous length above 500 ms cancels the exposure in progress. (The fake
    // exposes instantly, so the lengths cost no time here.)
    const struct {
        int position;
        int cancels;  // after committing it
    } steps[] = {{500, 0}, {600, 0}, {501, 1}, {20, 2}, {30, 2}};
    for (const auto& s : steps) {
        cam_.setAutoRelease(false);
        ASSERT_TRUE(waitUntil([&] { return cam_.exposurePending(); }));  // one in progress
        slideTo(s.position);
        emit expot()->keyReleased();
        // The cut reaches the camera through the acquisition thread within a few ms.
        waitUntil([&] { return cam_.countOf("CancelExposure") == s.cancels; }, 200);
        EXPECT_EQ(cam_.countOf("CancelExposure"), s.cancels) << "commit of " << s.position;
        cam_.setAutoRelease(true);
    }
    EXPECT_EQ(mainWindow_.storedSettings().exposureUs, 30'000);

    // A typed fraction comes into force at once; this camera takes whole milliseconds.
    find<QLineEdit>(mainWindow_, "expofield")->setText("0.05");
    emit find<QLineEdit>(mainWindow_, "expofield")->editingFinished();
    EXPECT_EQ(mainWindow_.storedSettings().exposureUs, 50);
    EXPECT_EQ(find<QLabel>(mainWindow_, "expounit")->text(), "ms (camera: 1.00 ms)");
}

TEST_F(CameraControls, GainIsPendingWhileDraggedAndSentAtOnceOnRelease) {
    start();
    mainWindow_.capture().setRecording(true);  // the acquisition thread leaves the gain alone now
    exposures(2);
    cam_.clearCalls();
    find<LabelledSlider>(mainWindow_, "gain")->setValue(60);
    EXPECT_EQ(mainWindow_.capture().settings().gain, 60);
    EXPECT_EQ(find<LabelledSlider>(mainWindow_, "gain")->valueLabel()->text(), "60 %");
    EXPECT_EQ(mainWindow_.storedSettings().gain, 60);
    exposures(2);
    EXPECT_EQ(cam_.countOf("SetGain"), 0);
    // To the camera before the next exposure, recording or not.
    emit find<LabelledSlider>(mainWindow_, "gain")->released();
    EXPECT_TRUE(waitUntil([&] { return cam_.countOf("SetGain") == 1; }));
    EXPECT_TRUE(has(cam_.trace(), "SetGain(60)"));
    mainWindow_.capture().setRecording(false);
}

TEST_F(CameraControls, DuringARecordingOnlyTheWhiteBalanceIsApplied) {
    start();
    mainWindow_.capture().setRecording(true);
    exposures(2);  // a pass that began before the flag may still have sent settings
    cam_.clearCalls();

    find<QAction>(mainWindow_, "HorizontalFlip1")->trigger();
    EXPECT_TRUE(mainWindow_.capture().settings().flip);
    find<LabelledSlider>(mainWindow_, "SliderWidth")->setValue(641);
    find<LabelledSlider>(mainWindow_, "SliderHeight")->setValue(480);
    find<LabelledSlider>(mainWindow_, "redbalance")->setValue(128);
    slideTo(20);
    emit expot()->released();
    // "Color Camera" sends nothing to the camera.
    find<QAction>(mainWindow_, "Col1")->trigger();
    EXPECT_FALSE(find<QFrame>(mainWindow_, "Balance")->isVisibleTo(&mainWindow_));
    find<QAction>(mainWindow_, "Col1")->trigger();
    exposures(4);
    const std::string during = cam_.trace();
    EXPECT_EQ(cam_.countOf("SetWhiteBalance"), 1) << during;
    EXPECT_TRUE(has(during, "SetWhiteBalance(127,127,255)")) << during;
    for (const char* call : {"Subframe", "HorizontalFlip", "SetExposureLength", "SetGain"})
        EXPECT_EQ(cam_.countOf(call), 0) << call << " during the recording: " << during;
    EXPECT_EQ(cam_.width(), 1280);
    EXPECT_FALSE(cam_.flipped());

    // When the recording ends everything pending is brought into force.
    mainWindow_.capture().setRecording(false);
    exposures(2);
    const std::string after = cam_.trace();
    EXPECT_TRUE(has(after, "Subframe(640,480)")) << after;
    EXPECT_TRUE(has(after, "HorizontalFlip(1)")) << after;
    EXPECT_TRUE(has(after, "SetExposureLength(20)")) << after;
    EXPECT_EQ(cam_.width(), 640);
    EXPECT_TRUE(cam_.flipped());
}

TEST_F(CameraControls, SubframeSlidersDrawCentredAndRequestAlignedSizes) {
    start();
    EXPECT_EQ(find<LabelledSlider>(mainWindow_, "SliderWidth")->maximum(), 1280);
    EXPECT_EQ(find<LabelledSlider>(mainWindow_, "SliderHeight")->maximum(), 1024);

    find<LabelledSlider>(mainWindow_, "SliderWidth")->setValue(320);  // 26.5 rounds to 26
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->x(), 40);
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->width(), 26);
    EXPECT_EQ(find<QLCDNumber>(mainWindow_, "HRES")->intValue(), 320);
    EXPECT_EQ(mainWindow_.capture().settings().width, 320);
    find<LabelledSlider>(mainWindow_, "SliderWidth")
        ->setValue(323);  // the width is drawn from the aligned 320
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->width(), 26);
    EXPECT_EQ(mainWindow_.capture().settings().width, 320);
    for (int p = 100; p <= 103; ++p) {
        find<LabelledSlider>(mainWindow_, "SliderWidth")->setValue(p);
        EXPECT_EQ(mainWindow_.capture().settings().width, 100) << p;
        EXPECT_EQ(find<QLCDNumber>(mainWindow_, "HRES")->intValue(), 100) << p;
    }

    find<LabelledSlider>(mainWindow_, "SliderHeight")->setValue(512);  // 42.5 rounds to 42
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->y(), 21);
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->height(), 42);
    EXPECT_EQ(find<QLCDNumber>(mainWindow_, "VRES")->intValue(), 512);
    EXPECT_EQ(mainWindow_.capture().settings().height, 512);
    find<LabelledSlider>(mainWindow_, "SliderHeight")
        ->setValue(515);  // drawn from the raw 515: roundEven(42.75)
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->height(), 43);
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->y(), 21);
    EXPECT_EQ(find<QLCDNumber>(mainWindow_, "VRES")->intValue(), 512);
    find<LabelledSlider>(mainWindow_, "SliderHeight")
        ->setValue(1023);  // drawn from the raw position
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->height(), 85);
    EXPECT_EQ(find<QWidget>(mainWindow_, "subframe")->y(), 0);
    EXPECT_EQ(find<QLCDNumber>(mainWindow_, "VRES")->intValue(), 1020);
    EXPECT_EQ(mainWindow_.capture().settings().height, 1020);

    // Key-up and mouse-up write the aligned size again.
    mainWindow_.capture().setSubframeWidth(0);
    mainWindow_.capture().setSubframeHeight(0);
    emit find<LabelledSlider>(mainWindow_, "SliderWidth")->released();
    emit find<LabelledSlider>(mainWindow_, "SliderHeight")->keyReleased();
    EXPECT_EQ(mainWindow_.capture().settings().width, 100);
    EXPECT_EQ(mainWindow_.capture().settings().height, 1020);
    exposures(2);
    EXPECT_EQ(cam_.width(), 100);
    EXPECT_EQ(cam_.height(), 1020);
}

TEST(SubframePlace, ShownWhereTheFramesLieAndDraggingOrDoubleClickAsksForAnother) {
    CaptureThread capture(nullptr);
    SubframePanel panel(capture);
    panel.setSensorSize(1280, 960);
    find<LabelledSlider>(panel, "SliderWidth")->setValue(320);
    find<LabelledSlider>(panel, "SliderHeight")->setValue(240);
    panel.showPlacement(960, 0);
    EXPECT_EQ(find<QLabel>(panel, "SubframeAt")->text(), "at 960, 0");
    EXPECT_EQ(find<QWidget>(panel, "subframe")->geometry(), QRect(80, 0, 26, 21));
    panel.showPlacement(-1, -1);  // a camera that does not say: drawn centred, no place shown
    EXPECT_EQ(find<QLabel>(panel, "SubframeAt")->text(), "");
    EXPECT_EQ(find<QWidget>(panel, "subframe")->x(), 40);

    // The subframe's middle goes under the pointer, kept on the sensor.
    QWidget* sensor = find<QWidget>(panel, "full");
    QTest::mousePress(sensor, Qt::LeftButton, {}, QPoint(10, 42));
    EXPECT_EQ(capture.settings().left, 0);
    EXPECT_EQ(capture.settings().top, 354);  // 42 * 960 / 85 = 474, less 120
    QTest::mouseDClick(sensor, Qt::LeftButton, {}, QPoint(10, 42));
    EXPECT_EQ(capture.settings().left, -1);
    EXPECT_EQ(capture.settings().top, -1);
}

TEST(CameraControlsOddSensor, FullWidthOfA1294SensorRequests1292) {
    DisplayStateGuard guard;
    tvtest::FakeCamera cam(1294, 966);
    cam.install();
    cam.setAutoRelease(true);
    MainWindow mainWindow;
    ASSERT_TRUE(startLiveWindow(mainWindow));
    find<LabelledSlider>(mainWindow, "SliderWidth")->setValue(1200);
    find<LabelledSlider>(mainWindow, "SliderWidth")->setValue(1294);
    find<LabelledSlider>(mainWindow, "SliderHeight")->setValue(900);
    find<LabelledSlider>(mainWindow, "SliderHeight")->setValue(966);
    EXPECT_EQ(mainWindow.capture().settings().width, 1292);
    EXPECT_EQ(find<QLCDNumber>(mainWindow, "HRES")->intValue(), 1292);
    EXPECT_EQ(find<QWidget>(mainWindow, "subframe")->width(),
              106);  // roundEven(1292 * 106 / 1294) = roundEven(105.84)
    EXPECT_EQ(mainWindow.capture().settings().height, 964);
    EXPECT_TRUE(waitUntil([&] { return cam.width() == 1292 && cam.height() == 964; }));
}

TEST(ControlMath, PresetCaptionsRangesAndExposureSteps) {
    int32_t p = 0;
    EXPECT_TRUE(presetFromCaption("2500ms", p));
    EXPECT_EQ(p, 2500);
    EXPECT_TRUE(presetFromCaption("&10000ms", p));
    EXPECT_EQ(p, 10000);
    EXPECT_FALSE(presetFromCaption("fast", p));
    EXPECT_FALSE(presetFromCaption("0ms", p));
    EXPECT_EQ(p, 10000);  // untouched by a refused caption

    const int32_t at100 = exposurePositionOf(100'000);
    const ExposureRange keep = exposurePresetRange(50, 2500);
    EXPECT_EQ(keep.position, 50);
    EXPECT_EQ(exposureUsAt(keep.max), 2'500'000);
    EXPECT_EQ(keep.tickInterval, keep.max / 10);
    EXPECT_EQ(exposurePresetRange(at100 + 1, 5000).position, at100);
    EXPECT_EQ(exposurePresetRange(at100, 100).position, at100);
    // Position, microseconds and text either side of the 10 ms boundary.
    for (const auto [position, us, text] : {std::tuple{1, 10, "0.01"},
                                            {999, 9'990, "9.99"},
                                            {1000, 10'000, "10"},
                                            {1001, 11'000, "11"}}) {
        EXPECT_EQ(exposureUsAt(position), us);
        EXPECT_EQ(exposurePositionOf(us), position);
        EXPECT_EQ(exposureText(us), text);
    }
    int64_t us = 0;
    EXPECT_TRUE(exposureFromText("12.6", us));
    EXPECT_EQ(us, 13'000);  // above 10 ms: the nearest whole ms
    EXPECT_FALSE(exposureFromText("0", us));
}

TEST(ControlMath, BalanceAlignmentAndSpans) {
    EXPECT_EQ(balanceValue(-127), 0);
    EXPECT_EQ(balanceValue(0), 127);
    EXPECT_EQ(balanceValue(128), 255);
    EXPECT_EQ(alignedSize(1294), 1292);
    EXPECT_EQ(alignedSize(1296), 1296);
    // Halves to even in both directions: 2.5 -> 2, 3.5 -> 4 (of a 10-pixel extent).
    EXPECT_EQ(subframeSpan(1, 4, 10).length, 2);
    EXPECT_EQ(subframeSpan(7, 20, 10).length, 4);
    EXPECT_EQ(subframeSpan(7, 20, 10).offset, 3);
    EXPECT_EQ(subframeSpan(5, 0, 85).length, 85);  // no maximum yet: the full panel
}
