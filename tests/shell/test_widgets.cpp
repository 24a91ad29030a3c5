// The main window's controls, the splash, the track bar and the frame hand-off event.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include "ShellTestEnv.h"
#include "acquisition/Frame.h"
#include "acquisition/CaptureThread.h"
#include "shell/FrameEvent.h"
#include "shell/Main.h"
#include "shell/SplashScreen.h"
#include "shell/LabelledSlider.h"

TEST(TrackBar, LabelFollowsTheFormatAndThePosition) {
    EXPECT_EQ(FormatTrackLabel("%d ms", 100), "100 ms");
    EXPECT_EQ(FormatTrackLabel("%d %%", 10), "10 %");
    EXPECT_EQ(FormatTrackLabel("%d", -127), "-127");
    EXPECT_EQ(FormatTrackLabel("100%", 3), "100%");  // a lone percent sign stays

    EnsureApp();
    LabelledSlider bar(Qt::Horizontal, 1, 100, 1, "%d ms");
    QSignalSpy changed(&bar, &LabelledSlider::Changed);
    bar.SetPosition(250);  // clamped
    EXPECT_EQ(bar.Position(), 100);
    EXPECT_EQ(bar.ValueLabel->text(), "100 ms");
    bar.SetMax(50);  // a new maximum clamps and raises the change
    EXPECT_EQ(bar.Position(), 50);
    EXPECT_EQ(changed.count(), 2);
    bar.SetPosition(50);  // no real change, no event
    EXPECT_EQ(changed.count(), 2);
}

TEST(TrackBar, ReportsMouseAndKeyRelease) {
    EnsureApp();
    LabelledSlider bar(Qt::Horizontal, 0, 100, 10, "%d");
    bar.resize(180, 30);
    bar.show();
    QSignalSpy up(&bar, &LabelledSlider::MouseUp), key(&bar, &LabelledSlider::KeyUp);
    QTest::mouseClick(bar.Slider, Qt::LeftButton);
    EXPECT_EQ(up.count(), 1);
    const int before = bar.Position();
    QTest::keyClick(bar.Slider, Qt::Key_Right);
    EXPECT_EQ(key.count(), 1);
    EXPECT_EQ(bar.Position(), before + 1);  // the slider handled the key before the report
}

TEST(Splash, StatusLineStaysRightAlignedTenPixelsFromTheEdge) {
    EnsureApp();
    SplashScreen splash;
    EXPECT_EQ(splash.size(), QSize(238, 226));
    EXPECT_EQ(splash.findChild<QLabel*>("Label2")->text(), "Connecting");
    for (const char* text :
         {"Searching...", "A camera with a name longer than the window Found", "x"}) {
        splash.setStatus(text);
        EXPECT_EQ(splash.findChild<QLabel*>("Label2")->geometry().right() + 1, 238 - 10) << text;
        EXPECT_EQ(splash.findChild<QLabel*>("Label2")->y(), 8);
        EXPECT_GE(splash.findChild<QLabel*>("Label2")->x(), 10) << text;  // nothing runs off the left edge
    }
    EXPECT_EQ(splash.findChild<QLabel*>("Label1")->pos(), QPoint(48, 199));
    const QImage picture = DrawSplashPicture(238, 226);
    EXPECT_EQ(picture.size(), QSize(238, 226));
    EXPECT_NE(picture.pixel(10, 10), picture.pixel(10, 220));  // not a blank picture
}

namespace {
Frame* PostedFrame() {
    Frame* node = NewFrame(64, 48, "", false, 8);
    MarkPosted(node);
    return node;
}
}  // namespace

TEST(FrameHandOff, TheWindowTakesEachFrameAndFreesIt) {
    EnsureApp();
    const int before = FramesInFlight.load();
    MainWindow form;
    auto target = std::make_shared<FramePostTarget>(&form);
    const PostFrameFn post = MakeFramePoster(target);
    ASSERT_TRUE(post(PostedFrame()));
    ASSERT_TRUE(post(PostedFrame()));
    EXPECT_EQ(FramesInFlight.load(), before + 2);
    QApplication::sendPostedEvents(&form, FrameReadyEvent::kType);
    EXPECT_EQ(form.FramesReceived, 2u);
    EXPECT_EQ(FrameListHead, nullptr);
    EXPECT_EQ(FramesInFlight.load(), before);

    // After Detach nothing reaches the window; the frame stays with the caller.
    target->Detach();
    Frame* kept = PostedFrame();
    EXPECT_FALSE(post(kept));
    FreeFrame(kept);
    EXPECT_EQ(FramesInFlight.load(), before);
}

