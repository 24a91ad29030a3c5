// The capture commands of the main window against the fake camera: the real handlers, the
// real frame hand-off and a settable clock.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "FakeCamera.h"
#include "ShellTestEnv.h"
#include "acquisition/CaptureThread.h"
#include "platform/Clock.h"
#include "platform/HardExit.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "recording/SerWriter.h"
#include "settings/SettingsStore.h"
#include "shell/CapturePanel.h"
#include "shell/CapturePath.h"
#include "shell/MainWindow.h"
#include "widgets/CodecDialog.h"
#include "widgets/OutputNameDialog.h"

namespace fs = std::filesystem;

namespace {
std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
int32_t le32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int32_t>(v);
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApp();
        now_ = 50000;
        testclock::setMillis([this] { return now_.load(); });
        previous_ =
            setMessageHandler([this](const QString& t) { messages_.push_back(t.toStdString()); });
        folder_ = config_.dir() + QStringLiteral("/out");
        fs::create_directories(folder_.toStdString());
    }
    void TearDown() override {
        if (mainWindow_) {
            // The exposure still pending is finished, so the thread ends at once.
            mainWindow_->capture().requestStop();
            cam_.release();
        }
        mainWindow_.reset();
        setMessageHandler(previous_);
        testclock::setMillis(nullptr);
    }
    // Starts the window with the stored settings given (FILENAME empty: none stored).
    void create(const QString& filename, const QString& count = QStringLiteral("1")) {
        QByteArray ini = "[TarviVideo2R]\nEXPOCOUNT=" + count.toUtf8() + "\n";
        if (!filename.isEmpty()) ini += "FILENAME=" + filename.toUtf8() + "\n";
        ASSERT_TRUE(config_.writeIni(ini));
        cam_.install();
        cam_.setCancelReleases(false);  // the tests hand the frames over themselves
        mainWindow_ = std::make_unique<MainWindow>();
        mainWindow_->start();
        ASSERT_TRUE(cam_.waitForExposure(10000));
        width_ = mainWindow_->capture().status().width;
        height_ = mainWindow_->capture().status().height;
        ASSERT_GT(width_, 0);
    }
    void createWithPath() { create(folder_ + QStringLiteral("/moon")); }
    // One frame from the camera, handled by the window's frame hand-off, and written by
    // the writer thread.
    void deliver(int count = 1) {
        for (int i = 0; i < count; ++i) {
            FramePtr f = newFrame(width_, height_, "", false, 8);
            std::fill(frameData(f.get()), frameData(f.get()) + frameDataSize(f.get()),
                      uint8_t(40 + i));
            mainWindow_->frameReady(std::move(f));
            mainWindow_->recorder().waitForWriter();
        }
    }
    // The cancel button, and the writer thread closing the output.
    void cancel() {
        button("CancelButton")->click();
        mainWindow_->recorder().waitForWriter();
    }
    std::string out(const std::string& name) const { return folder_.toStdString() + "/" + name; }
    // The recorded files; the capture log and the seeing figures beside each recording are
    // not counted.
    size_t fileCount() const {
        const fs::directory_iterator it(folder_.toStdString());
        return std::count_if(fs::begin(it), fs::end(it), [](const fs::directory_entry& e) {
            return e.path().extension() != ".txt" && e.path().extension() != ".csv";
        });
    }
    QString progress() const { return w<QLabel>("StatusPanel0")->text(); }
    bool recording() const { return mainWindow_->capture().recording(); }
    // A widget, menu item or menu of the window by its object name.
    template <class T>
    T* w(const char* name) const {
        return find<T>(*mainWindow_, name);
    }
    QAction* item(const char* name) const { return w<QAction>(name); }
    QPushButton* button(const char* name) const { return w<QPushButton>(name); }
    QLineEdit* count() const { return w<QLineEdit>("expos"); }
    QLabel* summaryLabel() const { return w<QLabel>("HTMLabel1"); }
    CapturePanel& panel() const { return mainWindow_->capturePanel(); }
    OutputNameDialog* nameDialog() const { return mainWindow_->outputNameDialog(); }
    // What a recording shows while it runs, and gives back when it ends.
    void expectLocked(bool locked) const {
        EXPECT_EQ(button("CancelButton")->isHidden(), !locked);
        EXPECT_EQ(button("butCapture")->isEnabled(), !locked);
        EXPECT_EQ(button("Button3")->isEnabled(), !locked);
        for (const char* name :
             {"SER8bit1", "AVI2", "FIT1", "BMP1", "SER1", "AVI1", "FIT2", "BMP2"})
            EXPECT_EQ(item(name)->isEnabled(), !locked) << name;
    }

    TempConfig config_;
    tvtest::FakeCamera cam_{64, 48, "Test Cam"};
    std::unique_ptr<MainWindow> mainWindow_;
    std::atomic<uint32_t> now_{0};
    std::vector<std::string> messages_;
    QString folder_;
    int width_ = 0, height_ = 0;
    MessageHandler previous_;
};
}  // namespace

