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
#include "widgets/CodecDialog.h"
#include "widgets/OutputNameDialog.h"
#include "platform/Clock.h"
#include "platform/HardExit.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "recording/SerWriter.h"
#include "shell/CapturePanel.h"
#include "shell/CapturePath.h"
#include "shell/MainWindow.h"

namespace fs = std::filesystem;

namespace {
std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
int32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int32_t>(v);
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        now = 50000;
        testclock::SetMillis([this] { return now.load(); });
        previous_ = SetMessageHandler([this](const std::string& t) { messages.push_back(t); });
        folder = config.Dir() + QStringLiteral("/out");
        fs::create_directories(folder.toStdString());
    }
    void TearDown() override {
        if (mainWindow) {
            // The exposure still pending is finished, so the thread ends at once.
            mainWindow->capture().requestStop();
            cam.Release();
        }
        mainWindow.reset();
        SetMessageHandler(previous_);
        testclock::SetMillis(nullptr);
    }
    // Starts the window with the stored settings given (FILENAME empty: none stored).
    void Create(const QString& filename, const QString& count = QStringLiteral("1")) {
        QByteArray ini = "[TarviVideo2R]\nEXPOCOUNT=" + count.toUtf8() + "\n";
        if (!filename.isEmpty()) ini += "FILENAME=" + filename.toUtf8() + "\n";
        ASSERT_TRUE(config.WriteIni(ini));
        cam.Install();
        cam.SetCancelReleases(false);  // the tests hand the frames over themselves
        mainWindow = std::make_unique<MainWindow>();
        mainWindow->splashDelayMs = 0;
        mainWindow->start();
        ASSERT_TRUE(cam.WaitForExposure(10000));
        width = mainWindow->capture().status().width;
        height = mainWindow->capture().status().height;
        ASSERT_GT(width, 0);
    }
    void CreateWithPath() { Create(folder + QStringLiteral("/moon")); }
    // One frame from the camera, handled by the window's frame hand-off, and written by
    // the writer thread.
    void Deliver(int count = 1) {
        for (int i = 0; i < count; ++i) {
            FramePtr f = NewFrame(width, height, "", false, 8);
            std::fill(FrameData(f.get()), FrameData(f.get()) + FrameDataSize(f.get()),
                      uint8_t(40 + i));
            mainWindow->frameReady(std::move(f));
            mainWindow->recorder().waitForWriter();
        }
    }
    // The cancel button, and the writer thread closing the output.
    void Cancel() {
        Button("CancelButton")->click();
        mainWindow->recorder().waitForWriter();
    }
    std::string Out(const std::string& name) const { return folder.toStdString() + "/" + name; }
    // The recorded files; the capture log beside each recording is not counted.
    size_t FileCount() const {
        const fs::directory_iterator it(folder.toStdString());
        return std::count_if(fs::begin(it), fs::end(it), [](const fs::directory_entry& e) {
            return e.path().extension() != ".txt";
        });
    }
    QString Progress() const { return W<QLabel>("StatusPanel0")->text(); }
    bool Recording() const { return mainWindow->capture().recording(); }
    // A widget, menu item or menu of the window by its object name.
    template <class T>
    T* W(const char* name) const {
        return Find<T>(*mainWindow, name);
    }
    QAction* Item(const char* name) const { return W<QAction>(name); }
    QPushButton* Button(const char* name) const { return W<QPushButton>(name); }
    QLineEdit* Count() const { return W<QLineEdit>("expos"); }
    QLabel* Summary() const { return W<QLabel>("HTMLabel1"); }
    CapturePanel& Panel() const { return mainWindow->capturePanel(); }
    OutputNameDialog* NameDialog() const { return mainWindow->outputNameDialog(); }
    // What a recording shows while it runs, and gives back when it ends.
    void ExpectLocked(bool locked) const {
        EXPECT_EQ(Button("CancelButton")->isHidden(), !locked);
        EXPECT_EQ(Button("butCapture")->isEnabled(), !locked);
        EXPECT_EQ(Button("Button3")->isEnabled(), !locked);
        for (const char* name :
             {"SER8bit1", "AVI2", "FIT1", "BMP1", "SER1", "AVI1", "FIT2", "BMP2"})
            EXPECT_EQ(Item(name)->isEnabled(), !locked) << name;
    }

    TempConfig config;
    tvtest::FakeCamera cam{64, 48, "Test Cam"};
    std::unique_ptr<MainWindow> mainWindow;
    std::atomic<uint32_t> now{0};
    std::vector<std::string> messages;
    QString folder;
    int width = 0, height = 0;
    MessageHandler previous_;
};
}  // namespace

