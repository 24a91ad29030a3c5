// 100,000 small frames through the real main window: the SER playback camera at 1 ms
// exposure plays a file of distinct 32 x 32 frames, the acquisition thread hands them to the
// window, and one SER recording of 100,000 frames is made through the capture button
// (continuous, cancelled at that count). One
// iteration is the whole recording. Reports the frames handed to the recording, the frames
// the file's header counts, the time stamps in its trailer (the three should be equal) and
// the resident memory at the start and the end of the recording (it should stay flat).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "recording/RecordingController.h"
#include "recording/SerWriter.h"
#include "shell/CapturePanel.h"
#include "shell/ExposurePanel.h"
#include "shell/MainWindow.h"

namespace {
constexpr int kSide = 32;
constexpr int kSourceFrames = 100;
constexpr int kRecorded = 100000;

// The application of this process; the other main-window benchmarks may have made it.
void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static QTemporaryDir config;  // the settings of this run, never the user's
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "bench_pipeline";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Resident memory of this process in KiB (VmRSS).
long residentKiB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
    std::fclose(f);
    return kib;
}

// Cancels the recording before the window takes the next frame once it holds `target`
// frames, so that it ends at exactly that many (the frame count field takes five digits).
class StopAt : public QObject {
  public:
    StopAt(RecordingController& recorder, QPushButton& cancel, int32_t target)
        : recorder_(recorder), cancel_(cancel), target_(target) {}
    bool eventFilter(QObject*, QEvent*) override {
        if (recorder_.busy() && recorder_.framesWritten() >= target_) cancel_.click();
        return false;
    }

  private:
    RecordingController& recorder_;
    QPushButton& cancel_;
    int32_t target_;
};

bool writeSource(const std::string& path) {
    char header[kSerHeaderSize] = {};
    std::memcpy(header, "LUCAM-RECORDER", 14);
    const int32_t fields[] = {kSide, kSide, 8, kSourceFrames};
    std::memcpy(header + 26, fields, sizeof fields);
    std::ofstream out(path, std::ios::binary);
    out.write(header, sizeof header);
    std::string frame(kSide * kSide, '\0');
    for (int i = 0; i < kSourceFrames; ++i) {
        for (size_t k = 0; k < frame.size(); ++k) frame[k] = static_cast<char>(k + i * 7);
        out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
    }
    return static_cast<bool>(out);
}

void bmHundredThousandFramesThroughSerPlayback(benchmark::State& state) {
    ensureApplication();
    QTemporaryDir folder;
    const std::string source = folder.path().toStdString() + "/source.SER";
    if (!folder.isValid() || !writeSource(source)) return state.SkipWithError("no source file");
    std::string error;
    if (!loadChosenCamera("ser", &error) || !applyCameraOptions({{"file", source}}, &error))
        return state.SkipWithError(("SER playback camera: " + error).c_str());

    auto mainWindow = std::make_unique<MainWindow>();
    mainWindow->start();
    auto* exposure = mainWindow->findChild<ExposurePanel*>(QStringLiteral("ExposurePanel"));
    auto* colour = mainWindow->findChild<QAction*>(QStringLiteral("Col1"));
    auto* ser = mainWindow->findChild<QAction*>(QStringLiteral("SER8bit1"));
    auto* button = mainWindow->findChild<QPushButton*>(QStringLiteral("butCapture"));
    auto* cancel = mainWindow->findChild<QPushButton*>(QStringLiteral("CancelButton"));
    if (!exposure || !colour || !ser || !button || !cancel)
        return state.SkipWithError("the main window lacks a control");
    exposure->setExposureUs(1000);
    exposure->commitExposure();
    colour->setChecked(false);
    CapturePanel& capture = mainWindow->capturePanel();
    capture.setCapturePath(folder.path() + QStringLiteral("/bench"));
    ser->trigger();
    capture.setCountText(QStringLiteral("0"));  // until cancelled
    StopAt stop(mainWindow->recorder(), *cancel, kRecorded);
    mainWindow->installEventFilter(&stop);

    long rssStart = 0, rssEnd = 0;
    for (auto _ : state) {
        button->click();
        if (!mainWindow->recorder().busy())
            return state.SkipWithError("the recording did not start");
        // The recording's own buffers are in place after its first frames.
        while (mainWindow->recorder().framesWritten() < 100 && mainWindow->recorder().busy())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        rssStart = residentKiB();
        QElapsedTimer idle;
        idle.start();
        int32_t last = 0;
        while (mainWindow->recorder().busy()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (mainWindow->recorder().framesWritten() != last) {
                last = mainWindow->recorder().framesWritten();
                idle.restart();
            } else if (idle.elapsed() > 10000) {
                return state.SkipWithError("no frame recorded for 10 s");
            }
        }
        rssEnd = residentKiB();
    }
    const int32_t handed = mainWindow->recorder().framesWritten();
    mainWindow->removeEventFilter(&stop);
    mainWindow.reset();

    // The file as an independent reader sees it: header count and trailer length.
    const std::string path = folder.path().toStdString() + "/bench_00000.SER";
    int32_t counted = -1;
    long long stamps = -1;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fseek(f, kSerFrameCountOffset, SEEK_SET);
        if (std::fread(&counted, 4, 1, f) != 1) counted = -1;
        std::fclose(f);
        struct stat st {};
        if (counted >= 0 && ::stat(path.c_str(), &st) == 0)
            stamps =
                (st.st_size - kSerHeaderSize - static_cast<long long>(counted) * kSide * kSide) / 8;
    }
    state.counters["frames_handed_over"] = handed;
    state.counters["frames_in_file"] = counted;
    state.counters["trailer_stamps"] = static_cast<double>(stamps);
    // 1 when the three counts are equal (the console rounds large counters).
    state.counters["counts_agree"] = handed == counted && counted == stamps ? 1 : 0;
    state.counters["rss_start_kib"] = static_cast<double>(rssStart);
    state.counters["rss_end_kib"] = static_cast<double>(rssEnd);
    state.counters["fps"] = benchmark::Counter(handed, benchmark::Counter::kIsRate);
}

BENCHMARK(bmHundredThousandFramesThroughSerPlayback)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
}  // namespace