TEST(CapturePathText, SplitJoinTrimAndFolder) {
    QString dir, base;
    splitPath(QStringLiteral("/obs/moon"), dir, base);
    EXPECT_EQ(dir, "/obs");
    EXPECT_EQ(base, "moon");
    splitPath(QStringLiteral("/moon"), dir, base);
    EXPECT_EQ(dir, "/");
    EXPECT_EQ(base, "moon");
    splitPath(QStringLiteral("moon"), dir, base);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(base, "moon");
    splitPath(QStringLiteral("/obs/"), dir, base);
    EXPECT_EQ(dir, "/obs");
    EXPECT_EQ(base, "");

    EXPECT_EQ(joinPath("/obs", "moon"), "/obs/moon");
    EXPECT_EQ(joinPath("/", "CAPTURE"), "/CAPTURE");
    EXPECT_EQ(joinPath("", "moon"), "");
    EXPECT_EQ(joinPath("/obs", ""), "");

    EXPECT_EQ(trimBlanks(QStringLiteral("  \t/obs/moon\x01 \n")), "/obs/moon");
    EXPECT_EQ(trimBlanks(QStringLiteral(" \x02 ")), "");
    EXPECT_EQ(folderOf("/obs/"), "/obs");
    EXPECT_EQ(folderOf("/"), "/");

    const QString summary = lastCaptureText(2.25, 10.0);
    EXPECT_TRUE(summary.contains("<B>Last Capture</B>"));
    EXPECT_TRUE(summary.contains(" 2.2 s") || summary.contains(" 2,2 s")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("10.0") || summary.contains("10,0"));
}

TEST_F(CaptureTest, CommandsWithoutAPathOnlyComplain) {
    create(QString());
    EXPECT_FALSE(button("butCapture")->isEnabled());
    // The buttons are disabled; the commands behind them still refuse on their own.
    panel().startSequence();
    panel().startStillSeries();
    EXPECT_EQ(messages_, (std::vector<std::string>{"Error opening AVI/SER file",
                                                   "Please set file parameters first"}));
    EXPECT_FALSE(recording());
    EXPECT_FALSE(mainWindow_->recorder().busy());
    EXPECT_TRUE(button("CancelButton")->isHidden());
}