TEST(CapturePathText, SplitJoinTrimAndFolder) {
    QString dir, base;
    SplitPath(QStringLiteral("/obs/moon"), dir, base);
    EXPECT_EQ(dir, "/obs");
    EXPECT_EQ(base, "moon");
    SplitPath(QStringLiteral("/moon"), dir, base);
    EXPECT_EQ(dir, "/");
    EXPECT_EQ(base, "moon");
    SplitPath(QStringLiteral("moon"), dir, base);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(base, "moon");
    SplitPath(QStringLiteral("/obs/"), dir, base);
    EXPECT_EQ(dir, "/obs");
    EXPECT_EQ(base, "");

    EXPECT_EQ(JoinPath("/obs", "moon"), "/obs/moon");
    EXPECT_EQ(JoinPath("/", "CAPTURE"), "/CAPTURE");
    EXPECT_EQ(JoinPath("", "moon"), "");
    EXPECT_EQ(JoinPath("/obs", ""), "");

    EXPECT_EQ(TrimBlanks(QStringLiteral("  \t/obs/moon\x01 \n")), "/obs/moon");
    EXPECT_EQ(TrimBlanks(QStringLiteral(" \x02 ")), "");
    EXPECT_EQ(FolderOf("/obs/"), "/obs");
    EXPECT_EQ(FolderOf("/"), "/");

    const QString summary = LastCaptureText(2.25, 10.0);
    EXPECT_TRUE(summary.contains("<B>Last Capture</B>"));
    EXPECT_TRUE(summary.contains(" 2.2 s") || summary.contains(" 2,2 s")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("10.0") || summary.contains("10,0"));
}

TEST_F(CaptureTest, CommandsWithoutAPathOnlyComplain) {
    Create(QString());
    EXPECT_FALSE(Button("butCapture")->isEnabled());
    // The buttons are disabled; the commands behind them still refuse on their own.
    Panel().startSequence();
    Panel().startStillSeries();
    EXPECT_EQ(messages, (std::vector<std::string>{"Error opening AVI/SER file",
                                                  "Please set file parameters first"}));
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(mainWindow->recorder().busy());
    EXPECT_TRUE(Button("CancelButton")->isHidden());
}

TEST_F(CaptureTest, CountOfFiveSerCountsDownAndShowsTheSummary) {
    CreateWithPath();
    Item("SER8bit1")->trigger();
    Count()->setText(QStringLiteral("5"));
    Button("butCapture")->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    EXPECT_TRUE(Recording());
    ExpectLocked(true);
    EXPECT_TRUE(Summary()->isHidden());

    std::vector<QString> texts;
    for (int i = 0; i < 5; ++i) {
        now += 100;
        Deliver();
        texts.push_back(Progress());
    }
    EXPECT_EQ(texts, (std::vector<QString>{"4 Frames left", "3 Frames left", "2 Frames left",
                                           "1 Frames left", "1 Frames left"}));
    EXPECT_TRUE(Recording());
    now += 100;
    Deliver();  // closes
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Progress(), "");
    ExpectLocked(false);
    EXPECT_FALSE(W<QFrame>("Panel10")->isHidden());
    EXPECT_FALSE(Summary()->isHidden());
    // 600 ms + 1, five frames.
    EXPECT_TRUE(Summary()->text().contains(" 0.6 s")) << Summary()->text().toStdString();
    EXPECT_TRUE(Summary()->text().contains(" 8.3<br>")) << Summary()->text().toStdString();
    EXPECT_FALSE(W<QLabel>("StatusPanel2")->text().isEmpty());

    const auto bytes = ReadAll(Out("moon_00000.SER"));
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 5);
    EXPECT_EQ(bytes.size(), size_t(SerHeaderSize) + 5 * (width * height + 8));

    // The next recording takes the next number.
    Count()->setText(QStringLiteral("1"));
    Button("butCapture")->click();
    Deliver(2);
    EXPECT_EQ(Le32(ReadAll(Out("moon_00001.SER")), SerFrameCountOffset), 1);
}

