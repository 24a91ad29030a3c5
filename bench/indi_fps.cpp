// Frames per second from indi_simulator_ccd's video stream, received two ways at once: by a
// bare INDI client that only counts the stream's BLOBs, and through the program's acquisition
// thread (CaptureThread) driving the INDI camera library, loaded and given its server as the
// program does, each frame taken from the hand-off and freed as the window thread does. The
// driver sends each stream frame to every client, so both see the same stream over the same
// time. Prints both rates and their ratio for the full sensor and for 640 x 480.
//
//   bench_indi_fps [seconds per measurement, default 4]
#include <libindi/baseclient.h>
#include <libindi/basedevice.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "IndiServer.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr const char* kDevice = "CCD Simulator";
constexpr int kExposureMs = 10;  // streamed by the library (below its stream threshold)

struct Size {
    int w, h;
};

class BareClient : public INDI::BaseClient {
  public:
    std::atomic<long> frames{0};

  protected:
    void updateProperty(INDI::Property p) override {
        if (p.getType() == INDI_BLOB) frames.fetch_add(1, std::memory_order_relaxed);
    }
};

// The window thread's side of the hand-off: frames queued by the acquisition thread.
class Handoff {
  public:
    PostFrameFn Poster() {
        return [this](FramePtr frame) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                frames_.push_back(std::move(frame));
            }
            ready_.notify_one();
        };
    }
    FramePtr Take() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_for(lock, 5s, [this] { return !frames_.empty(); })) return nullptr;
        FramePtr frame = std::move(frames_.front());
        frames_.pop_front();
        return frame;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<FramePtr> frames_;
};

}  // namespace

int main(int argc, char** argv) {
    indi_test::RunInPrivateNetwork(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
    indi_test::Server server;
    if (!server.Start()) {
        std::fprintf(stderr, "indiserver with indi_simulator_ccd did not start\n");
        return 1;
    }
    const Size sizes[] = {{1280, 1024}, {640, 480}};
    BareClient bare;
    bare.setServer("localhost", static_cast<unsigned>(server.Port()));
    if (!bare.connectServer()) return 1;
    bare.setBLOBMode(B_ALSO, kDevice, nullptr);

    std::string error;
    if (!LoadCameraLibraryFrom(TV_INDICAM_LIB, &error) ||
        !ApplyCameraOptions({{"server", server.Address()}}, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    Handoff handoff;
    auto capture = std::make_unique<CaptureThread>(handoff.Poster());
    if (!capture->openCamera()) {
        std::fprintf(stderr, "camera did not open: %s\n", CameraFailureReason().c_str());
        return 1;
    }
    capture->setExposureMs(kExposureMs);
    capture->start();

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("%-12s %12s %12s %8s\n", "frame", "bare fps", "program fps", "ratio");
    for (const Size& size : sizes) {
        capture->setSubframeWidth(size.w);
        capture->setSubframeHeight(size.h);
        // Frames of the size asked for, then a second of warming up before counting.
        bool sized = false;
        for (int i = 0; i < 200 && !sized; ++i) {
            const FramePtr frame = handoff.Take();
            if (!frame) break;
            sized = FrameWidth(frame.get()) == size.w && FrameHeight(frame.get()) == size.h;
        }
        if (!sized) {
            std::fprintf(stderr, "no frames of %d x %d\n", size.w, size.h);
            return 1;
        }
        for (const auto warm = Clock::now() + 1s; Clock::now() < warm;)
            if (!handoff.Take()) return 1;
        long frames = 0;
        const long bareStart = bare.frames.load();
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < std::chrono::duration<double>(seconds)) {
            if (!handoff.Take()) break;
            ++frames;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        const double fps = frames / elapsed;
        const double bareFps = (bare.frames.load() - bareStart) / elapsed;
        std::printf("%4d x %-5d %12.1f %12.1f %7.0f%%\n", size.w, size.h, bareFps, fps,
                    bareFps > 0 ? 100.0 * fps / bareFps : 0.0);
    }
    capture->stop(5000);
    bare.disconnectServer();
    return 0;
}