TEST_F(CaptureTest, CountOfFiveSerCountsDownAndShowsTheSummary) {
    createWithPath();
    item("SER8bit1")->trigger();
    count()->setText(QStringLiteral("5"));
    button("butCapture")->click();
    ASSERT_TRUE(messages_.empty()) << messages_[0];
    EXPECT_TRUE(recording());
    expectLocked(true);
    EXPECT_TRUE(summaryLabel()->isHidden());

    std::vector<QString> texts;
    for (int i = 0; i < 5; ++i) {
        now_ += 100;
        deliver();
        texts.push_back(progress());
    }
    EXPECT_EQ(texts, (std::vector<QString>{"4 Frames left", "3 Frames left", "2 Frames left",
                                           "1 Frames left", "1 Frames left"}));
    EXPECT_TRUE(recording());
    now_ += 100;
    deliver();  // closes
    EXPECT_FALSE(recording());
    EXPECT_EQ(progress(), "");
    expectLocked(false);
    EXPECT_FALSE(w<QFrame>("Panel10")->isHidden());
    EXPECT_FALSE(summaryLabel()->isHidden());
    // 600 ms + 1, five frames.
    EXPECT_TRUE(summaryLabel()->text().contains(" 0.6 s")) << summaryLabel()->text().toStdString();
    EXPECT_TRUE(summaryLabel()->text().contains(" 8.3<br>"))
        << summaryLabel()->text().toStdString();
    EXPECT_FALSE(w<QLabel>("StatusPanel2")->text().isEmpty());

    const auto bytes = readAll(out("moon_00000.SER"));
    EXPECT_EQ(le32(bytes, kSerFrameCountOffset), 5);
    EXPECT_EQ(bytes.size(), size_t(kSerHeaderSize) + 5 * (width_ * height_ + 8));

    // The next recording takes the next number.
    count()->setText(QStringLiteral("1"));
    button("butCapture")->click();
    deliver(2);
    EXPECT_EQ(le32(readAll(out("moon_00001.SER")), kSerFrameCountOffset), 1);
}

// A recording that could not be finished after a crash (the state folder cannot be written)
// is said so before it starts, and starts only when the user agrees; a name whose side file
// is taken by a user's file is passed over, and that file left as it was.
TEST_F(CaptureTest, CrashSafetyIsAskedForAndAUsersSideFileIsPassedOver) {
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    const std::string blocked = config_.dir().toStdString() + "/not-a-folder";
    std::ofstream(blocked) << "x";
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(blocked));
    std::ofstream(out("moon_00000.SER.stamps")) << "my own stamps";
    createWithPath();
    qputenv("XDG_STATE_HOME", state);
    std::vector<std::string> asked;
    bool agree = false;
    const QuestionHandler previous = setQuestionHandler([&](const QString& text) {
        asked.push_back(text.toStdString());
        return agree;
    });
    item("SER8bit1")->trigger();
    button("butCapture")->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("cannot be made crash-safe"), std::string::npos) << asked[0];
    EXPECT_NE(asked[0].find(blocked), std::string::npos) << asked[0];
    EXPECT_FALSE(recording());
    EXPECT_EQ(fileCount(), 1u);  // the user's file alone
    agree = true;
    button("butCapture")->click();
    EXPECT_TRUE(recording());
    deliver(2);
    EXPECT_EQ(le32(readAll(out("moon_00001.SER")), kSerFrameCountOffset), 1);
    EXPECT_EQ(readAll(out("moon_00000.SER.stamps")).size(), 13u);
    setQuestionHandler(previous);
}

TEST_F(CaptureTest, CountOfOneAviWritesOneFramePart) {
    createWithPath();
    item("AVI2")->trigger();
    count()->setText(QStringLiteral("1"));
    button("butCapture")->click();
    ASSERT_TRUE(messages_.empty()) << messages_[0];
    deliver();
    EXPECT_TRUE(recording());
    deliver();
    EXPECT_FALSE(recording());
    EXPECT_EQ(mainWindow_->recorder().framesWritten(), 1);
    EXPECT_TRUE(fs::exists(out("moon_00000-PART1.AVI")));
    EXPECT_EQ(fileCount(), 1u);
}

TEST_F(CaptureTest, ContinuousFitSeriesRunsUntilCancel) {
    createWithPath();
    count()->setText(QStringLiteral("0"));
    button("Button3")->click();
    deliver(3);
    EXPECT_EQ(progress(), QString::fromLatin1(RecordingController::kContinuousText));
    cancel();
    EXPECT_FALSE(recording());  // at once, not at the next frame
    expectLocked(false);
    deliver();
    EXPECT_EQ(fileCount(), 3u);
    EXPECT_TRUE(fs::exists(out("moon_00002.FIT")));
}