TEST_F(CaptureTest, CountOfOneAviWritesOneFramePart) {
    CreateWithPath();
    Item("AVI2")->trigger();
    Count()->setText(QStringLiteral("1"));
    Button("butCapture")->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    Deliver();
    EXPECT_TRUE(Recording());
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(mainWindow->recorder().framesWritten(), 1);
    EXPECT_TRUE(fs::exists(Out("moon_00000-PART1.AVI")));
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(CaptureTest, ContinuousFitSeriesRunsUntilCancel) {
    CreateWithPath();
    Count()->setText(QStringLiteral("0"));
    Button("Button3")->click();
    Deliver(3);
    EXPECT_EQ(Progress(), QString::fromLatin1(RecordingController::ContinuousText));
    Cancel();
    EXPECT_FALSE(Recording());  // at once, not at the next frame
    ExpectLocked(false);
    Deliver();
    EXPECT_EQ(FileCount(), 3u);
    EXPECT_TRUE(fs::exists(Out("moon_00002.FIT")));
}

TEST_F(CaptureTest, TimedZeroSecondsWritesNothingAndShowsRateZero) {
    CreateWithPath();
    W<QComboBox>("exposUnit")->setCurrentIndex(1);
    Count()->setText(QStringLiteral("0"));
    Button("Button3")->click();
    EXPECT_TRUE(Recording());
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(FileCount(), 0u);
    EXPECT_TRUE(Summary()->text().contains("<B>FPS:</B> 0.0")) << Summary()->text().toStdString();
}

TEST_F(CaptureTest, PauseHoldsFramesBackButCancelDoesNotWait) {
    CreateWithPath();
    W<QLineEdit>("pse")->setText(QStringLiteral("2"));  // unit " sec" at start
    Item("SER8bit1")->trigger();
    Count()->setText(QStringLiteral("0"));
    Button("butCapture")->click();
    Deliver();  // at once
    now += 1000;
    Deliver();
    now += 999;
    Deliver();
    EXPECT_EQ(mainWindow->recorder().framesWritten(), 1);
    now += 1;  // 2000 ms after the first
    Deliver();
    EXPECT_EQ(mainWindow->recorder().framesWritten(), 2);
    now += 500;
    Cancel();  // ends without waiting out the pause
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Le32(ReadAll(Out("moon_00000.SER")), SerFrameCountOffset), 2);

    // The unit " ms": 2 ms between recorded frames.
    W<QComboBox>("pseUnit")->setCurrentIndex(0);
    Button("butCapture")->click();
    Deliver();
    now += 1;
    Deliver();
    EXPECT_EQ(mainWindow->recorder().framesWritten(), 1);
    now += 1;
    Deliver();
    EXPECT_EQ(mainWindow->recorder().framesWritten(), 2);
    Cancel();
    EXPECT_FALSE(Recording());
}

TEST_F(CaptureTest, StoredNegativeCount) {
    Create(folder + QStringLiteral("/moon"), QStringLiteral("-5"));
    EXPECT_EQ(Count()->text(), "-5");
    // Every format takes its absolute value.
    Item("SER8bit1")->trigger();
    Button("butCapture")->click();
    Deliver(6);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Le32(ReadAll(Out("moon_00000.SER")), SerFrameCountOffset), 5);
    Item("FIT1")->trigger();
    Button("Button3")->click();
    Deliver(6);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(FileCount(), 6u);
}

