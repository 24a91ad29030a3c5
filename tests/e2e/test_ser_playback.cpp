// Frames in = frames out: the SER playback camera feeds the main window a file of distinct
// frames, and the SER, AVI (uncompressed) and FIT recordings hold source frames only, in
// order, none missing, none twice, bit for bit (uncompressed grey AVI included). Also: a SER
// recording cut short by a kill is completed at the next start, named on the status bar.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "ShellTestEnv.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "recording/RecoveryJournal.h"
#include "recording/SerWriter.h"
#include "shell/MainWindow.h"

namespace fs = std::filesystem;
namespace {
constexpr int kW = 64, kH = 48, kFrames = 120;
using Pixels = std::vector<uint8_t>;

// Source frame i: a pattern that differs from every other frame's in every sample.
Pixels sourceFrame(int i) {
    Pixels p(static_cast<size_t>(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) p[y * kW + x] = static_cast<uint8_t>(x * 3 + y * 5 + i * 11);
    return p;
}

// An 8-bit mono SER file of the source frames (header, frames, no trailer).
bool writeSource(const std::string& path) {
    std::vector<uint8_t> header(kSerHeaderSize, 0);
    std::memcpy(header.data(), "LUCAM-RECORDER", 14);
    const int32_t fields[] = {kW, kH, 8, kFrames};
    std::memcpy(header.data() + 26, fields, sizeof fields);  // little-endian machine
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    for (int i = 0; i < kFrames; ++i) {
        const Pixels p = sourceFrame(i);
        out.write(reinterpret_cast<const char*>(p.data()), p.size());
    }
    return static_cast<bool>(out);
}

// The source frame a recorded frame is, bit for bit (its index), or -1.
int sourceIndex(const Pixels& frame) {
    for (int i = 0; i < kFrames; ++i)
        if (frame == sourceFrame(i)) return i;
    return -1;
}

// Every frame is a source frame, and each follows the one before it in the source (which
// starts again after its last frame).
void expectConsecutive(const std::vector<int>& indices, const char* what) {
    ASSERT_FALSE(indices.empty()) << what;
    for (size_t k = 0; k < indices.size(); ++k) {
        ASSERT_GE(indices[k], 0) << what << ": frame " << k << " is no source frame";
        if (k > 0) {
            EXPECT_EQ(indices[k], (indices[k - 1] + 1) % kFrames)
                << what << ": frame " << k << " does not follow frame " << k - 1;
        }
    }
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int32_t le32(const std::vector<uint8_t>& b, size_t at) {
    int32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// The samples of an 8-bit FITS image, rows as stored; empty when it is not one.
Pixels fitsPixels(const std::string& path) {
    const auto b = readAll(path);
    size_t end = std::string::npos;
    for (size_t at = 0; at + 80 <= b.size(); at += 80)
        if (std::string(b.begin() + at, b.begin() + at + 8) == "END     ") {
            end = at;
            break;
        }
    if (end == std::string::npos) return {};
    const size_t data = (end / 2880 + 1) * 2880;
    if (b.size() < data + static_cast<size_t>(kW) * kH) return {};
    return Pixels(b.begin() + data, b.begin() + data + kW * kH);
}

class SerPlayback : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApp();
        previous_ =
            setMessageHandler([this](const QString& t) { messages_.push_back(t.toStdString()); });
        out_ = config_.dir().toStdString() + "/captures";
        fs::create_directories(out_);
        source_ = config_.dir().toStdString() + "/source.SER";
        ASSERT_TRUE(writeSource(source_));
        ASSERT_TRUE(config_.writeIni(QByteArray("[TarviVideo2R]\nEXPOLENGTH=5\nFILENAME=") +
                                     out_.c_str() + "/moon\n"));
    }
    void start() {
        setCameraApi(TarviApi{});  // the window loads the library and hands it this test's file
        MainWindow::StartOptions options;
        options.loadCameraLibrary = [file = source_](std::string* error) {
            return loadChosenCamera(TV_BINARY_DIR "/bin/libtarvidll-ser.so", error) &&
                   applyCameraOptions({{"file", file}}, error);
        };
        mainWindow_ = std::make_unique<MainWindow>(std::move(options));
        mainWindow_->start();
        ASSERT_TRUE(messages_.empty()) << messages_[0];
    }
    void TearDown() override {
        mainWindow_.reset();
        setMessageHandler(previous_);
    }
    bool waitForEnd(int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (mainWindow_->recorder().busy() && t.elapsed() < timeoutMs)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return !mainWindow_->recorder().busy();
    }
    // Records `count` frames in the format of the menu item `format` with button `button`.
    void record(const char* format, const char* button, int count) {
        find<QAction>(*mainWindow_, format)->trigger();
        find<QLineEdit>(*mainWindow_, "expos")->setText(QString::number(count));
        find<QPushButton>(*mainWindow_, button)->click();
        ASSERT_TRUE(messages_.empty()) << messages_[0];
        ASSERT_TRUE(waitForEnd(30000));
        ASSERT_EQ(mainWindow_->recorder().framesWritten(), count);
    }
    std::string file(const std::string& name) const { return out_ + "/" + name; }

    TempConfig config_;
    std::unique_ptr<MainWindow> mainWindow_;
    std::vector<std::string> messages_;
    std::string out_, source_;
    MessageHandler previous_;
};
}  // namespace

TEST_F(SerPlayback, EveryRecordedFrameIsTheNextSourceFrame) {
    start();
    ASSERT_EQ(mainWindow_->capture().status().width, kW);
    find<QAction>(*mainWindow_, "Col1")->setChecked(false);  // grey: AVI frames are the samples
    mainWindow_->recorder().avi().setCodec(0);

    // SER: more frames than the source holds, so the camera starts the file again.
    const int serCount = kFrames + 30;
    record("SER8bit1", "butCapture", serCount);
    const auto ser = readAll(file("moon_00000.SER"));
    const size_t fb = static_cast<size_t>(kW) * kH;
    ASSERT_EQ(ser.size(), kSerHeaderSize + serCount * (fb + 8));
    EXPECT_EQ(le32(ser, kSerFrameCountOffset), serCount);
    std::vector<int> indices;
    for (int k = 0; k < serCount; ++k) {
        const auto at = ser.begin() + kSerHeaderSize + k * fb;
        indices.push_back(sourceIndex(Pixels(at, at + fb)));
    }
    expectConsecutive(indices, "SER");

    // AVI, uncompressed grey, read by the video library's FFmpeg reader: bit-exact too.
    const int aviCount = 40;
    record("AVI2", "butCapture", aviCount);
    // The next number: the SER's seeing figures hold moon_00000's side file name.
    cv::VideoCapture avi(file("moon_00001-PART1.AVI"), cv::CAP_FFMPEG);
    ASSERT_TRUE(avi.isOpened());
    indices.clear();
    cv::Mat frame, grey;
    while (avi.read(frame)) {
        if (frame.channels() == 3)
            cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        else
            grey = frame;
        ASSERT_EQ(grey.cols, kW);
        ASSERT_EQ(grey.rows, kH);
        indices.push_back(sourceIndex(Pixels(grey.begin<uint8_t>(), grey.end<uint8_t>())));
    }
    EXPECT_EQ(static_cast<int>(indices.size()), aviCount);
    expectConsecutive(indices, "AVI");

    // A FIT series, one file a frame.
    const int fitCount = 12;
    record("FIT1", "Button3", fitCount);
    indices.clear();
    for (int k = 0; k < fitCount; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "moon_%05d.FIT", k);
        indices.push_back(sourceIndex(fitsPixels(file(name))));
    }
    EXPECT_FALSE(fs::exists(file("moon_00012.FIT")));
    expectConsecutive(indices, "FIT");
}

TEST_F(SerPlayback, RecordingCutShortIsCompletedAtStartAndNamedOnTheStatusBar) {
    const std::string path = file("moon_00000.SER");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The program's writer with the program's journal, as a recording killed mid-way.
        RecoveryJournal journal(defaultJournalFolder());
        SerWriter ser;
        ser.setJournal(&journal);
        FramePtr f = newFrame(kW, kH, "", false, 8);
        if (!f || !ser.open(path, kW, kH, 8)) ::_exit(2);
        for (int i = 0; i < 4; ++i)
            if (!ser.writeFrame(*f)) ::_exit(3);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(fs::exists(serStampsPath(path)));

    start();
    const QString shown = mainWindow_->statusBar()->currentMessage();
    EXPECT_TRUE(shown.contains(QString::fromStdString(path))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("4 frames"))) << shown.toStdString();
    EXPECT_FALSE(fs::exists(serStampsPath(path)));
    const auto b = readAll(path);
    EXPECT_EQ(le32(b, kSerFrameCountOffset), 4);
    EXPECT_EQ(b.size(), kSerHeaderSize + 4 * (static_cast<size_t>(kW) * kH + 8));
}