TEST_F(CaptureTest, TimedZeroSecondsWritesNothingAndShowsRateZero) {
    createWithPath();
    w<QComboBox>("exposUnit")->setCurrentIndex(1);
    count()->setText(QStringLiteral("0"));
    button("Button3")->click();
    EXPECT_TRUE(recording());
    deliver();
    EXPECT_FALSE(recording());
    EXPECT_EQ(fileCount(), 0u);
    EXPECT_TRUE(summaryLabel()->text().contains("<B>FPS:</B> 0.0"))
        << summaryLabel()->text().toStdString();
}

TEST_F(CaptureTest, PauseHoldsFramesBackButCancelDoesNotWait) {
    createWithPath();
    w<QLineEdit>("pse")->setText(QStringLiteral("2"));  // unit " sec" at start
    item("SER8bit1")->trigger();
    count()->setText(QStringLiteral("0"));
    button("butCapture")->click();
    deliver();  // at once
    now_ += 1000;
    deliver();
    now_ += 999;
    deliver();
    EXPECT_EQ(mainWindow_->recorder().framesWritten(), 1);
    now_ += 1;  // 2000 ms after the first
    deliver();
    EXPECT_EQ(mainWindow_->recorder().framesWritten(), 2);
    now_ += 500;
    cancel();  // ends without waiting out the pause
    EXPECT_FALSE(recording());
    EXPECT_EQ(le32(readAll(out("moon_00000.SER")), kSerFrameCountOffset), 2);

    // The unit " ms": 2 ms between recorded frames.
    w<QComboBox>("pseUnit")->setCurrentIndex(0);
    button("butCapture")->click();
    deliver();
    now_ += 1;
    deliver();
    EXPECT_EQ(mainWindow_->recorder().framesWritten(), 1);
    now_ += 1;
    deliver();
    EXPECT_EQ(mainWindow_->recorder().framesWritten(), 2);
    cancel();
    EXPECT_FALSE(recording());
}

TEST_F(CaptureTest, StoredNegativeCount) {
    create(folder_ + QStringLiteral("/moon"), QStringLiteral("-5"));
    EXPECT_EQ(count()->text(), "-5");
    // Every format takes its absolute value.
    item("SER8bit1")->trigger();
    button("butCapture")->click();
    deliver(6);
    EXPECT_FALSE(recording());
    EXPECT_EQ(le32(readAll(out("moon_00000.SER")), kSerFrameCountOffset), 5);
    item("FIT1")->trigger();
    button("Button3")->click();
    deliver(6);
    EXPECT_FALSE(recording());
    EXPECT_EQ(fileCount(), 6u);
}

