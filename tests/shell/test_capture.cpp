// The capture commands of the main window against the fake camera: the real handlers, the
// real frame hand-off and a settable clock.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "FakeCamera.h"
#include "ShellTestEnv.h"
#include "acquisition/CaptureThread.h"
#include "controls/CodecDialog.h"
#include "controls/OutputNameDialog.h"
#include "platform/Clock.h"
#include "platform/Halt.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "shell/CapturePath.h"
#include "shell/Main.h"

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
        if (form) {
            // The exposure still pending is finished, so the thread ends at once.
            form->Capture->Running = false;
            cam.Release();
        }
        form.reset();
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
        form = std::make_unique<MainWindow>();
        form->SplashDelayMs = 0;
        form->FormCreate();
        ASSERT_TRUE(cam.WaitForExposure(10000));
        width = form->Capture->ActiveWidth;
        height = form->Capture->ActiveHeight;
        ASSERT_GT(width, 0);
    }
    void CreateWithPath() { Create(folder + QStringLiteral("/moon")); }
    // One frame from the camera, handled by the window's frame hand-off.
    void Deliver(int count = 1) {
        for (int i = 0; i < count; ++i) {
            Frame* f = NewFrame(width, height, "", false, 8);
            std::fill(FrameData(f), FrameData(f) + FrameDataSize(f), uint8_t(40 + i));
            form->FrameReady(f);
        }
    }
    std::string Out(const std::string& name) const { return folder.toStdString() + "/" + name; }
    size_t FileCount() const {
        const fs::directory_iterator it(folder.toStdString());
        return std::distance(fs::begin(it), fs::end(it));
    }
    QString Progress() const { return form->StatusPanel(0)->text(); }
    bool Recording() const { return form->Capture->Recording.load() != 0; }
    // What a recording shows while it runs, and gives back when it ends.
    void ExpectLocked(bool locked) const {
        EXPECT_EQ(form->CancelButton->isHidden(), !locked);
        EXPECT_EQ(form->butCapture->isEnabled(), !locked);
        EXPECT_EQ(form->Button3->isEnabled(), !locked);
        for (QAction* a : {form->SER8bit1, form->AVI2, form->FIT1, form->BMP1, form->SER1,
                           form->AVI1, form->FIT2, form->BMP2})
            EXPECT_EQ(a->isEnabled(), !locked) << a->objectName().toStdString();
    }

    TempConfig config;
    tvtest::FakeCamera cam{64, 48, "Test Cam"};
    std::unique_ptr<MainWindow> form;
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
    EXPECT_FALSE(form->butCapture->isEnabled());
    form->butCaptureClick();
    form->Button3Click();
    EXPECT_EQ(messages, (std::vector<std::string>{"Error opening AVI/SER file",
                                                  "Please set file parameters first"}));
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(form->Recorder->busy());
    EXPECT_TRUE(form->CancelButton->isHidden());
}

TEST_F(CaptureTest, CountOfFiveSerCountsDownAndShowsTheSummary) {
    CreateWithPath();
    form->SER8bit1->trigger();
    form->expos->setText(QStringLiteral("5"));
    form->butCapture->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    EXPECT_TRUE(Recording());
    ExpectLocked(true);
    EXPECT_TRUE(form->HTMLabel1->isHidden());

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
    EXPECT_FALSE(form->Panel10->isHidden());
    EXPECT_FALSE(form->HTMLabel1->isHidden());
    // 600 ms + 1, five frames.
    EXPECT_TRUE(form->HTMLabel1->text().contains(" 0.6 s"))
        << form->HTMLabel1->text().toStdString();
    EXPECT_TRUE(form->HTMLabel1->text().contains(" 8.3</P>"));
    EXPECT_FALSE(form->StatusPanel(2)->text().isEmpty());

    const auto bytes = ReadAll(Out("moon_00000.SER"));
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 5);
    EXPECT_EQ(bytes.size(), size_t(SerHeaderSize) + 5 * (width * height + 8));

    // The next recording takes the next number.
    form->expos->setText(QStringLiteral("1"));
    form->butCaptureClick();
    Deliver(2);
    EXPECT_EQ(Le32(ReadAll(Out("moon_00001.SER")), SerFrameCountOffset), 1);
}