// A camera that sends no more frames (stalled, or a long exposure) does not hold a
// recording open: Cancel finishes it at once, a timed one ends on time, each with a complete
// file and the summary, which counts the gaps in the frames' time stamps.
TEST_F(CaptureTest, CancelAndTimedEndFinishWithoutAnotherFrame) {
    CreateWithPath();
    Item("SER8bit1")->trigger();
    Count()->setText(QStringLiteral("0"));
    Button("butCapture")->click();
    Deliver(2);
    Cancel();
    EXPECT_FALSE(Recording());
    ExpectLocked(false);
    const auto bytes = ReadAll(Out("moon_00000.SER"));
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 2);
    EXPECT_EQ(bytes.size(), size_t(SerHeaderSize) + 2 * (width * height + 8));  // trailer too

    W<QComboBox>("exposUnit")->setCurrentIndex(1);
    Count()->setText(QStringLiteral("2"));
    Button("butCapture")->click();
    // Frames 0.1 s apart with one of 0.5 s.
    for (double t : {1.0, 1.1, 1.2, 1.7, 1.8, 1.9}) {
        FramePtr f = NewFrame(width, height, "", false, 8);
        f->TimeStamp = (100000.0 + t) / 86400.0;
        mainWindow->frameReady(std::move(f));
        mainWindow->recorder().waitForWriter();
    }
    now += 2000;
    QElapsedTimer waited;
    waited.start();
    while (mainWindow->recorder().busy() && waited.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Le32(ReadAll(Out("moon_00001.SER")), SerFrameCountOffset), 6);
    const QString summary = Summary()->text();
    EXPECT_TRUE(summary.contains("<br>1 gap, longest 0.5 s</P>") ||
                summary.contains("<br>1 gap, longest 0,5 s</P>"))
        << summary.toStdString();
}

TEST_F(CaptureTest, EmptyCountIsAConversionErrorAndRecordsNothing) {
    CreateWithPath();
    Count()->clear();
    Button("Button3")->click();
    Item("SER8bit1")->trigger();
    Button("butCapture")->click();
    EXPECT_EQ(messages, (std::vector<std::string>(2, "'' is not a valid integer value")));
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(mainWindow->recorder().busy());
    ExpectLocked(false);
    Deliver();
    EXPECT_EQ(FileCount(), 0u);
}

// A screen reader sees the capture buttons' format pop-up as four shown items and can pick a
// format with their press action.
TEST_F(CaptureTest, TheFormatPopUpIsUsableThroughTheAccessibilityInterface) {
    CreateWithPath();
    // A tool that reads the whole window meets the hidden "Set Capture Format" menu first.
    QAccessibleInterface* hidden =
        QAccessible::queryAccessibleInterface(W<QMenu>("SetCaptureFormat1"));
    for (int i = 0; i < hidden->childCount(); ++i) EXPECT_TRUE(hidden->child(i)->state().invisible);
    QMenu* popup = W<QMenu>("SERAVI");
    popup->popup(Button("Button3")->mapToGlobal(QPoint(5, 5)));
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
    EXPECT_EQ(Panel().format(), CaptureFormat::Avi);
    EXPECT_TRUE(Item("AVI1")->isChecked());  // the menu bar's twin follows
    EXPECT_FALSE(Button("butCapture")->isHidden());
}