// A camera that sends no more frames (stalled, or a long exposure) does not hold a
// recording open: Cancel finishes it at once, a timed one ends on time, each with a complete
// file and the summary, which counts the gaps in the frames' time stamps.
TEST_F(CaptureTest, CancelAndTimedEndFinishWithoutAnotherFrame) {
    createWithPath();
    item("SER8bit1")->trigger();
    count()->setText(QStringLiteral("0"));
    button("butCapture")->click();
    deliver(2);
    cancel();
    EXPECT_FALSE(recording());
    expectLocked(false);
    const auto bytes = readAll(out("moon_00000.SER"));
    EXPECT_EQ(le32(bytes, kSerFrameCountOffset), 2);
    EXPECT_EQ(bytes.size(), size_t(kSerHeaderSize) + 2 * (width_ * height_ + 8));  // trailer too

    w<QComboBox>("exposUnit")->setCurrentIndex(1);
    count()->setText(QStringLiteral("2"));
    button("butCapture")->click();
    // Frames 0.1 s apart with one of 0.5 s.
    for (double t : {1.0, 1.1, 1.2, 1.7, 1.8, 1.9}) {
        FramePtr f = newFrame(width_, height_, "", false, 8);
        f->timeStamp = (100000.0 + t) / 86400.0;
        mainWindow_->frameReady(std::move(f));
        mainWindow_->recorder().waitForWriter();
    }
    now_ += 2000;
    QElapsedTimer waited;
    waited.start();
    while (mainWindow_->recorder().busy() && waited.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(recording());
    EXPECT_EQ(le32(readAll(out("moon_00001.SER")), kSerFrameCountOffset), 6);
    const QString summary = summaryLabel()->text();
    EXPECT_TRUE(summary.contains("<br>1 gap, longest 0.5 s</P>") ||
                summary.contains("<br>1 gap, longest 0,5 s</P>"))
        << summary.toStdString();
}

TEST_F(CaptureTest, EmptyCountIsAConversionErrorAndRecordsNothing) {
    createWithPath();
    count()->clear();
    button("Button3")->click();
    item("SER8bit1")->trigger();
    button("butCapture")->click();
    EXPECT_EQ(messages_, (std::vector<std::string>(2, "'' is not a valid integer value")));
    EXPECT_FALSE(recording());
    EXPECT_FALSE(mainWindow_->recorder().busy());
    expectLocked(false);
    deliver();
    EXPECT_EQ(fileCount(), 0u);
}

// A screen reader sees the capture buttons' format pop-up as four shown items and can pick a
// format with their press action.
TEST_F(CaptureTest, TheFormatPopUpIsUsableThroughTheAccessibilityInterface) {
    createWithPath();
    // A tool that reads the whole window meets the hidden "Set Capture Format" menu first.
    QAccessibleInterface* hidden =
        QAccessible::queryAccessibleInterface(w<QMenu>("SetCaptureFormat1"));
    for (int i = 0; i < hidden->childCount(); ++i) EXPECT_TRUE(hidden->child(i)->state().invisible);
    QMenu* popup = w<QMenu>("SERAVI");
    popup->popup(button("Button3")->mapToGlobal(QPoint(5, 5)));
    QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(popup);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->childCount(), 4);
    QStringList names;
    for (int i = 0; i < menu->childCount(); ++i) {
        names << menu->child(i)->text(QAccessible::Name);
        EXPECT_FALSE(menu->child(i)->state().invisible) << i;
    }
    EXPECT_EQ(names, (QStringList{"    SER", "    AVI", "    FIT", "    BMP"}));
    QAccessibleActionInterface* avi = menu->child(1)->actionInterface();
    ASSERT_NE(avi, nullptr);
    avi->doAction(QAccessibleActionInterface::pressAction());
    popup->hide();
    EXPECT_EQ(panel().format(), CaptureFormat::Avi);
    EXPECT_TRUE(item("AVI1")->isChecked());  // the menu bar's twin follows
    EXPECT_FALSE(button("butCapture")->isHidden());
}

TEST_F(CaptureTest, FormatItemsSwitchTheButtonsAndLockDuringARecording) {
    createWithPath();
    EXPECT_EQ(panel().format(), CaptureFormat::Fit);
    EXPECT_TRUE(item("FIT1")->isChecked());
    item("AVI2")->trigger();
    EXPECT_FALSE(button("butCapture")->isHidden());
    EXPECT_TRUE(button("Button3")->isHidden());
    EXPECT_EQ(button("butCapture")->text(), "AVI");
    // The hidden "Set Capture Format" menu has four items of its own, checked in step.
    EXPECT_EQ(w<QMenu>("SetCaptureFormat1")->actions().size(), 4);
    EXPECT_TRUE(item("AVI1")->isChecked());
    EXPECT_FALSE(item("FIT2")->isChecked());
    EXPECT_EQ(panel().format(), CaptureFormat::Avi);
    item("BMP1")->trigger();
    EXPECT_TRUE(button("butCapture")->isHidden());
    EXPECT_FALSE(button("Button3")->isHidden());
    EXPECT_EQ(button("Button3")->text(), "BMP");
    EXPECT_EQ(panel().format(), CaptureFormat::Bmp);

    // The codec items; choosing SER leaves the codec alone.
    item("Askwhenopening1")->trigger();
    EXPECT_EQ(mainWindow_->recorder().avi().codec(), kCodecAsk);
    item("SER1")->trigger();  // SER, from the menu bar
    EXPECT_TRUE(item("SER8bit1")->isChecked());
    EXPECT_EQ(button("butCapture")->text(), "SER");
    EXPECT_EQ(mainWindow_->recorder().avi().codec(), kCodecAsk);
    item("IRAW")->trigger();
    EXPECT_EQ(mainWindow_->recorder().avi().codec(), 1448433993);
    EXPECT_TRUE(item("IRAW")->isChecked());

    // A running SER recording keeps its format.
    count()->setText(QStringLiteral("2"));
    button("butCapture")->click();
    item("BMP1")->trigger();
    panel().selectFormat(CaptureFormat::Bmp);
    EXPECT_EQ(panel().format(), CaptureFormat::Ser);
    EXPECT_TRUE(item("SER8bit1")->isChecked());
    panel().startSequence();  // ignored while one runs (the button is disabled meanwhile)
    deliver(3);
    EXPECT_FALSE(recording());
    EXPECT_EQ(le32(readAll(out("moon_00000.SER")), kSerFrameCountOffset), 2);
    EXPECT_EQ(fileCount(), 1u);
}