TEST(FrameHandOff, FramesOfUnhandledEventsAreFreed) {
    EnsureApp();
    const int before = FramesInFlight.load();
    {
        MainWindow form;
        auto target = std::make_shared<FramePostTarget>(&form);
        ASSERT_TRUE(MakeFramePoster(target)(PostedFrame()));
        EXPECT_EQ(FramesInFlight.load(), before + 1);
    }  // the window goes with the event still queued
    EXPECT_EQ(FramesInFlight.load(), before);
    { FrameReadyEvent unhandled(PostedFrame()); }
    EXPECT_EQ(FramesInFlight.load(), before);
}

TEST(MainWindow, LayoutMenusAndStatusBar) {
    EnsureApp();
    MainWindow form;
    EXPECT_EQ(form.windowTitle(), "TarviVideo ");
    EXPECT_EQ(form.minimumSize(), QSize(1024, 750));
    EXPECT_EQ(form.maximumSize(), QSize(9999, 9999));
    EXPECT_TRUE(form.font().bold());
    EXPECT_EQ(form.LeftPanel->width(), 185);
    EXPECT_FALSE(form.RightPanel->isVisibleTo(&form));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(form.StatusPanel(i)->width(), MainWindow::kStatusWidths[i]);
    EXPECT_EQ(form.StatusPanel(3), nullptr);

    QStringList menus;
    for (QAction* a : form.menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"File", "Capture Files", "Camera Setup", "ZOOM"}));
    EXPECT_FALSE(form.SetCaptureFormat1->menuAction()->isVisible());
    EXPECT_FALSE(form.Compression1->menuAction()->isVisible());
    EXPECT_TRUE(form.IRAW->isChecked());
    EXPECT_FALSE(form.N4001->isVisible());
    EXPECT_TRUE(form.ZoomGroup->isExclusive());
    EXPECT_TRUE(form.Col1->isChecked());
    EXPECT_FALSE(form.HorizontalFlip1->isChecked());
    EXPECT_FALSE(form.PreviewDuringCapture1->isChecked());
    EXPECT_FALSE(form.Visible1->isChecked());
    EXPECT_EQ(form.SER8bit1->text(), "    SER");
    EXPECT_TRUE(form.FIT1->isChecked());

    // Capture group: the three buttons share one 165 x 35 place.
    for (QPushButton* b : {form.butCapture, form.Button3, form.CancelButton})
        EXPECT_EQ(b->geometry(), QRect(0, 0, 165, 35));
    EXPECT_FALSE(form.CancelButton->isVisibleTo(&form));
    EXPECT_EQ(form.expos->maxLength(), 5);
    EXPECT_EQ(form.expos->placeholderText(), "0");
    EXPECT_EQ(form.exposUnit->currentText(), " expo(s)");
    EXPECT_EQ(form.pseUnit->currentText(), " sec");
    QStringList counts;
    for (QAction* a : form.CountPopup->actions()) counts << a->text();
    EXPECT_EQ(counts, (QStringList{"1", "5", "10", "20", "50", "100"}));
    QStringList presets;
    for (QAction* a : form.expopup->actions()) presets << a->text();
    EXPECT_EQ(presets, (QStringList{"100ms", "500ms", "1000ms", "2500ms", "5000ms", "10000ms"}));

    // Subframe panel start state.
    EXPECT_EQ(form.HRES->intValue(), 2000);
    EXPECT_EQ(form.VRES->intValue(), 1024);
    EXPECT_EQ(form.HRES->digitCount(), 4);
    EXPECT_EQ(form.full->size(), QSize(106, 85));
    EXPECT_EQ(form.subframe->geometry(), QRect(0, 0, 106, 85));
    EXPECT_EQ(form.SliderHeight->Position(), 999);
    EXPECT_EQ(form.Panel6->size(), QSize(183, 95));
}

TEST(MainWindow, CameraControlsKeepPendingValuesAndSavedTexts) {
    EnsureApp();
    MainWindow form;
    form.gain->SetPosition(73);
    EXPECT_EQ(form.Capture->Gain.load(), 73);
    EXPECT_EQ(form.Saved.GAIN, "73");

    form.redbalance->SetPosition(128);
    form.greenbalance->SetPosition(0);
    form.bluebalance->SetPosition(-127);
    EXPECT_EQ(form.Capture->WbBlue.load(), 0);
    EXPECT_EQ(form.Capture->WbGreen.load(), 127);
    EXPECT_EQ(form.Capture->WbRed.load(), 255);
    EXPECT_TRUE(form.Capture->WbPending.load());

    form.Col1->trigger();  // unchecks
    EXPECT_FALSE(ColorCamera);
    EXPECT_FALSE(form.Balance->isVisibleTo(&form));
    form.Col1->trigger();
    EXPECT_TRUE(ColorCamera);
    EXPECT_TRUE(form.Balance->isVisibleTo(&form));

    form.expos->setText("");
    EXPECT_EQ(form.Saved.EXPOCOUNT, "");
    QTest::keyClicks(form.expos, "12x3");  // digits only
    EXPECT_EQ(form.expos->text(), "123");
    EXPECT_EQ(form.Saved.EXPOCOUNT, "123");
}