TEST_F(CaptureTest, FormatItemsSwitchTheButtonsAndLockDuringARecording) {
    CreateWithPath();
    EXPECT_EQ(Panel().format(), CaptureFormat::Fit);
    EXPECT_TRUE(Item("FIT1")->isChecked());
    Item("AVI2")->trigger();
    EXPECT_FALSE(Button("butCapture")->isHidden());
    EXPECT_TRUE(Button("Button3")->isHidden());
    EXPECT_EQ(Button("butCapture")->text(), "AVI");
    // The hidden "Set Capture Format" menu has four items of its own, checked in step.
    EXPECT_EQ(W<QMenu>("SetCaptureFormat1")->actions().size(), 4);
    EXPECT_TRUE(Item("AVI1")->isChecked());
    EXPECT_FALSE(Item("FIT2")->isChecked());
    EXPECT_EQ(Panel().format(), CaptureFormat::Avi);
    Item("BMP1")->trigger();
    EXPECT_TRUE(Button("butCapture")->isHidden());
    EXPECT_FALSE(Button("Button3")->isHidden());
    EXPECT_EQ(Button("Button3")->text(), "BMP");
    EXPECT_EQ(Panel().format(), CaptureFormat::Bmp);

    // The codec items; choosing SER leaves the codec alone.
    Item("Askwhenopening1")->trigger();
    EXPECT_EQ(mainWindow->recorder().avi().codec(), CodecAsk);
    Item("SER1")->trigger();  // SER, from the menu bar
    EXPECT_TRUE(Item("SER8bit1")->isChecked());
    EXPECT_EQ(Button("butCapture")->text(), "SER");
    EXPECT_EQ(mainWindow->recorder().avi().codec(), CodecAsk);
    Item("IRAW")->trigger();
    EXPECT_EQ(mainWindow->recorder().avi().codec(), 1448433993);
    EXPECT_TRUE(Item("IRAW")->isChecked());

    // A running SER recording keeps its format.
    Count()->setText(QStringLiteral("2"));
    Button("butCapture")->click();
    Item("BMP1")->trigger();
    Panel().selectFormat(CaptureFormat::Bmp);
    EXPECT_EQ(Panel().format(), CaptureFormat::Ser);
    EXPECT_TRUE(Item("SER8bit1")->isChecked());
    Panel().startSequence();  // ignored while one runs (the button is disabled meanwhile)
    Deliver(3);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Le32(ReadAll(Out("moon_00000.SER")), SerFrameCountOffset), 2);
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(CaptureTest, CountPopupSetsTheFieldAndKeepsTheUnit) {
    CreateWithPath();
    W<QComboBox>("exposUnit")->setCurrentIndex(1);
    Item("N201")->trigger();
    EXPECT_EQ(Count()->text(), "20");
    EXPECT_EQ(mainWindow->storedSettings().frameCountText, "20");
    Button("Button3")->click();
    EXPECT_EQ(mainWindow->recorder().framesToGo(), CountTimed);
    EXPECT_EQ(mainWindow->recorder().endTime(), now + 20000);
    Cancel();
    Deliver();
}

TEST_F(CaptureTest, CaptureLocationAndFilename) {
    Create(QStringLiteral("  /obs/moon  "));
    EXPECT_EQ(Panel().capturePath(), "/obs/moon");
    EXPECT_EQ(NameDialog()->baseName(), "moon");

    // Cancel in the folder dialog changes nothing; the root keeps its one "/".
    Panel().chooseFolder = [](QWidget*) { return QString(); };
    Item("SetCaptureLocation1")->trigger();
    EXPECT_EQ(Panel().capturePath(), "/obs/moon");
    Panel().chooseFolder = [](QWidget*) { return QStringLiteral("/"); };
    Item("SetCaptureLocation1")->trigger();
    EXPECT_EQ(Panel().capturePath(), "/moon");
    EXPECT_EQ(mainWindow->storedSettings().capturePath, "/moon");

    // Set Capture Filename, then Cancel: split and joined again unchanged.
    QTimer::singleShot(0, NameDialog()->findChild<QPushButton*>("Button2"), &QPushButton::click);
    Item("SetCaptureFilename1")->trigger();
    EXPECT_EQ(Panel().capturePath(), "/moon");
    // OK with an empty name gives CAPTURE.
    QTimer::singleShot(0, mainWindow.get(), [this] {
        NameDialog()->findChild<QLineEdit*>("Edit1")->clear();
        NameDialog()->findChild<QPushButton*>("Button1")->click();
    });
    Item("SetCaptureFilename1")->trigger();
    EXPECT_EQ(Panel().capturePath(), "/CAPTURE");
}

TEST_F(CaptureTest, FirstRunNeedsFolderAndNameInEitherOrder) {
    Create(QString());
    QTimer::singleShot(0, mainWindow.get(), [this] {
        NameDialog()->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("jupiter"));
        NameDialog()->findChild<QPushButton*>("Button1")->click();
    });
    Item("SetCaptureFilename1")->trigger();
    EXPECT_EQ(Panel().capturePath(), "");
    EXPECT_FALSE(Button("Button3")->isEnabled());
    const QString chosen = folder + QStringLiteral("/");
    Panel().chooseFolder = [chosen](QWidget*) { return chosen; };
    Item("SetCaptureLocation1")->trigger();
    EXPECT_EQ(Panel().capturePath(), folder + QStringLiteral("/jupiter"));
    EXPECT_TRUE(Button("Button3")->isEnabled());
    EXPECT_TRUE(Button("butCapture")->isEnabled());
}

