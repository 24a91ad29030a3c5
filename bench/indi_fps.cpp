// Frames per second from indi_simulator_ccd's video stream at 10 ms, at 1280 x 1024 and
// 640 x 480, on a fresh server and on one where an earlier client has had its session (fast
// polling, a 10 ms stream turned off again). Beside each other, in one run, each figure
// twice: what the driver makes (its own FPS property, as a second client on the same server
// reads it), what a bare INDI client receives streaming by itself, and what the program
// receives:
//   thread  the acquisition thread (CaptureThread) driving the INDI camera library, loaded and
//           given its server as the program does, each frame taken from the hand-off and
//           freed as the window thread does; once with the images on the control connection
//           (blobs=shared), once on a connection of their own (blobs=separate, the default),
//           and once on that connection through the server's local socket (socket=PATH),
//           where the server hands the images over in shared memory instead of as text
//   window  the real main window (offscreen) recording SER through the local socket: each
//           frame previewed, shown in the histogram and written by the recorder ("recorded":
//           frames written)
//
//   bench_indi_fps [seconds per measurement, default 4] [thread|window]
// Without a path, both are measured, each in a process of its own. The second client takes
// no images while the program's path runs, and the program has left the server while the bare
// client streams.
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FrameQueue.h"
#include "IndiPeer.h"
#include "IndiServer.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "recording/RecordingController.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int kExposureMs = 10;  // streamed by the library (below its stream threshold)
constexpr int kRepeats = 2;

struct Size {
    int w, h;
};
const Size kSizes[] = {{1280, 1024}, {640, 480}};

// One path's figure for one frame size: its frames per second, the driver's own rate
// meanwhile, and the processor time of this whole process (every thread) per frame.
struct Rates {
    double fps = 0, driver = 0, cpuMsPerFrame = 0;
};

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string loadAverage() {
    std::ifstream f("/proc/loadavg");
    std::string one;
    f >> one;
    return one;
}

// Counts `frames()` over `seconds`, with the driver's rate and the process's processor time.
template <typename Frames, typename Wait>
Rates measure(indi_test::Peer& watcher, double seconds, Frames frames, Wait wait) {
    const long first = frames();
    watcher.driverFps();
    const double cpu0 = processCpuSeconds();
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::duration<double>(seconds) && wait()) {
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const long n = frames() - first;
    return {n / elapsed, watcher.driverFps(),
            n > 0 ? (processCpuSeconds() - cpu0) * 1e3 / static_cast<double>(n) : 0};
}

void printRow(const char* server, const std::string& path, const Size& size, const Rates& bare,
              const Rates& program) {
    std::printf("%-20s %-26s %4d x %-5d %7.1f %7.1f %7.1f %6.0f%% %6.0f%% %8.1f %5s\n", server,
                path.c_str(), size.w, size.h, program.driver, bare.fps, program.fps,
                bare.fps > 0 ? 100.0 * program.fps / bare.fps : 0.0,
                program.driver > 0 ? 100.0 * program.fps / program.driver : 0.0,
                program.cpuMsPerFrame, loadAverage().c_str());
}

// The bare client streaming each size by itself, with the driver's rate meanwhile. The
// library leaves the server first (opened on a port where nothing listens, it closes its
// session), so no other client reads the images meanwhile.
void measureBare(indi_test::Peer& bare, double seconds, Rates (&rates)[2]) {
    std::string error;
    applyCameraOptions({{"server", "localhost:" + std::to_string(indi_test::freePort())}}, &error);
    camera().openUSB(0);
    bare.takeImages(true);
    for (int i = 0; i < 2; ++i) {
        bare.driverFps();
        rates[i].fps = bare.stream(kExposureMs / 1000.0, std::chrono::duration<double>(seconds),
                                   kSizes[i].w, kSizes[i].h);
        rates[i].driver = bare.driverFps();
    }
    bare.takeImages(false);
}

// The acquisition thread at each size; false when no frames of a size came.
bool measureThread(indi_test::Peer& watcher, double seconds, Rates (&rates)[2]) {
    FrameQueue handoff;
    auto capture = std::make_unique<CaptureThread>(handoff.poster());
    if (!capture->openCamera()) {
        std::fprintf(stderr, "camera did not open: %s\n", cameraFailureReason().c_str());
        return false;
    }
    capture->setExposureMs(kExposureMs);
    capture->start();
    for (int i = 0; i < 2; ++i) {
        capture->setSubframe(kSizes[i].w, kSizes[i].h);
        bool sized = false;
        for (int k = 0; k < 200 && !sized; ++k) {
            const FramePtr frame = handoff.pop(5000);
            if (!frame) break;
            sized =
                frameWidth(frame.get()) == kSizes[i].w && frameHeight(frame.get()) == kSizes[i].h;
        }
        if (!sized) return false;
        for (const auto warm = Clock::now() + 1s; Clock::now() < warm;)
            if (!handoff.pop(5000)) return false;
        long frames = 0;
        rates[i] = measure(
            watcher, seconds, [&] { return frames; },
            [&] { return handoff.pop(5000) != nullptr && ++frames > 0; });
    }
    capture->stop(5000);
    return true;
}

