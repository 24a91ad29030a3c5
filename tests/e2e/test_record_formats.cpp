// The main window with the simulated camera library records in each format, driven through
// its controls, and independent readers accept the files: ffprobe for AVI, fitsverify and
// astropy for FITS, ImageMagick for BMP, a byte check of the SER header and trailer.
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
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "ShellTestEnv.h"
#include "acquisition/CameraLib.h"
#include "acquisition/VideoCapture.h"
#include "controls/FileName.h"
#include "platform/Message.h"
#include "recording/AVIExport.h"
#include "recording/SER.h"
#include "shell/Main.h"
#include "shell/TrackBar.h"

namespace fs = std::filesystem;

namespace {
int RunCommand(const std::string& command, std::string& out) {
    out.clear();
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint64_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
    return v;
}

class RecordFormats : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        previous_ = SetMessageHandler([this](const std::string& t) { messages.push_back(t); });
        out = config.Dir().toStdString() + "/captures";
        fs::create_directories(out);
        ASSERT_TRUE(config.WriteIni("[TarviVideo2R]\nEXPOLENGTH=40\n"));
        form = std::make_unique<TForm1>();
        form->SplashDelayMs = 0;
        form->LoadCameraLib = [](std::string* error) {
            return LoadCameraLibraryFrom(TV_BINARY_DIR "/bin/libtarvidll.so", error);
        };
        form->FormCreate();
        ASSERT_TRUE(messages.empty()) << messages[0];
    }
    void TearDown() override {
        form.reset();
        SetMessageHandler(previous_);
    }
    // Runs the event loop until the recording has ended, or `stop` says to cancel it.
    bool WaitForEnd(int timeoutMs, const std::function<bool()>& stop = nullptr) {
        QElapsedTimer t;
        t.start();
        while (form->AviExport->Busy() && t.elapsed() < timeoutMs) {
            if (stop && stop()) form->CancelButton->click();
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return !form->AviExport->Busy();
    }
    std::string File(const std::string& name) const { return out + "/" + name; }

    TempConfig config;
    std::unique_ptr<TForm1> form;
    std::vector<std::string> messages;
    std::string out;
    MessageHandler previous_;
};
}  // namespace

TEST_F(RecordFormats, EachFormatIsReadBackByAnIndependentReader) {
    // The folder through the folder dialog, the base name typed into the name dialog.
    const QString folder = QString::fromStdString(out);
    form->ChooseFolder = [folder](QWidget*) { return folder; };
    form->SetCaptureLocation1->trigger();
    QTimer::singleShot(0, form.get(), [this] {
        form->Form5->Edit1->setText(QStringLiteral("moon"));
        form->Form5->Button1->click();
    });
    form->SetCaptureFilename1->trigger();
    ASSERT_EQ(form->CapturePath, folder + QStringLiteral("/moon"));
    ASSERT_TRUE(form->Button3->isEnabled());

    // SER: five frames.
    form->SER8bit1->trigger();
    form->expos->setText(QStringLiteral("5"));
    form->butCapture->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    ASSERT_TRUE(WaitForEnd(20000));
    const int w = form->Capture->ActiveWidth, h = form->Capture->ActiveHeight;
    {
        const auto ser = ReadAll(File("moon_00000.SER"));
        ASSERT_GE(ser.size(), size_t{SerHeaderSize});
        EXPECT_EQ(std::string(ser.begin(), ser.begin() + 14), "LUCAM-RECORDER");
        EXPECT_EQ(Le(ser, 26, 4), static_cast<uint64_t>(w));
        EXPECT_EQ(Le(ser, 30, 4), static_cast<uint64_t>(h));
        EXPECT_EQ(Le(ser, SerFrameCountOffset, 4), 5u);
        const size_t frames = size_t{SerHeaderSize} + 5 * size_t(w) * h;
        ASSERT_EQ(ser.size(), frames + 5 * 8);
        uint64_t previous = 0;
        for (int i = 0; i < 5; ++i) {
            const uint64_t stamp = Le(ser, frames + 8 * i, 8);
            EXPECT_GT(stamp, 600000000000000000ull);  // after the year 1900
            EXPECT_GE(stamp, previous);
            previous = stamp;
        }
    }
    EXPECT_FALSE(form->HTMLabel1->isHidden());
    EXPECT_TRUE(form->HTMLabel1->text().contains(QStringLiteral("Last Capture")));

    std::string text;
    // AVI: a timed recording of one second.
    form->AVI2->trigger();
    form->exposUnit->setCurrentIndex(1);
    form->expos->setText(QStringLiteral("1"));
    form->butCapture->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    ASSERT_TRUE(WaitForEnd(20000));
    const int aviFrames = FramesWritten;
    EXPECT_GT(aviFrames, 0);
    ASSERT_TRUE(fs::exists(File("moon_00000-PART1.AVI")));  // numbers of SER files are not skipped
    ASSERT_EQ(RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                         "stream=width,height,nb_read_frames -of csv=p=0 " +
                             Quote(File("moon_00000-PART1.AVI")),
                         text),
              0)
        << text;
    EXPECT_EQ(text,
              std::to_string(w) + "," + std::to_string(h) + "," + std::to_string(aviFrames) + "\n");

    // FIT: continuous until Cancel, after three files.
    form->FIT1->trigger();
    form->exposUnit->setCurrentIndex(0);
    form->expos->setText(QStringLiteral("0"));
    form->Button3->click();
    ASSERT_TRUE(messages.empty()) << messages[0];
    ASSERT_TRUE(WaitForEnd(20000, [] { return FramesWritten >= 3; }));
    const int fitFrames = FramesWritten;
    EXPECT_GE(fitFrames, 3);
    for (int i = 0; i < fitFrames; ++i) {
        const std::string name = File("moon_0000" + std::to_string(i) + ".FIT");
        ASSERT_EQ(RunCommand("fitsverify -q -e " + Quote(name), text), 0) << text;
        EXPECT_NE(text.find("verification OK"), std::string::npos) << text;
    }
    EXPECT_FALSE(fs::exists(File("moon_0000" + std::to_string(fitFrames) + ".FIT")));
    ASSERT_EQ(
        RunCommand("/usr/bin/python3 -c \"import sys; from astropy.io import fits; "
                   "d = fits.getdata(sys.argv[1]); print(d.shape[1], d.shape[0], d.dtype.kind)\" " +
                       Quote(File("moon_00000.FIT")),
                   text),
        0)
        << text;
    // astropy warns about the free-text TIMESTAMP card; the data are what count.
    const std::string shape = std::to_string(w) + " " + std::to_string(h) + " u\n";
    EXPECT_TRUE(text.size() >= shape.size() && text.ends_with(shape)) << text;

    // BMP: three colour frames.
    form->BMP1->trigger();
    form->expos->setText(QStringLiteral("3"));
    form->Button3->click();
    ASSERT_TRUE(WaitForEnd(20000));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(RunCommand("identify -format '%m %w %h' " +
                                 Quote(File("moon_0000" + std::to_string(i) + ".BMP")),
                             text),
                  0)
            << text;
        EXPECT_EQ(text.substr(0, 3), "BMP") << text;
        EXPECT_TRUE(text.ends_with(" " + std::to_string(w) + " " + std::to_string(h))) << text;
    }
    EXPECT_FALSE(fs::exists(File("moon_00003.BMP")));
    EXPECT_TRUE(messages.empty()) << messages[0];
}