TEST_F(CaptureTest, CountPopupSetsTheFieldAndKeepsTheUnit) {
    createWithPath();
    w<QComboBox>("exposUnit")->setCurrentIndex(1);
    item("N201")->trigger();
    EXPECT_EQ(count()->text(), "20");
    EXPECT_EQ(mainWindow_->storedSettings().frameCountText, "20");
    button("Button3")->click();
    EXPECT_EQ(mainWindow_->recorder().framesToGo(), kCountTimed);
    EXPECT_EQ(mainWindow_->recorder().endTime(), now_ + 20000);
    cancel();
    deliver();
}

TEST_F(CaptureTest, CaptureLocationAndFilename) {
    create(QStringLiteral("  /obs/moon  "));
    EXPECT_EQ(panel().capturePath(), "/obs/moon");
    EXPECT_EQ(nameDialog()->baseName(), "moon");

    // Cancel in the folder dialog changes nothing; the root keeps its one "/".
    panel().setFolderChooser([](QWidget*) { return QString(); });
    item("SetCaptureLocation1")->trigger();
    EXPECT_EQ(panel().capturePath(), "/obs/moon");
    panel().setFolderChooser([](QWidget*) { return QStringLiteral("/"); });
    item("SetCaptureLocation1")->trigger();
    EXPECT_EQ(panel().capturePath(), "/moon");
    EXPECT_EQ(mainWindow_->storedSettings().capturePath, "/moon");

    // Set Capture Filename, then Cancel: split and joined again unchanged.
    QTimer::singleShot(0, nameDialog()->findChild<QPushButton*>("Button2"), &QPushButton::click);
    item("SetCaptureFilename1")->trigger();
    EXPECT_EQ(panel().capturePath(), "/moon");
    // OK with an empty name gives CAPTURE.
    QTimer::singleShot(0, mainWindow_.get(), [this] {
        nameDialog()->findChild<QLineEdit*>("Edit1")->clear();
        nameDialog()->findChild<QPushButton*>("Button1")->click();
    });
    item("SetCaptureFilename1")->trigger();
    EXPECT_EQ(panel().capturePath(), "/CAPTURE");
}

TEST_F(CaptureTest, FirstRunNeedsFolderAndNameInEitherOrder) {
    create(QString());
    QTimer::singleShot(0, mainWindow_.get(), [this] {
        nameDialog()->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("jupiter"));
        nameDialog()->findChild<QPushButton*>("Button1")->click();
    });
    item("SetCaptureFilename1")->trigger();
    EXPECT_EQ(panel().capturePath(), "");
    EXPECT_FALSE(button("Button3")->isEnabled());
    EXPECT_EQ(button("Button3")->toolTip(), "Choose a capture folder and a file name first");
    const QString chosen = folder_ + QStringLiteral("/");
    panel().setFolderChooser([chosen](QWidget*) { return chosen; });
    item("SetCaptureLocation1")->trigger();
    EXPECT_EQ(panel().capturePath(), folder_ + QStringLiteral("/jupiter"));
    EXPECT_TRUE(button("Button3")->isEnabled());
    EXPECT_TRUE(button("butCapture")->isEnabled());
    EXPECT_NE(button("Button3")->toolTip(), "Choose a capture folder and a file name first");
}

