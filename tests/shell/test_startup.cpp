// Start-up and shutdown of the main window against the fake camera.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakeCamera.h"
#include "ShellTestEnv.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "display/FocusWindow.h"
#include "display/PictureView.h"
#include "platform/HardExit.h"
#include "platform/InstanceLock.h"
#include "platform/Message.h"
#include "settings/SettingsStore.h"
#include "shell/CapturePanel.h"
#include "shell/CommandLine.h"
#include "shell/ControlMath.h"
#include "shell/MainWindow.h"
#include "shell/ProgramSetup.h"
#include "widgets/LabelledSlider.h"
#include "widgets/OnScreenKeyboard.h"
#include "widgets/OutputNameDialog.h"
#include "widgets/OverlayDialog.h"
#include "widgets/SecondInstanceWindow.h"
#include "widgets/SplashScreen.h"

namespace {
struct HaltCalled {
    int code;
};

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApp();
        testexit::reset();
        testexit::setTerminate([](int code) { throw HaltCalled{code}; });
        previous_ = setMessageHandler([this](const QString& text) {
            messages_.push_back(text.toStdString());
            splashAtMessage_ = splash_.findChild<QLabel*>("Label2")->text();
        });
    }
    void TearDown() override {
        setMessageHandler(previous_);
        testexit::setTerminate(nullptr);
        testexit::reset();
    }

    // The window's start options: this test's splash, the camera library loaded by `load`.
    MainWindow::StartOptions options(std::function<bool(std::string*)> load = {}) {
        return {&splash_, 0, std::move(load), {}};
    }
    // Runs start(); returns the halt code, or -1 when it did not halt.
    int create(MainWindow& mainWindow) {
        try {
            mainWindow.start();
        } catch (const HaltCalled& h) {
            return h.code;
        }
        return -1;
    }

    TempConfig config_;
    SplashScreen splash_;
    std::vector<std::string> messages_;
    QString splashAtMessage_;
    MessageHandler previous_;
};
}  // namespace

