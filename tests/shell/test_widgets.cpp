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
#include "acquisition/CaptureThread.h"
#include "acquisition/Frame.h"
#include "platform/AppInfo.h"
#include "shell/FrameReadyEvent.h"
#include "shell/MainMenus.h"
#include "shell/MainWindow.h"
#include "shell/StatusPanels.h"
#include "widgets/LabelledSlider.h"
#include "widgets/SplashScreen.h"

TEST(TrackBar, LabelFollowsTheFormatAndThePosition) {
    EXPECT_EQ(formatTrackLabel("%d ms", 100), "100 ms");
    EXPECT_EQ(formatTrackLabel("%d %%", 10), "10 %");
    EXPECT_EQ(formatTrackLabel("%d", -127), "-127");
    EXPECT_EQ(formatTrackLabel("100%", 3), "100%");  // a lone percent sign stays

    ensureApp();
    LabelledSlider bar(Qt::Horizontal, 1, 100, 1, "%d ms");
    QSignalSpy changed(&bar, &LabelledSlider::valueChanged);
    bar.setValue(250);  // clamped
    EXPECT_EQ(bar.value(), 100);
    EXPECT_EQ(bar.valueLabel()->text(), "100 ms");
    bar.setMaximum(50);  // a new maximum clamps and raises the change
    EXPECT_EQ(bar.value(), 50);
    EXPECT_EQ(changed.count(), 2);
    bar.setValue(50);  // no real change, no event
    EXPECT_EQ(changed.count(), 2);
}

TEST(TrackBar, ReportsMouseAndKeyRelease) {
    ensureApp();
    LabelledSlider bar(Qt::Horizontal, 0, 100, 10, "%d");
    bar.resize(180, 30);
    bar.show();
    QSignalSpy up(&bar, &LabelledSlider::released), key(&bar, &LabelledSlider::keyReleased);
    QTest::mouseClick(bar.slider(), Qt::LeftButton);
    EXPECT_EQ(up.count(), 1);
    const int before = bar.value();
    QTest::keyClick(bar.slider(), Qt::Key_Right);
    EXPECT_EQ(key.count(), 1);
    EXPECT_EQ(bar.value(), before + 1);  // the slider handled the key before the report
}

TEST(Splash, StatusLineStaysRightAlignedTenPixelsFromTheEdge) {
    ensureApp();
    SplashScreen splash;
    EXPECT_EQ(splash.size(), QSize(238, 226));
    EXPECT_EQ(splash.findChild<QLabel*>("Label2")->text(), "Connecting");
    for (const char* text :
         {"Searching...", "A camera with a name longer than the window Found", "x"}) {
        splash.setStatus(text);
        EXPECT_EQ(splash.findChild<QLabel*>("Label2")->geometry().right() + 1, 238 - 10) << text;
        EXPECT_EQ(splash.findChild<QLabel*>("Label2")->y(), 8);
        EXPECT_GE(splash.findChild<QLabel*>("Label2")->x(), 10)
            << text;  // nothing runs off the left edge
    }
    EXPECT_EQ(splash.findChild<QLabel*>("Label1")->pos(), QPoint(48, 199));
    const QImage picture = drawSplashPicture(238, 226);
    EXPECT_EQ(picture.size(), QSize(238, 226));
    EXPECT_NE(picture.pixel(10, 10), picture.pixel(10, 220));  // not a blank picture
}

namespace {
FramePtr handedOver(const std::shared_ptr<FrameBudget>& budget) {
    FramePtr frame = newFrame(64, 48, "", false, 8);
    frame->holdBudget(budget);
    return frame;
}
}  // namespace