TEST_F(CaptureTest, AFailedWriteStopsTheRecordingAndSaysWhy) {
    createWithPath();
    count()->setText(QStringLiteral("10"));
    button("Button3")->click();
    deliver(2);
    fs::remove_all(folder_.toStdString());  // the folder goes away
    deliver();
    EXPECT_FALSE(recording());
    EXPECT_TRUE(button("CancelButton")->isHidden());
    EXPECT_TRUE(summaryLabel()->text().contains(" 0.0 s")) << summaryLabel()->text().toStdString();
    QApplication::processEvents();  // the message follows the hand-off
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("after 2 frames"), std::string::npos) << messages_[0];
    EXPECT_NE(messages_[0].find(out("moon_0000")), std::string::npos) << messages_[0];
    EXPECT_EQ(mainWindow_->recorder().framesWritten(), 2);
}

TEST_F(CaptureTest, ExitDuringARecordingCompletesTheSerFile) {
    createWithPath();
    item("SER8bit1")->trigger();
    count()->setText(QStringLiteral("0"));
    button("butCapture")->click();
    deliver(3);
    // The camera finishes its exposure while the exit procedure waits for it.
    std::thread camera([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cam_.release();
    });
    mainWindow_->saveAndStop();
    camera.join();
    EXPECT_FALSE(mainWindow_->recorder().busy());
    const auto bytes = readAll(out("moon_00000.SER"));
    EXPECT_EQ(le32(bytes, kSerFrameCountOffset), 3);
    EXPECT_EQ(bytes.size(), size_t(kSerHeaderSize) + 3 * (width_ * height_ + 8));
}

TEST_F(CaptureTest, AskedCodecCancelledMeansTheOpenFails) {
    createWithPath();
    std::string askedFor;
    mainWindow_->recorder().avi().setCodecChooser(
        [&](const std::vector<AviCodec>&, const std::string& part, int32_t&) {
            askedFor = part;
            return false;
        });
    item("AVI2")->trigger();
    item("Askwhenopening1")->trigger();
    button("butCapture")->click();
    EXPECT_EQ(askedFor, out("moon_00000-PART1.AVI"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind("Error opening AVI/SER file\n\n", 0), 0u) << messages_[0];
    EXPECT_FALSE(recording());
    expectLocked(false);
}

TEST(CodecDialog, OffersTheCodecsAndReturnsTheChoice) {
    ensureApp();
    const std::vector<AviCodec> offered = {{0, "Uncompressed", true, true},
                                           {packFourCc('M', 'J', 'P', 'G'), "MJPG", true, true}};
    {
        CodecDialog d(offered, "/x/moon_00000-PART1.AVI", 0);
        EXPECT_EQ(d.findChild<QListWidget*>()->count(), 2);
        EXPECT_TRUE(d.findChild<QLabel*>()->text().contains("moon_00000-PART1.AVI"));
    }
    int32_t fourcc = 0;
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->findChild<QListWidget*>()->setCurrentRow(1);
        d->accept();
    });
    EXPECT_TRUE(chooseCodec(nullptr, offered, "p.AVI", fourcc));
    EXPECT_EQ(fourcc, packFourCc('M', 'J', 'P', 'G'));
    // The last choice comes first next time; Cancel gives no codec.
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->findChild<QListWidget*>()->currentRow(), 1);
        d->reject();
    });
    EXPECT_FALSE(chooseCodec(nullptr, offered, "p.AVI", fourcc));
    EXPECT_FALSE(chooseCodec(nullptr, {}, "p.AVI", fourcc));
}