TEST_F(Startup, WithACameraTheWindowIsConnectedAndShown) {
    tvtest::FakeCamera cam(640, 480, "Test Cam");
    cam.install();
    cam.setAutoRelease(true);
    MainWindow mainWindow(options());
    splash_.show();
    ASSERT_EQ(create(mainWindow), -1);

    EXPECT_EQ(mainWindow.windowTitle(), "TarviVideo5X1.0 connected to Test Cam");
    EXPECT_EQ(splash_.findChild<QLabel*>("Label1")->text(), "TarviVideo5X1.0");
    EXPECT_EQ(splash_.findChild<QLabel*>("Label2")->text(), "Test Cam Found");
    EXPECT_EQ(splash_.findChild<QLabel*>("Label2")->palette().color(QPalette::WindowText),
              QColor(0, 128, 0));
    EXPECT_FALSE(splash_.isVisible());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_TRUE(messages_.empty());
    // Without a stored place the window fits the screen's height (an 800 pixel screen is as
    // wide as the window's least width).
    const QRect room = mainWindow.screen()->availableGeometry();
    EXPECT_TRUE(room.top() <= mainWindow.frameGeometry().top() &&
                mainWindow.frameGeometry().bottom() <= room.bottom());

    // Sensor size reaches the subframe sliders (the height clamps 999 to 480) and the
    // picture.
    EXPECT_EQ(find<LabelledSlider>(mainWindow, "SliderWidth")->maximum(), 640);
    EXPECT_EQ(find<LabelledSlider>(mainWindow, "SliderHeight")->maximum(), 480);
    EXPECT_EQ(find<LabelledSlider>(mainWindow, "SliderHeight")->value(), 480);
    EXPECT_EQ(find<PictureView>(mainWindow, "Image1")->pictureSize(), QSize(640, 480));
    // The start picture is 8-bit with a palette until the first colour frame is shown;
    // the acquisition thread runs from here on, so a frame may already have arrived (and
    // may have been passed over for a newer one still on its way).
    const QImage::Format format = find<PictureView>(mainWindow, "Image1")->image().format();
    EXPECT_TRUE(format == QImage::Format_Indexed8 ||
                (mainWindow.framesReceived() > 0 && format == QImage::Format_BGR888))
        << format;

    // Defaults of a first run; no path, so both capture buttons are disabled.
    EXPECT_EQ(exposureUsAt(find<LabelledSlider>(mainWindow, "_expot")->value()), 100'000);
    EXPECT_EQ(mainWindow.capture().settings().exposureUs, 100'000);
    EXPECT_EQ(find<QLineEdit>(mainWindow, "expos")->text(), "1");
    EXPECT_EQ(find<LabelledSlider>(mainWindow, "gain")->value(), 10);
    EXPECT_FALSE(find<QPushButton>(mainWindow, "butCapture")->isEnabled());
    EXPECT_FALSE(find<QPushButton>(mainWindow, "Button3")->isEnabled());
    EXPECT_EQ(find<QPushButton>(mainWindow, "Button3")->text(), "FIT");
    EXPECT_TRUE(find<QAction>(mainWindow, "N1001")->isChecked());
    EXPECT_TRUE(find<QAction>(mainWindow, "Col1")->isChecked());
    EXPECT_TRUE(find<QFrame>(mainWindow, "Balance")->isVisibleTo(&mainWindow));
    EXPECT_TRUE(mainWindow.capture().started());

    // The camera was opened with 0 and got the gain directly, and the acquisition thread
    // sends the start white balance.
    const auto names = cam.callNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(cam.calls()[0].text(), "openUSB(0)");
    EXPECT_NE(cam.trace().find("SetGain(10)"), std::string::npos);
    EXPECT_TRUE(cam.waitForCount("SetWhiteBalance", 1, 10000));
    EXPECT_NE(cam.trace().find("SetWhiteBalance(127,127,127)"), std::string::npos);

    // Frames arrive through the event queue.
    QElapsedTimer t;
    t.start();
    while (mainWindow.framesReceived() < 2 && t.elapsed() < 3000) QApplication::processEvents();
    EXPECT_GE(mainWindow.framesReceived(), 2u);

    runExitHandlerOnce();
    EXPECT_TRUE(mainWindow.capture().finished());
    EXPECT_TRUE(mainWindow.settingsWritten());
}

TEST_F(Startup, StoredValuesAreLoadedAndOutOfRangeOrGarbageFallsBack) {
    ASSERT_TRUE(
        config_.writeIni("[TarviVideo2R]\nEXPOLENGTH=2500\nEXPOCOUNT=007\n"
                         "FILENAME=/obs/moon\nGAIN=loud\n"));
    tvtest::FakeCamera cam;
    cam.install();
    cam.setAutoRelease(true);
    MainWindow mainWindow(options());
    ASSERT_EQ(create(mainWindow), -1);

    EXPECT_EQ(exposureUsAt(find<LabelledSlider>(mainWindow, "_expot")->value()),
              100'000);  // the slider starts with the range up to 100 ms
    EXPECT_EQ(mainWindow.capture().settings().exposureUs, 100'000);
    EXPECT_EQ(find<QLineEdit>(mainWindow, "expos")->text(), "7");
    EXPECT_EQ(mainWindow.capturePanel().capturePath(), "/obs/moon");
    EXPECT_TRUE(find<QPushButton>(mainWindow, "butCapture")->isEnabled());
    EXPECT_TRUE(find<QPushButton>(mainWindow, "Button3")->isEnabled());
    EXPECT_EQ(find<LabelledSlider>(mainWindow, "gain")->value(), 10);
    EXPECT_EQ(mainWindow.capture().settings().gain, 10);

    ASSERT_NE(mainWindow.outputNameDialog(), nullptr);
    EXPECT_EQ(mainWindow.outputNameDialog()->baseName(), "moon");

    // What the exit writes back reflects the controls, not the raw stored texts.
    find<QLineEdit>(mainWindow, "expos")->setText("");  // an emptied field is stored as typed ...
    runExitHandlerOnce();
    const StoredSettings s = readStoredSettings();
    EXPECT_EQ(s.exposureUs, 100'000);
    EXPECT_EQ(s.frameCountText, "");
    EXPECT_EQ(s.capturePath, "/obs/moon");
    EXPECT_EQ(s.gain, 10);
}

TEST_F(Startup, EmptyStoredCountAndLengthReadAsDefaults) {
    ASSERT_TRUE(config_.writeIni("[TarviVideo2R]\nEXPOLENGTH=\nEXPOCOUNT=\nGAIN=55\n"));
    tvtest::FakeCamera cam;
    cam.install();
    cam.setAutoRelease(true);
    MainWindow mainWindow(options());
    ASSERT_EQ(create(mainWindow), -1);
    EXPECT_EQ(exposureUsAt(find<LabelledSlider>(mainWindow, "_expot")->value()), 100'000);
    EXPECT_EQ(find<QLineEdit>(mainWindow, "expos")->text(), "1");  // ... and reads back as "1"
    EXPECT_EQ(find<LabelledSlider>(mainWindow, "gain")->value(), 55);
    EXPECT_EQ(mainWindow.storedSettings().gain, 55);
}

TEST_F(Startup, NoCameraShowsTheMessageHaltsAndStillStoresTheSettings) {
    tvtest::FakeCamera cam;
    cam.install();
    cam.setOpenResult(0);
    MainWindow mainWindow(options());
    splash_.show();
    EXPECT_EQ(create(mainWindow), 1);
    EXPECT_EQ(messages_, std::vector<std::string>{"NO CAMERA!"});
    EXPECT_EQ(splashAtMessage_, "Searching...");
    EXPECT_FALSE(mainWindow.isVisible());
    EXPECT_FALSE(mainWindow.capture().started());
    EXPECT_TRUE(mainWindow.settingsWritten());
    const StoredSettings s = readStoredSettings();
    EXPECT_EQ(s.exposureUs, 100'000);
    EXPECT_EQ(s.frameCountText, "1");
    EXPECT_EQ(s.gain, 10);
    EXPECT_TRUE(config_.readIni().contains("[TarviVideo2R]"));
}

// A camera whose frames the frame budget cannot hold is no camera, with the sizes.
TEST_F(Startup, ACameraWhoseFramesDoNotFitTheBudgetIsNoCameraWithTheSizes) {
    ASSERT_TRUE(config_.writeIni("[TarviVideo2R]\nWRITERQUEUEMIB=8\n"));
    tvtest::FakeCamera cam(4000, 4000);
    cam.install();
    MainWindow mainWindow(options());
    EXPECT_EQ(create(mainWindow), 1);
    EXPECT_EQ(messages_, std::vector<std::string>{
                             "NO CAMERA!\n\nframes of 4000 x 4000 x 8 bits (15.3 MiB) do not fit "
                             "the frame budget of 72.0 MiB: the program holds 5 frames at a "
                             "time, so one may take at most 14.4 MiB"});
}

TEST_F(Startup, ACameraLibraryThatCannotBeLoadedCountsAsNoCamera) {
    setCameraApi(TarviApi{});
    MainWindow mainWindow(options([](std::string* error) {
        if (error) *error = "libtarvidll.so: cannot open shared object file";
        return false;
    }));
    EXPECT_EQ(create(mainWindow), 1);
    // The fixed text, then the reason.
    EXPECT_EQ(messages_, std::vector<std::string>{
                             "NO CAMERA!\n\nlibtarvidll.so: cannot open shared object file"});
    EXPECT_FALSE(mainWindow.isVisible());
}

TEST_F(Startup, ExitWaitsForTheExposureInProgress) {
    tvtest::FakeCamera cam;
    cam.install();
    MainWindow mainWindow(options());
    ASSERT_EQ(create(mainWindow), -1);
    ASSERT_TRUE(cam.waitForExposure(10000));

    // The camera ends its exposure 300 ms from now; closing must not end before.
    std::thread camera([&cam] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cam.release();
    });
    QElapsedTimer t;
    t.start();
    int code = -1;
    // File > Exit halts (called directly: the test's halt throws, and an exception thrown
    // through the toolkit's signal dispatch would leak the dispatcher's guard).
    try {
        hardExit(0);
    } catch (const HaltCalled& h) {
        code = h.code;
    }
    const qint64 elapsed = t.elapsed();
    camera.join();
    EXPECT_EQ(code, 0);
    EXPECT_GE(elapsed, 250);
    EXPECT_TRUE(mainWindow.capture().finished());
    EXPECT_TRUE(mainWindow.settingsWritten());

    // The exit procedure runs once: a second way out does not store again.
    ASSERT_TRUE(QFile::remove(config_.iniPath()));
    EXPECT_THROW(hardExit(0), HaltCalled);
    EXPECT_FALSE(QFile::exists(config_.iniPath()));
}

TEST_F(Startup, ACameraThatNeverEndsItsExposureDoesNotKeepTheProgramFromEnding) {
    tvtest::FakeCamera cam;
    cam.install();
    cam.setCancelReleases(false);  // a camera unplugged during the exposure
    MainWindow mainWindow(options());
    mainWindow.capture().setStallMarginMs(100);
    ASSERT_EQ(create(mainWindow), -1);
    ASSERT_TRUE(cam.waitForExposure(10000));
    EXPECT_EQ(mainWindow.exitWaitMs(), 200u);  // the longest exposure the slider allows + margin
    QElapsedTimer t;
    t.start();
    runExitHandlerOnce();
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_TRUE(mainWindow.settingsWritten());
}

TEST_F(Startup, TheWindowCannotBeMinimised) {
    tvtest::FakeCamera cam;
    cam.install();
    cam.setAutoRelease(true);
    MainWindow mainWindow(options());
    ASSERT_EQ(create(mainWindow), -1);
    EXPECT_FALSE(mainWindow.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(mainWindow.windowFlags() & Qt::WindowMaximizeButtonHint);
    mainWindow.setWindowState(Qt::WindowMinimized);
    QElapsedTimer t;
    t.start();
    while (mainWindow.isMinimized() && t.elapsed() < 1000) QApplication::processEvents();
    EXPECT_FALSE(mainWindow.isMinimized());
    runExitHandlerOnce();
}

TEST_F(Startup, AuxiliaryWindowsStartHiddenAndShareTheKeyboard) {
    tvtest::FakeCamera cam;
    cam.install();
    cam.setAutoRelease(true);
    MainWindow mainWindow(options());
    ASSERT_EQ(create(mainWindow), -1);
    const AuxiliaryWindows aux = createAuxiliaryWindows(mainWindow);
    OverlayDialog* overlay = mainWindow.overlayDialog();
    std::unique_ptr<QWidget> keep[] = {std::unique_ptr<QWidget>(aux.keyboard),
                                       std::unique_ptr<QWidget>(aux.errorWindow),
                                       std::unique_ptr<QWidget>(aux.focus)};
    EXPECT_EQ(mainWindow.focusWindow(), aux.focus);
    for (QWidget* w : {static_cast<QWidget*>(aux.keyboard), static_cast<QWidget*>(aux.errorWindow),
                       static_cast<QWidget*>(aux.focus), static_cast<QWidget*>(overlay),
                       static_cast<QWidget*>(mainWindow.outputNameDialog())})
        EXPECT_FALSE(w->isVisible());

    // Both dialogs toggle the same keyboard.
    overlay->show();
    overlay->toggleKeyboard();
    EXPECT_TRUE(aux.keyboard->isVisible());
    overlay->hide();
    EXPECT_FALSE(aux.keyboard->isVisible());
    mainWindow.outputNameDialog()->toggleKeyboard();
    EXPECT_TRUE(aux.keyboard->isVisible());

    // The exit procedure hides the focus aid and the overlay dialog.
    aux.focus->show();
    overlay->show();
    runExitHandlerOnce();
    EXPECT_FALSE(aux.focus->isVisible());
    EXPECT_FALSE(overlay->isVisible());
}

TEST(SingleInstance, ASecondInstanceShowsTheErrorAndStops) {
    ensureApp();
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    InstanceLock first(InstanceLock::defaultPath());
    ASSERT_EQ(first.tryAcquire(), InstanceLockResult::Acquired);
    int shown = 0;
    EXPECT_FALSE(checkSingleInstance([&] { ++shown; }));
    EXPECT_EQ(shown, 1);
}

TEST_F(Startup, AnOptionTheLibraryRefusesIsNoCameraWithTheReason) {
    setCameraApi(TarviApi{});
    // As the program loads its choice: the simulated camera takes sensor=WxH and depth only.
    MainWindow mainWindow(options([](std::string* error) {
        return loadCameraLibraryFrom(TV_BINARY_DIR "/bin/libtarvidll.so", error) &&
               applyCameraOptions({{"gain", "5"}}, error);
    }));
    EXPECT_EQ(create(mainWindow), 1);
    setCameraApi(TarviApi{});
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind("NO CAMERA!\n\n", 0), 0u) << messages_[0];
    EXPECT_NE(messages_[0].find("gain=5"), std::string::npos) << messages_[0];
}

TEST_F(Startup, SelectCameraStoresTheChoiceForTheNextStart) {
    tvtest::FakeCamera cam;
    cam.install();
    cam.setAutoRelease(true);
    MainWindow mainWindow(options());
    ASSERT_EQ(create(mainWindow), -1);
    bool seen = false;
    QTimer::singleShot(0, [&seen] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != QStringLiteral("CameraDialog")) return;
        seen = true;
        auto* list = dialog->findChild<QListWidget*>(QStringLiteral("CameraList"));
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->data(Qt::UserRole).toString() == QStringLiteral("sim"))
                list->setCurrentRow(i);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    find<QAction>(mainWindow, "SelectCamera1")->trigger();
    EXPECT_TRUE(seen);
    EXPECT_EQ(readCameraChoice().name, QStringLiteral("sim"));
    EXPECT_TRUE(
        mainWindow.capture().status().cameraOpen);  // the camera in use stays until the next start
}

// The window's size and place come back at the next start; a place too large for the screen
// it opens on shrinks to it.
TEST_F(Startup, TheWindowsPlaceIsStoredAndFitsTheScreen) {
    tvtest::FakeCamera cam;
    cam.install();
    cam.setAutoRelease(true);
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QSize asked :
         {QSize(MainWindow::kMinimumWidth, 540), QSize(room.width() + 300, room.height() + 300)}) {
        QRect left;
        {
            MainWindow first(options());
            ASSERT_EQ(create(first), -1);
            first.setGeometry(QRect(QPoint(0, 20), asked));
            left = first.geometry();
            first.saveAndStop();
        }
        MainWindow second(options());
        ASSERT_EQ(create(second), -1);
        EXPECT_EQ(second.size(), asked.boundedTo(room.size()));
        EXPECT_TRUE(room.contains(second.frameGeometry().topLeft()));
        // The same place, to the offscreen platform's frame margin of a pixel or two.
        if (asked.height() < room.height())
            EXPECT_LE((second.geometry().topLeft() - left.topLeft()).manhattanLength(), 4);
        second.saveAndStop();
    }
}