TEST_F(CaptureTest, CountOfOneAviWritesOneFramePart) {
    CreateWithPath();
    form->AVI2->trigger();
    form->expos->setText(QStringLiteral("1"));
    form->butCaptureClick();
    ASSERT_TRUE(messages.empty()) << messages[0];
    Deliver();
    EXPECT_TRUE(Recording());
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(form->Recorder->framesWritten(), 1);
    EXPECT_TRUE(fs::exists(Out("moon_00000-PART1.AVI")));
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(CaptureTest, ContinuousFitSeriesRunsUntilCancel) {
    CreateWithPath();
    form->expos->setText(QStringLiteral("0"));
    form->Button3->click();
    Deliver(3);
    EXPECT_EQ(Progress(), QString::fromLatin1(RecordingController::ContinuousText));
    form->CancelButtonClick();
    EXPECT_EQ(NextRecordTick, 0u);
    EXPECT_TRUE(Recording());  // ends at the next frame
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(FileCount(), 3u);
    EXPECT_TRUE(fs::exists(Out("moon_00002.FIT")));
}

TEST_F(CaptureTest, TimedZeroSecondsWritesNothingAndShowsRateZero) {
    CreateWithPath();
    form->exposUnit->setCurrentIndex(1);
    form->expos->setText(QStringLiteral("0"));
    form->Button3Click();
    EXPECT_TRUE(Recording());
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(FileCount(), 0u);
    EXPECT_TRUE(form->HTMLabel1->text().contains("<B>FPS:</B> 0.0"))
        << form->HTMLabel1->text().toStdString();
}

TEST_F(CaptureTest, PauseHoldsFramesBackButCancelDoesNotWait) {
    CreateWithPath();
    form->pse->setText(QStringLiteral("2"));  // unit " sec" at start
    EXPECT_EQ(FramePause, 2000);
    form->pseUnit->setCurrentIndex(0);
    EXPECT_EQ(FramePause, 2);
    form->pseUnit->setCurrentIndex(1);
    form->SER8bit1Click();
    form->expos->setText(QStringLiteral("0"));
    form->butCaptureClick();
    Deliver();  // at once
    now += 1000;
    Deliver();
    now += 999;
    Deliver();
    EXPECT_EQ(form->Recorder->framesWritten(), 1);
    now += 1;  // 2000 ms after the first
    Deliver();
    EXPECT_EQ(form->Recorder->framesWritten(), 2);
    now += 500;
    form->CancelButtonClick();
    now += 100;
    Deliver();  // 600 ms after the last step, yet due
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Le32(ReadAll(Out("moon_00000.SER")), SerFrameCountOffset), 2);
}

TEST_F(CaptureTest, StoredNegativeCount) {
    Create(folder + QStringLiteral("/moon"), QStringLiteral("-5"));
    EXPECT_EQ(form->expos->text(), "-5");
    // SER and AVI take its absolute value ...
    form->SER8bit1Click();
    form->butCaptureClick();
    Deliver(6);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Le32(ReadAll(Out("moon_00000.SER")), SerFrameCountOffset), 5);
    // ... a FIT series ends at its first step without writing.
    form->FIT1Click();
    form->Button3Click();
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(CaptureTest, EmptyCountIsAConversionErrorAndRecordsNothing) {
    CreateWithPath();
    form->expos->clear();
    form->Button3Click();
    form->SER8bit1Click();
    form->butCaptureClick();
    EXPECT_EQ(messages, (std::vector<std::string>(2, "'' is not a valid integer value")));
    EXPECT_FALSE(Recording());
    EXPECT_FALSE(form->Recorder->busy());
    ExpectLocked(false);
    Deliver();
    EXPECT_EQ(FileCount(), 0u);
}

TEST_F(CaptureTest, FormatItemsSwitchTheButtonsAndLockDuringARecording) {
    CreateWithPath();
    EXPECT_EQ(form->SelectedFormat, CaptureFormat::Fit);
    EXPECT_TRUE(form->FIT1->isChecked());
    form->AVI2->trigger();
    EXPECT_FALSE(form->butCapture->isHidden());
    EXPECT_TRUE(form->Button3->isHidden());
    EXPECT_EQ(form->butCapture->text(), "AVI");
    EXPECT_TRUE(form->AVI1->isChecked());
    EXPECT_EQ(form->SelectedFormat, CaptureFormat::Avi);
    form->BMP1->trigger();
    EXPECT_TRUE(form->butCapture->isHidden());
    EXPECT_FALSE(form->Button3->isHidden());
    EXPECT_EQ(form->Button3->text(), "BMP");
    EXPECT_TRUE(form->BMP2->isChecked());
    EXPECT_EQ(form->SelectedFormat, CaptureFormat::Bmp);

    // The codec items; choosing SER leaves the codec alone.
    form->Askwhenopening1->trigger();
    EXPECT_EQ(form->Recorder->avi().codec(), CodecAsk);
    form->SER1->trigger();  // the hidden twin
    EXPECT_TRUE(form->SER8bit1->isChecked());
    EXPECT_EQ(form->butCapture->text(), "SER");
    EXPECT_EQ(form->Recorder->avi().codec(), CodecAsk);
    form->IRAW->trigger();
    EXPECT_EQ(form->Recorder->avi().codec(), 1448433993);
    EXPECT_TRUE(form->IRAW->isChecked());

    // A running SER recording keeps its format.
    form->expos->setText(QStringLiteral("2"));
    form->butCaptureClick();
    form->BMP1->trigger();
    form->BMP1Click();
    EXPECT_EQ(form->SelectedFormat, CaptureFormat::Ser);
    EXPECT_TRUE(form->SER8bit1->isChecked());
    form->butCaptureClick();  // ignored while one runs
    Deliver(3);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Le32(ReadAll(Out("moon_00000.SER")), SerFrameCountOffset), 2);
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(CaptureTest, CountPopupSetsTheFieldAndKeepsTheUnit) {
    CreateWithPath();
    form->exposUnit->setCurrentIndex(1);
    form->N201->trigger();
    EXPECT_EQ(form->expos->text(), "20");
    EXPECT_EQ(form->Saved.EXPOCOUNT, "20");
    form->Button3Click();
    EXPECT_EQ(form->Recorder->framesToGo(), CountTimed);
    EXPECT_EQ(form->Recorder->endTime(), now + 20000);
    form->CancelButtonClick();
    Deliver();
}

