// The main window with the simulated camera library records in each format, driven through
// its controls, and independent readers accept the files: ffprobe for AVI, fitsverify and
// astropy for FITS, ImageMagick for BMP, a byte check of the SER header and trailer (all
// through check_recording.py, which the end-to-end test of the real program uses too).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "RecTestUtil.h"
#include "ShellTestEnv.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "widgets/OutputNameDialog.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"

namespace fs = std::filesystem;
namespace {
using rectest::Quote;
using rectest::RunCommand;

// What the independent readers find wrong with a recorded file; empty when it is sound.
// `frames` is the expected frame count of a SER or AVI file.
std::string Problems(const std::string& kind, const std::string& path, int width, int height,
                     int frames = -1) {
    std::string command = "/usr/bin/python3 " TV_SOURCE_DIR "/tests/e2e/check_recording.py " +
                          kind + " " + Quote(path) + " " + std::to_string(width) + " " +
                          std::to_string(height);
    if (frames >= 0) command += " " + std::to_string(frames);
    std::string text;
    const int status = RunCommand(command, text);
    return status == 0 ? std::string() : "status " + std::to_string(status) + ": " + text;
}

class RecordFormats : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        previous_ = SetMessageHandler([this](const std::string& t) { messages.push_back(t); });
        out = config.Dir().toStdString() + "/captures";
        fs::create_directories(out);
        ASSERT_TRUE(config.WriteIni("[TarviVideo2R]\nEXPOLENGTH=40\n"));
        mainWindow = std::make_unique<MainWindow>();
        mainWindow->splashDelayMs = 0;
        mainWindow->loadCameraLibrary = [](std::string* error) {
            return LoadCameraLibraryFrom(TV_BINARY_DIR "/bin/libtarvidll.so", error);
        };
        mainWindow->start();
        ASSERT_TRUE(messages.empty()) << messages[0];
    }
    void TearDown() override {
        mainWindow.reset();
        SetMessageHandler(previous_);
    }
    // Runs the event loop until the recording has ended, or `stop` says to cancel it.
    bool WaitForEnd(int timeoutMs, const std::function<bool()>& stop = nullptr) {
        QElapsedTimer t;
        t.start();
        while (mainWindow->recorder().busy() && t.elapsed() < timeoutMs) {
            if (stop && stop()) Button("CancelButton")->click();
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return !mainWindow->recorder().busy();
    }
    std::string File(const std::string& name) const { return out + "/" + name; }
    // A widget or menu item of the window by its object name.
    template <class T>
    T* W(const char* name) const {
        return Find<T>(*mainWindow, name);
    }
    QAction* Item(const char* name) const { return W<QAction>(name); }
    QPushButton* Button(const char* name) const { return W<QPushButton>(name); }

    TempConfig config;
    std::unique_ptr<MainWindow> mainWindow;
    std::vector<std::string> messages;
    std::string out;
    MessageHandler previous_;
};
}  // namespace

TEST_F(RecordFormats, EachFormatIsReadBackByAnIndependentReader) {
    // The folder through the folder dialog, the base name typed into the name dialog.
    const QString folder = QString::fromStdString(out);
    mainWindow->capturePanel().chooseFolder = [folder](QWidget*) { return folder; };
    Item("SetCaptureLocation1")->trigger();
    QTimer::singleShot(0, mainWindow.get(), [this] {
        mainWindow->outputNameDialog()->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("moon"));
        mainWindow->outputNameDialog()->findChild<QPushButton*>("Button1")->click();
    });
    Item("SetCaptureFilename1")->trigger();
    ASSERT_EQ(mainWindow->capturePanel().capturePath(), folder + QStringLiteral("/moon"));
    ASSERT_TRUE(Button("Button3")->isEnabled());

    // SER: five frames.
    Item("SER8bit1")->trigger();
    W<QLineEdit>("expos")->setText(QStringLiteral("5"));
    Button("butCapture")->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    ASSERT_TRUE(WaitForEnd(20000));
    const int w = mainWindow->capture().status().width, h = mainWindow->capture().status().height;
    // Header (identifier, size, frame count), 8-bit frames, one time stamp per frame.
    EXPECT_EQ(Problems("ser", File("moon_00000.SER"), w, h, 5), "");
    EXPECT_FALSE(W<QLabel>("HTMLabel1")->isHidden());
    EXPECT_TRUE(W<QLabel>("HTMLabel1")->text().contains(QStringLiteral("Last Capture")));

    // AVI: a timed recording of one second.
    Item("AVI2")->trigger();
    W<QComboBox>("exposUnit")->setCurrentIndex(1);
    W<QLineEdit>("expos")->setText(QStringLiteral("1"));
    Button("butCapture")->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    ASSERT_TRUE(WaitForEnd(20000));
    const int aviFrames = mainWindow->recorder().framesWritten();
    EXPECT_GT(aviFrames, 0);
    ASSERT_TRUE(fs::exists(File("moon_00000-PART1.AVI")));  // numbers of SER files are not skipped
    // Size, every frame written, 10 frames per second.
    EXPECT_EQ(Problems("avi", File("moon_00000-PART1.AVI"), w, h, aviFrames), "");

    // FIT: continuous until Cancel, after three files.
    Item("FIT1")->trigger();
    W<QComboBox>("exposUnit")->setCurrentIndex(0);
    W<QLineEdit>("expos")->setText(QStringLiteral("0"));
    Button("Button3")->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    ASSERT_TRUE(WaitForEnd(20000, [this] { return mainWindow->recorder().framesWritten() >= 3; }));
    const int fitFrames = mainWindow->recorder().framesWritten();
    EXPECT_GE(fitFrames, 3);
    // fitsverify without errors, then astropy reads unsigned samples of the frame's size.
    for (int i = 0; i < fitFrames; ++i)
        EXPECT_EQ(Problems("fits", File("moon_0000" + std::to_string(i) + ".FIT"), w, h), "");
    EXPECT_FALSE(fs::exists(File("moon_0000" + std::to_string(fitFrames) + ".FIT")));

    // BMP: three colour frames.
    Item("BMP1")->trigger();
    W<QLineEdit>("expos")->setText(QStringLiteral("3"));
    Button("Button3")->click();
    ASSERT_TRUE(WaitForEnd(20000));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Problems("bmp", File("moon_0000" + std::to_string(i) + ".BMP"), w, h), "");
    EXPECT_FALSE(fs::exists(File("moon_00003.BMP")));
    EXPECT_TRUE(messages.empty()) << messages[0];
}