TEST_F(CaptureTest, DiskPanelShowsTheCaptureFolderSpaceAndTheTimeLeftWhileRecording) {
    create(QString());
    mainWindow_->updateDiskStatus();
    EXPECT_EQ(w<QLabel>("StatusPanel3")->text(), "");  // no capture folder yet
    mainWindow_.reset();
    createWithPath();
    mainWindow_->updateDiskStatus();
    const QString idle = w<QLabel>("StatusPanel3")->text();
    EXPECT_TRUE(idle.startsWith("Disk ") && idle.endsWith(" GB free")) << idle.toStdString();

    // A continuous SER recording: after a few seconds of frames the time left joins in.
    count()->setText("0");
    item("SER8bit1")->trigger();
    button("butCapture")->click();
    ASSERT_TRUE(recording());
    for (int step = 0; step < 4; ++step) {
        now_ += 1000;
        deliver(3);
        mainWindow_->updateDiskStatus();
    }
    const QString busy = w<QLabel>("StatusPanel3")->text();
    EXPECT_TRUE(busy.contains(" GB free, ") && busy.endsWith(" left")) << busy.toStdString();
    cancel();
}

TEST_F(CaptureTest, SharpSeeingChoicesAreKeptAndAWaitForSharpSeeingCanBeCancelled) {
    createWithPath();
    item("SER8bit1")->trigger();
    count()->setText(QStringLiteral("0"));
    item("KeepSharpestFrames1")->trigger();
    item("StartWhenSharp1")->trigger();
    const SharpnessChoices stored = readSharpnessChoices();
    EXPECT_TRUE(stored.keepSharpest && stored.startWhenSharp);
    EXPECT_EQ(stored.keepPercent, 25);
    // The clock stands still: the seeing never has the minute's history it is judged by.
    button("butCapture")->click();
    deliver(3);
    EXPECT_EQ(progress(), RecordingController::kWaitingForSharpText);
    expectLocked(true);
    cancel();
    expectLocked(false);
    EXPECT_FALSE(mainWindow_->recorder().busy());
    EXPECT_EQ(fileCount(), 0u);

    // Keeping the sharpest quarter: the frames of one second, four kept of sixteen.
    item("StartWhenSharp1")->trigger();
    button("butCapture")->click();
    deliver(16);
    cancel();
    EXPECT_EQ(le32(readAll(out("moon_00000.SER")), kSerFrameCountOffset), 4);
    EXPECT_TRUE(summaryLabel()->text().contains("sharpest 25 % kept: 4 frames, 12 left out"))
        << summaryLabel()->text().toStdString();
    EXPECT_TRUE(fs::exists(out("moon_00000.quality.csv")));
}

// Every display option on (stretch, automatic stretch, clip mark, reticle, in colour and in
// grey): the recorded samples are the camera's, byte for byte.
TEST_F(CaptureTest, DisplayOptionsLeaveTheRecordedSamplesAlone) {
    createWithPath();
    item("AutoStretch1")->setChecked(true);
    item("ShowClipped1")->setChecked(true);
    item("ReticleCircles")->setChecked(true);
    item("SER8bit1")->trigger();
    count()->setText(QStringLiteral("4"));
    button("butCapture")->click();
    ASSERT_TRUE(recording());
    std::vector<uint8_t> sent;
    for (int i = 0; i < 5; ++i) {
        if (i == 2) item("Col1")->setChecked(false);  // the grey preview too
        now_ += 100;
        FramePtr f = newFrame(width_, height_, "", false, 8);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                f->rawImage.at<uint8_t>(y, x) =
                    static_cast<uint8_t>((x * 7 + y * 3 + i * 50) % 256);
        if (i < 4)
            for (int y = 0; y < height_; ++y)
                sent.insert(sent.end(), f->rawImage.ptr<uint8_t>(y),
                            f->rawImage.ptr<uint8_t>(y) + width_);
        mainWindow_->frameReady(std::move(f));
        mainWindow_->recorder().waitForWriter();
    }
    EXPECT_FALSE(recording());
    const auto bytes = readAll(out("moon_00000.SER"));
    ASSERT_EQ(bytes.size(), size_t(kSerHeaderSize) + 4 * (width_ * height_ + 8));
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), bytes.begin() + kSerHeaderSize));
}