TEST_F(CaptureTest, CaptureLocationAndFilename) {
    Create(QStringLiteral("  /obs/moon  "));
    EXPECT_EQ(form->CapturePath, "/obs/moon");
    EXPECT_EQ(form->CaptureDirectory, "/obs");
    EXPECT_EQ(form->Form5->baseName(), "moon");

    // Cancel in the folder dialog changes nothing; the root keeps its one "/".
    form->ChooseFolder = [](QWidget*) { return QString(); };
    form->SetCaptureLocation1Click();
    EXPECT_EQ(form->CapturePath, "/obs/moon");
    form->ChooseFolder = [](QWidget*) { return QStringLiteral("/"); };
    form->SetCaptureLocation1->trigger();
    EXPECT_EQ(form->CapturePath, "/moon");
    EXPECT_EQ(form->Saved.FILENAME, "/moon");

    // Set Capture Filename, then Cancel: split and joined again unchanged.
    QTimer::singleShot(0, form->Form5->findChild<QPushButton*>("Button2"), &QPushButton::click);
    form->SetCaptureFilename1Click();
    EXPECT_EQ(form->CapturePath, "/moon");
    // OK with an empty name gives CAPTURE.
    QTimer::singleShot(0, form.get(), [this] {
        form->Form5->findChild<QLineEdit*>("Edit1")->clear();
        form->Form5->findChild<QPushButton*>("Button1")->click();
    });
    form->SetCaptureFilename1->trigger();
    EXPECT_EQ(form->CapturePath, "/CAPTURE");
}

TEST_F(CaptureTest, FirstRunNeedsFolderAndNameInEitherOrder) {
    Create(QString());
    QTimer::singleShot(0, form.get(), [this] {
        form->Form5->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("jupiter"));
        form->Form5->findChild<QPushButton*>("Button1")->click();
    });
    form->SetCaptureFilename1Click();
    EXPECT_EQ(form->CapturePath, "");
    EXPECT_FALSE(form->Button3->isEnabled());
    const QString chosen = folder + QStringLiteral("/");
    form->ChooseFolder = [chosen](QWidget*) { return chosen; };
    form->SetCaptureLocation1Click();
    EXPECT_EQ(form->CapturePath, folder + QStringLiteral("/jupiter"));
    EXPECT_TRUE(form->Button3->isEnabled());
    EXPECT_TRUE(form->butCapture->isEnabled());
}

TEST_F(CaptureTest, AFailedWriteStopsTheRecordingAndSaysWhy) {
    CreateWithPath();
    form->expos->setText(QStringLiteral("10"));
    form->Button3Click();
    Deliver(2);
    fs::remove_all(folder.toStdString());  // the folder goes away
    Deliver();
    EXPECT_FALSE(Recording());
    EXPECT_TRUE(form->CancelButton->isHidden());
    EXPECT_TRUE(form->HTMLabel1->text().contains(" 0.0 s"))
        << form->HTMLabel1->text().toStdString();
    QApplication::processEvents();  // the message follows the hand-off
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("after 2 frames"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find(Out("moon_0000")), std::string::npos) << messages[0];
    EXPECT_EQ(form->Recorder->framesWritten(), 2);
}

TEST_F(CaptureTest, ExitDuringARecordingCompletesTheSerFile) {
    CreateWithPath();
    form->SER8bit1Click();
    form->expos->setText(QStringLiteral("0"));
    form->butCaptureClick();
    Deliver(3);
    // The camera finishes its exposure while the exit procedure waits for it.
    std::thread camera([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cam.Release();
    });
    form->SaveAndStop();
    camera.join();
    EXPECT_FALSE(form->Recorder->busy());
    const auto bytes = ReadAll(Out("moon_00000.SER"));
    EXPECT_EQ(Le32(bytes, SerFrameCountOffset), 3);
    EXPECT_EQ(bytes.size(), size_t(SerHeaderSize) + 3 * (width * height + 8));
}

TEST_F(CaptureTest, AskedCodecCancelledMeansTheOpenFails) {
    CreateWithPath();
    std::string askedFor;
    form->Recorder->avi().setCodecChooser(
        [&](const std::vector<AviCodec>&, const std::string& part, int32_t&) {
            askedFor = part;
            return false;
        });
    form->AVI2Click();
    form->Askwhenopening1Click();
    form->butCaptureClick();
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
