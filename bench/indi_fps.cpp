// Frames per second from indi_simulator_ccd's video stream at 10 ms, on a fresh server and on a
// server where an earlier client has had its session (fast polling, a 10 ms stream turned off
// again). For each: the program's acquisition thread (CaptureThread) driving the INDI camera
// library, loaded and given its server as the program does, each frame taken from the hand-off
// and freed as the window thread does, with a bare INDI client counting the stream the driver
// sends meanwhile ("driver sent"); then that bare client streaming by itself at the driver's
// top preview rate ("bare fps"). The same once more through the real main window (offscreen),
// where each frame is previewed, shown in the histogram and freed by the window thread
// ("window fps"). Prints the rates side by side for the full sensor and for 640 x 480.
//
//   bench_indi_fps [seconds per measurement, default 4] [thread|window]
// Without a path, both are measured, each in a process of its own.
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "FrameQueue.h"
#include "IndiPeer.h"
#include "IndiServer.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "shell/MainWindow.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int kExposureMs = 10;  // streamed by the library (below its stream threshold)

struct Size {
    int w, h;
};

// What one path took for one frame size: its frames per second, the stream the driver sent
// meanwhile, and the processor time of this whole process (every thread) per frame.
struct Rates {
    double fps = 0, sent = 0, cpuMsPerFrame = 0;
};

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Frames per second of the program's path for one frame size, and of the stream the driver
// sent meanwhile as the bare client counted it; false when no frames of that size came.
bool measureProgram(CaptureThread& capture, FrameQueue& handoff, indi_test::Peer& bare,
                    const Size& size, double seconds, Rates* rates) {
    capture.setSubframe(size.w, size.h);
    bool sized = false;
    for (int i = 0; i < 200 && !sized; ++i) {
        const FramePtr frame = handoff.pop(5000);
        if (!frame) break;
        sized = frameWidth(frame.get()) == size.w && frameHeight(frame.get()) == size.h;
    }
    if (!sized) return false;
    for (const auto warm = Clock::now() + 1s; Clock::now() < warm;)
        if (!handoff.pop(5000)) return false;
    long frames = 0;
    const long bareStart = bare.blobs.load();
    const double cpu0 = processCpuSeconds();
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::duration<double>(seconds)) {
        if (!handoff.pop(5000)) break;
        ++frames;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    rates->fps = frames / elapsed;
    rates->sent = (bare.blobs.load() - bareStart) / elapsed;
    rates->cpuMsPerFrame = frames > 0 ? (processCpuSeconds() - cpu0) * 1e3 / frames : 0;
    return true;
}

// The window's frames per second for each size, over `seconds` after a second of warming up,
// and the stream the driver sent meanwhile; false when the window had no frames of a size.
bool measureWindow(MainWindow& mainWindow, indi_test::Peer& bare, const Size (&sizes)[2],
                   double seconds, Rates (&rates)[2]) {
    // The event loop runs as in the program: asleep between events, not polled.
    auto runFor = [&](double s) {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(s * 1000), &loop, &QEventLoop::quit);
        loop.exec();
    };
    for (int i = 0; i < 2; ++i) {
        mainWindow.capture().setSubframe(sizes[i].w, sizes[i].h);
        for (int k = 0; k < 100 && mainWindow.capture().status().width != sizes[i].w; ++k)
            runFor(0.05);
        if (mainWindow.capture().status().width != sizes[i].w) return false;
        runFor(1.0);
        const uint64_t first = mainWindow.framesReceived();
        const long bareStart = bare.blobs.load();
        const double cpu0 = processCpuSeconds();
        QElapsedTimer t;
        t.start();
        runFor(seconds);
        const double elapsed = static_cast<double>(t.nsecsElapsed()) / 1e9;
        const double frames = static_cast<double>(mainWindow.framesReceived() - first);
        rates[i].fps = frames / elapsed;
        rates[i].sent = (bare.blobs.load() - bareStart) / elapsed;
        rates[i].cpuMsPerFrame = frames > 0 ? (processCpuSeconds() - cpu0) * 1e3 / frames : 0;
    }
    return true;
}

// One server: the earlier client's session when asked; the program's path, which connects
// the camera itself, with the bare client only watching; then the bare client streaming by
// itself (the library stays connected, idle). False when something did not start.
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

    std::string error;
    if (!loadCameraLibraryFrom(TV_INDICAM_LIB, &error) ||
        !applyCameraOptions({{"server", server.address()}}, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    const Size sizes[] = {{1280, 1024}, {640, 480}};
    Rates rates[2];
    if (window) {
        // The main window, started as the program starts it (its camera opened once in the
        // process, as in the program), at the same exposure. The settings folder is the one
        // main() chose: the toolkit fixes it at its first use in a process.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QDir().mkpath(config + "/TarviVideo5X");
        QFile ini(config + "/TarviVideo5X/TarviVideo5X.ini");
        if (!ini.open(QIODevice::WriteOnly) ||
            ini.write(QByteArray("[TarviVideo2R]\nEXPOLENGTH=") + QByteArray::number(kExposureMs) +
                      "\n") <= 0)
            return false;
        ini.close();
        MainWindow mainWindow;
        mainWindow.start();
        if (!measureWindow(mainWindow, bare, sizes, seconds, rates)) {
            std::fprintf(stderr, "the window had no frames of the sizes asked for\n");
            return false;
        }
    }
    if (!window) {
        // The acquisition thread, as the program runs it.
        FrameQueue handoff;
        auto capture = std::make_unique<CaptureThread>(handoff.poster());
        if (!capture->openCamera()) {
            std::fprintf(stderr, "camera did not open: %s\n", cameraFailureReason().c_str());
            return false;
        }
        capture->setExposureMs(kExposureMs);
        capture->start();
        for (int i = 0; i < 2; ++i) {
            if (!measureProgram(*capture, handoff, bare, sizes[i], seconds, &rates[i])) {
                std::fprintf(stderr, "no frames of %d x %d\n", sizes[i].w, sizes[i].h);
                return false;
            }
        }
        capture->stop(5000);
    }
    for (int i = 0; i < 2; ++i) {
        const double bareFps = bare.stream(
            kExposureMs / 1000.0, std::chrono::duration<double>(seconds), sizes[i].w, sizes[i].h);
        std::printf("%-22s %-18s %4d x %-5d %10.1f %12.1f %12.1f %7.0f%% %10.1f\n", name,
                    window ? "main window" : "acquisition thread", sizes[i].w, sizes[i].h, bareFps,
                    rates[i].fps, rates[i].sent, bareFps > 0 ? 100.0 * rates[i].fps / bareFps : 0.0,
                    rates[i].cpuMsPerFrame);
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
        std::printf("%-22s %-18s %-12s %10s %12s %12s %8s %10s\n", "server", "path", "frame",
                    "bare fps", "path fps", "driver sent", "ratio", "cpu ms/fr");
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
