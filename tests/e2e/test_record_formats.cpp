// The main window with the simulated camera library records in each format, driven through
// its controls, and independent readers accept the files: ffprobe for AVI, fitsverify and
// astropy for FITS, ImageMagick for BMP, a byte check of the SER header and trailer (all
// through check_recording.py, which the end-to-end test of the real program uses too).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>

#include "RunCommand.h"
#include "ShellTestEnv.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"
#include "widgets/OutputNameDialog.h"

namespace fs = std::filesystem;
namespace {
using tvtest::recordingProblems;

class RecordFormats : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApp();
        previous_ =
            setMessageHandler([this](const QString& t) { messages_.push_back(t.toStdString()); });
        out_ = config_.dir().toStdString() + "/captures";
        fs::create_directories(out_);
        ASSERT_TRUE(config_.writeIni("[TarviVideo2R]\nEXPOLENGTH=40\n"));
        MainWindow::StartOptions options;
        options.loadCameraLibrary = [](std::string* error) {
            return loadCameraLibraryFrom(TV_BINARY_DIR "/bin/libtarvidll.so", error);
        };
        mainWindow_ = std::make_unique<MainWindow>(std::move(options));
        mainWindow_->start();
        ASSERT_TRUE(messages_.empty()) << messages_[0];
    }
    void TearDown() override {
        mainWindow_.reset();
        setMessageHandler(previous_);
    }
    // Runs the event loop until the recording has ended, or `stop` says to cancel it.
    bool waitForEnd(int timeoutMs, const std::function<bool()>& stop = nullptr) {
        QElapsedTimer t;
        t.start();
        while (mainWindow_->recorder().busy() && t.elapsed() < timeoutMs) {
            if (stop && stop()) button("CancelButton")->click();
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return !mainWindow_->recorder().busy();
    }
    std::string file(const std::string& name) const { return out_ + "/" + name; }
    // A widget or menu item of the window by its object name.
    template <class T>
    T* widget(const char* name) const {
        return find<T>(*mainWindow_, name);
    }
    QAction* item(const char* name) const { return widget<QAction>(name); }
    QPushButton* button(const char* name) const { return widget<QPushButton>(name); }

    TempConfig config_;
    std::unique_ptr<MainWindow> mainWindow_;
    std::vector<std::string> messages_;
    std::string out_;
    MessageHandler previous_;
};
}  // namespace

TEST_F(RecordFormats, EachFormatIsReadBackByAnIndependentReader) {
    // The folder through the folder dialog, the base name typed into the name dialog.
    const QString folder = QString::fromStdString(out_);
    mainWindow_->capturePanel().setFolderChooser([folder](QWidget*) { return folder; });
    item("SetCaptureLocation1")->trigger();
    QTimer::singleShot(0, mainWindow_.get(), [this] {
        mainWindow_->outputNameDialog()->findChild<QLineEdit*>("Edit1")->setText(
            QStringLiteral("moon"));
        mainWindow_->outputNameDialog()->findChild<QPushButton*>("Button1")->click();
    });
    item("SetCaptureFilename1")->trigger();
    ASSERT_EQ(mainWindow_->capturePanel().capturePath(), folder + QStringLiteral("/moon"));
    ASSERT_TRUE(button("Button3")->isEnabled());

    // SER: five frames.
    item("SER8bit1")->trigger();
    widget<QLineEdit>("expos")->setText(QStringLiteral("5"));
    button("butCapture")->click();
    ASSERT_TRUE(messages_.empty()) << messages_[0];
    ASSERT_TRUE(waitForEnd(20000));
    const int w = mainWindow_->capture().status().width, h = mainWindow_->capture().status().height;
    // Header (identifier, size, frame count), 8-bit frames, one time stamp per frame.
    EXPECT_EQ(recordingProblems("ser", file("moon_00000.SER"), w, h, 5), "");
    EXPECT_EQ(recordingProblems("quality", file("moon_00000.SER"), w, h, 5), "");
    EXPECT_FALSE(widget<QLabel>("HTMLabel1")->isHidden());
    EXPECT_TRUE(widget<QLabel>("HTMLabel1")->text().contains(QStringLiteral("Last Capture")));

    // AVI: a timed recording of one second.
    item("AVI2")->trigger();
    widget<QComboBox>("exposUnit")->setCurrentIndex(1);
    widget<QLineEdit>("expos")->setText(QStringLiteral("1"));
    button("butCapture")->click();
    ASSERT_TRUE(messages_.empty()) << messages_[0];
    ASSERT_TRUE(waitForEnd(20000));
    const int aviFrames = mainWindow_->recorder().framesWritten();
    EXPECT_GT(aviFrames, 0);
    // The SER recording's seeing figures (moon_00000.quality.csv) take its number.
    ASSERT_TRUE(fs::exists(file("moon_00001-PART1.AVI")));
    // Size, every frame written, 10 frames per second.
    EXPECT_EQ(recordingProblems("avi", file("moon_00001-PART1.AVI"), w, h, aviFrames), "");
    EXPECT_EQ(recordingProblems("quality", file("moon_00001-PART1.AVI"), w, h, aviFrames), "");

    // FIT: continuous until Cancel, after three files.
    item("FIT1")->trigger();
    widget<QComboBox>("exposUnit")->setCurrentIndex(0);
    widget<QLineEdit>("expos")->setText(QStringLiteral("0"));
    button("Button3")->click();
    ASSERT_TRUE(messages_.empty()) << messages_[0];
    ASSERT_TRUE(waitForEnd(20000, [this] { return mainWindow_->recorder().framesWritten() >= 3; }));
    const int fitFrames = mainWindow_->recorder().framesWritten();
    EXPECT_GE(fitFrames, 3);
    // fitsverify without errors, then astropy reads unsigned samples of the frame's size.
    for (int i = 0; i < fitFrames; ++i)
        EXPECT_EQ(recordingProblems("fits", file("moon_0000" + std::to_string(i) + ".FIT"), w, h),
                  "");
    EXPECT_FALSE(fs::exists(file("moon_0000" + std::to_string(fitFrames) + ".FIT")));

    // BMP: three colour frames.
    item("BMP1")->trigger();
    widget<QLineEdit>("expos")->setText(QStringLiteral("3"));
    button("Button3")->click();
    ASSERT_TRUE(waitForEnd(20000));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(recordingProblems("bmp", file("moon_0000" + std::to_string(i) + ".BMP"), w, h),
                  "");
    EXPECT_FALSE(fs::exists(file("moon_00003.BMP")));
    EXPECT_TRUE(messages_.empty()) << messages_[0];
}