TEST_F(CaptureTest, AFailedWriteStopsTheRecordingAndSaysWhy) {
    CreateWithPath();
    Count()->setText(QStringLiteral("10"));
    Button("Button3")->click();
    Deliver(2);
    fs::remove_all(folder.toStdString());  // the folder goes away
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_TRUE(Button("CancelButton")->isHidden());
    EXPECT_TRUE(Summary()->text().contains(" 0.0 s")) << Summary()->text().toStdString();
    QApplication::processEvents();  // the message follows the hand-off
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("after 2 frames"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find(Out("moon_0000")), std::string::npos) << messages[0];
    EXPECT_EQ(mainWindow->recorder().framesWritten(), 2);
}

TEST_F(CaptureTest, ExitDuringARecordingCompletesTheSerFile) {
    CreateWithPath();
    Item("SER8bit1")->trigger();
    Count()->setText(QStringLiteral("0"));
    Button("butCapture")->click();
    Deliver(3);
    // The camera finishes its exposure while the exit procedure waits for it.
    std::thread camera([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cam.Release();
    });
    mainWindow->saveAndStop();
    camera.join();
    EXPECT_FALSE(mainWindow->recorder().busy());
    const auto bytes = ReadAll(Out("moon_00000.SER"));
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 3);
    EXPECT_EQ(bytes.size(), size_t(SerHeaderSize) + 3 * (width * height + 8));
}

TEST_F(CaptureTest, AskedCodecCancelledMeansTheOpenFails) {
    CreateWithPath();
    std::string askedFor;
    mainWindow->recorder().avi().setCodecChooser(
        [&](const std::vector<AviCodec>&, const std::string& part, int32_t&) {
            askedFor = part;
            return false;
        });
    Item("AVI2")->trigger();
    Item("Askwhenopening1")->trigger();
    Button("butCapture")->click();
    EXPECT_EQ(askedFor, Out("moon_00000-PART1.AVI"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Error opening AVI/SER file\n\n", 0), 0u) << messages[0];
    EXPECT_FALSE(Recording());
    ExpectLocked(false);
}

TEST(CodecDialog, OffersTheCodecsAndReturnsTheChoice) {
    EnsureApp();
    const std::vector<AviCodec> offered = {{0, "Uncompressed", true, true},
                                           {PackFourCC('M', 'J', 'P', 'G'), "MJPG", true, true}};
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
    EXPECT_TRUE(ChooseCodec(nullptr, offered, "p.AVI", fourcc));
    EXPECT_EQ(fourcc, PackFourCC('M', 'J', 'P', 'G'));
    // The last choice comes first next time; Cancel gives no codec.
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->findChild<QListWidget*>()->currentRow(), 1);
        d->reject();
    });
    EXPECT_FALSE(ChooseCodec(nullptr, offered, "p.AVI", fourcc));
    EXPECT_FALSE(ChooseCodec(nullptr, {}, "p.AVI", fourcc));
}

TEST_F(CaptureTest, DiskPanelShowsTheCaptureFolderSpaceAndTheTimeLeftWhileRecording) {
    Create(QString());
    mainWindow->updateDiskStatus();
    EXPECT_EQ(W<QLabel>("StatusPanel3")->text(), "");  // no capture folder yet
    mainWindow.reset();
    CreateWithPath();
    mainWindow->updateDiskStatus();
    const QString idle = W<QLabel>("StatusPanel3")->text();
    EXPECT_TRUE(idle.startsWith("Disk ") && idle.endsWith(" GB free")) << idle.toStdString();

    // A continuous SER recording: after a few seconds of frames the time left joins in.
    Count()->setText("0");
    Item("SER8bit1")->trigger();
    Button("butCapture")->click();
    ASSERT_TRUE(Recording());
    for (int step = 0; step < 4; ++step) {
        now += 1000;
        Deliver(3);
        mainWindow->updateDiskStatus();
    }
    const QString busy = W<QLabel>("StatusPanel3")->text();
    EXPECT_TRUE(busy.contains(" GB free, ") && busy.endsWith(" left")) << busy.toStdString();
    Cancel();
}