TEST(FrameHandOff, TheWindowTakesEachFrameAndDestroysIt) {
    ensureApp();
    auto budget = std::make_shared<FrameBudget>();
    MainWindow mainWindow;
    auto target = std::make_shared<FramePostTarget>(&mainWindow);
    const PostFrameFn post = makeFramePoster(target);
    post(handedOver(budget));
    post(handedOver(budget));
    EXPECT_EQ(budget->inFlight(), 2);
    QApplication::sendPostedEvents(&mainWindow, FrameReadyEvent::eventType());
    EXPECT_EQ(mainWindow.framesReceived(), 2u);
    EXPECT_EQ(budget->inFlight(), 0);

    // After detach nothing reaches the window; the frame is destroyed at once.
    target->detach();
    post(handedOver(budget));
    EXPECT_EQ(budget->inFlight(), 0);
    QApplication::sendPostedEvents(&mainWindow, FrameReadyEvent::eventType());
    EXPECT_EQ(mainWindow.framesReceived(), 2u);
}

TEST(FrameHandOff, FramesOfUnhandledEventsAreDestroyed) {
    ensureApp();
    auto budget = std::make_shared<FrameBudget>();
    {
        MainWindow mainWindow;
        auto target = std::make_shared<FramePostTarget>(&mainWindow);
        makeFramePoster(target)(handedOver(budget));
        EXPECT_EQ(budget->inFlight(), 1);
    }  // the window goes with the event still queued
    EXPECT_EQ(budget->inFlight(), 0);
    { FrameReadyEvent unhandled(handedOver(budget)); }
    EXPECT_EQ(budget->inFlight(), 0);
}

TEST(MainWindow, LayoutMenusAndStatusBar) {
    ensureApp();
    MainWindow mainWindow;
    EXPECT_EQ(mainWindow.windowTitle(), "TarviVideo ");
    EXPECT_EQ(mainWindow.minimumSize(), QSize(800, 520));
    EXPECT_EQ(mainWindow.maximumSize(), QSize(9999, 9999));
    EXPECT_TRUE(mainWindow.font().bold());
    EXPECT_EQ(find<QFrame>(mainWindow, "LeftPanel")->width(), 185);
    EXPECT_FALSE(find<QFrame>(mainWindow, "RightPanel")->isVisibleTo(&mainWindow));
    // The three panels, then the disk panel after them.
    for (int i = 0; i < StatusPanels::kCount; ++i)
        EXPECT_EQ(find<QLabel>(mainWindow, ("StatusPanel" + std::to_string(i)).c_str())->width(),
                  StatusPanels::kWidths[i]);
    EXPECT_EQ(mainWindow.findChild<QLabel*>("StatusPanel4"), nullptr);

    QStringList menus;
    for (QAction* a : mainWindow.menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"File", "Capture Files", "Camera Setup", "ZOOM", "Help"}));
    // Help > About names the version and the camera library.
    EXPECT_NE(find<QAction>(mainWindow, "About1"), nullptr);
    EXPECT_TRUE(aboutText("SimCam", "/lib/libtarvidll.so").contains(kAppVersion));
    EXPECT_TRUE(aboutText("SimCam", "/lib/libtarvidll.so").contains("/lib/libtarvidll.so"));
    EXPECT_FALSE(find<QMenu>(mainWindow, "SetCaptureFormat1")->menuAction()->isVisible());
    EXPECT_FALSE(find<QMenu>(mainWindow, "Compression1")->menuAction()->isVisible());
    EXPECT_TRUE(find<QAction>(mainWindow, "IRAW")->isChecked());
    EXPECT_FALSE(find<QAction>(mainWindow, "N4001")->isVisible());
    ASSERT_NE(find<QAction>(mainWindow, "N501")->actionGroup(), nullptr);
    EXPECT_TRUE(find<QAction>(mainWindow, "N501")->actionGroup()->isExclusive());
    EXPECT_TRUE(find<QAction>(mainWindow, "Col1")->isChecked());
    EXPECT_FALSE(find<QAction>(mainWindow, "HorizontalFlip1")->isChecked());
    EXPECT_FALSE(find<QAction>(mainWindow, "PreviewDuringCapture1")->isChecked());
    EXPECT_FALSE(find<QAction>(mainWindow, "Visible1")->isChecked());
    EXPECT_EQ(find<QAction>(mainWindow, "SER8bit1")->text(), "    SER");
    EXPECT_TRUE(find<QAction>(mainWindow, "FIT1")->isChecked());

    // Capture group: the three buttons share one 165 x 35 place.
    for (const char* name : {"butCapture", "Button3", "CancelButton"})
        EXPECT_EQ(find<QPushButton>(mainWindow, name)->geometry(), QRect(0, 0, 165, 35)) << name;
    EXPECT_FALSE(find<QPushButton>(mainWindow, "CancelButton")->isVisibleTo(&mainWindow));
    auto* expos = find<QLineEdit>(mainWindow, "expos");
    EXPECT_EQ(expos->maxLength(), 5);
    EXPECT_EQ(expos->placeholderText(), "0");
    EXPECT_EQ(find<QComboBox>(mainWindow, "exposUnit")->currentText(), " expo(s)");
    EXPECT_EQ(find<QComboBox>(mainWindow, "pseUnit")->currentText(), " sec");
    QStringList counts;
    for (QAction* a : find<QMenu>(mainWindow, "CountPopup")->actions()) counts << a->text();
    EXPECT_EQ(counts, (QStringList{"1", "5", "10", "20", "50", "100"}));
    QStringList presets;
    for (QAction* a : find<QMenu>(mainWindow, "expopup")->actions()) presets << a->text();
    EXPECT_EQ(presets, (QStringList{"100ms", "500ms", "1000ms", "2500ms", "5000ms", "10000ms"}));

    // Subframe panel start state.
    EXPECT_EQ(find<QLCDNumber>(mainWindow, "HRES")->intValue(), 2000);
    EXPECT_EQ(find<QLCDNumber>(mainWindow, "VRES")->intValue(), 1024);
    EXPECT_EQ(find<QLCDNumber>(mainWindow, "HRES")->digitCount(), 4);
    EXPECT_EQ(find<QFrame>(mainWindow, "full")->size(), QSize(106, 85));
    EXPECT_EQ(find<QWidget>(mainWindow, "subframe")->geometry(), QRect(0, 0, 106, 85));
    EXPECT_EQ(find<LabelledSlider>(mainWindow, "SliderHeight")->value(), 999);
    EXPECT_EQ(find<QFrame>(mainWindow, "Panel6")->size(), QSize(183, 95));
}