// The main window recording SER at each size, over `seconds` after a second of warming up.
bool measureWindow(MainWindow& mainWindow, indi_test::Peer& watcher, const QString& folder,
                   double seconds, Rates (&rates)[2]) {
    // The event loop runs as in the program: asleep between events, not polled.
    auto runFor = [](double s) {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(s * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        return true;
    };
    CapturePanel& panel = mainWindow.capturePanel();
    panel.setCapturePath(folder + QStringLiteral("/bench"));
    mainWindow.findChild<QAction*>(QStringLiteral("SER8bit1"))->trigger();
    panel.setCountText(QStringLiteral("0"));  // until cancelled
    for (int i = 0; i < 2; ++i) {
        mainWindow.capture().setSubframe(kSizes[i].w, kSizes[i].h);
        for (int k = 0; k < 100 && mainWindow.capture().status().width != kSizes[i].w; ++k)
            runFor(0.05);
        if (mainWindow.capture().status().width != kSizes[i].w) return false;
        mainWindow.findChild<QPushButton*>(QStringLiteral("butCapture"))->click();
        if (!mainWindow.recorder().busy()) return false;
        runFor(1.0);
        rates[i] = measure(
            watcher, seconds,
            [&] { return static_cast<long>(mainWindow.recorder().framesWritten()); },
            [&] { return runFor(0.1); });
        mainWindow.findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
        for (int k = 0; k < 600 && mainWindow.recorder().busy(); ++k) runFor(0.05);
    }
    return true;
}

// One server: the earlier client's session when asked; then, twice, the program's path(s)
// and the bare client. False when something did not start.
bool runScenario(const char* name, bool earlierClient, double seconds, bool window) {
    indi_test::Server server;
    if (!server.start()) {
        std::fprintf(stderr, "indiserver with indi_simulator_ccd did not start\n");
        return false;
    }
    if (earlierClient) {
        indi_test::Peer earlier;
        if (!earlier.join(server.port())) return false;
        earlier.earlierSession();
    }
    indi_test::Peer bare;
    if (!bare.join(server.port(), /*connect=*/false)) return false;
    bare.takeImages(false);

    std::string error;
    if (!loadCameraLibraryFrom(TV_INDICAM_LIB, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    if (window) {
        // The main window, started as the program starts it, at the same exposure. The settings
        // folder is the one main() chose: the toolkit fixes it at its first use in a process.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QDir().mkpath(config + "/TarviVideo5X");
        QFile ini(config + "/TarviVideo5X/TarviVideo5X.ini");
        if (!ini.open(QIODevice::WriteOnly) ||
            ini.write(QByteArray("[TarviVideo2R]\nEXPOLENGTH=") + QByteArray::number(kExposureMs) +
                      "\n") <= 0)
            return false;
        ini.close();
        QTemporaryDir folder;
        for (int repeat = 0; repeat < kRepeats; ++repeat) {
            Rates recorded[2], bareRates[2];
            if (!applyCameraOptions(
                    {{"server", server.address()}, {"socket", server.localSocket()}}, &error))
                return false;
            {
                MainWindow mainWindow;
                mainWindow.start();
                if (!measureWindow(mainWindow, bare, folder.path(), seconds, recorded)) {
                    std::fprintf(stderr, "the window recorded no frames of the sizes asked for\n");
                    return false;
                }
            }
            measureBare(bare, seconds, bareRates);
            for (int i = 0; i < 2; ++i)
                printRow(name, "window, recorded", kSizes[i], bareRates[i], recorded[i]);
        }
        return true;
    }
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        const struct {
            const char* path;
            std::vector<CameraOptionValue> options;
        } variants[] = {
            {"thread, blobs=shared", {{"blobs", "shared"}, {"socket", ""}}},
            {"thread, blobs=separate", {{"blobs", "separate"}, {"socket", ""}}},
            {"thread, socket", {{"blobs", "separate"}, {"socket", server.localSocket()}}}};
        Rates rates[3][2], bareRates[2];
        for (int v = 0; v < 3; ++v) {
            auto options = variants[v].options;
            options.push_back({"server", server.address()});
            if (!applyCameraOptions(options, &error) || !measureThread(bare, seconds, rates[v])) {
                std::fprintf(stderr, "no frames through %s %s\n", variants[v].path, error.c_str());
                return false;
            }
        }
        measureBare(bare, seconds, bareRates);
        for (int i = 0; i < 2; ++i)
            for (int v = 0; v < 3; ++v)
                printRow(name, variants[v].path, kSizes[i], bareRates[i], rates[v][i]);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    indi_test::runInPrivateNetwork(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
    const std::string path = argc > 2 ? argv[2] : "";
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (path.empty()) {
        // Each path in a process of its own, as the program opens its camera once per run.
        std::printf("%-20s %-26s %-12s %7s %7s %7s %7s %7s %8s %5s\n", "server", "path", "frame",
                    "driver", "bare", "path", "/bare", "/driver", "cpu ms/f", "load");
        bool ok = true;
        for (const char* which : {"thread", "window"}) {
            const std::string command = "'" +
                                        std::filesystem::read_symlink("/proc/self/exe").string() +
                                        "' " + std::to_string(seconds) + " " + which;
            ok = std::system(command.c_str()) == 0 && ok;
        }
        return ok ? 0 : 1;
    }
    const bool window = path == "window";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's settings and journal in a folder of this run, for both servers.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_STATE_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const bool fresh = runScenario("fresh", false, seconds, window);
    const bool after = runScenario("after earlier client", true, seconds, window);
    return fresh && after ? 0 : 1;
}