TEST(MainWindow, CameraControlsKeepPendingValuesAndSavedTexts) {
    ensureApp();
    MainWindow mainWindow;
    find<LabelledSlider>(mainWindow, "gain")->setValue(73);
    EXPECT_EQ(mainWindow.capture().settings().gain, 73);
    EXPECT_EQ(mainWindow.storedSettings().gain, 73);

    find<LabelledSlider>(mainWindow, "redbalance")->setValue(128);
    find<LabelledSlider>(mainWindow, "greenbalance")->setValue(0);
    find<LabelledSlider>(mainWindow, "bluebalance")->setValue(-127);
    const WhiteBalance wb = mainWindow.capture().whiteBalance();
    EXPECT_EQ(wb.blue, 0);
    EXPECT_EQ(wb.green, 127);
    EXPECT_EQ(wb.red, 255);

    QAction* colour = find<QAction>(mainWindow, "Col1");
    auto* balance = find<QFrame>(mainWindow, "Balance");
    colour->trigger();  // unchecks
    EXPECT_FALSE(colour->isChecked());
    EXPECT_FALSE(balance->isVisibleTo(&mainWindow));
    colour->trigger();
    EXPECT_TRUE(colour->isChecked());
    EXPECT_TRUE(balance->isVisibleTo(&mainWindow));

    auto* expos = find<QLineEdit>(mainWindow, "expos");
    expos->setText("");
    EXPECT_EQ(mainWindow.storedSettings().frameCountText, "");
    QTest::keyClicks(expos, "12x3");  // digits only
    EXPECT_EQ(expos->text(), "123");
    EXPECT_EQ(mainWindow.storedSettings().frameCountText, "123");
}
