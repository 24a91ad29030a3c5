// Frames per second from indi_simulator_ccd's video stream, received two ways at once: by a
// bare INDI client that only counts the stream's BLOBs, and through the INDI camera library
// in the program's exposure loop (ThreadedExposure, wait on the semaphore, again). The driver
// sends each stream frame to every client, so both see the same stream over the same time.
// Prints both rates and their ratio for the full sensor and for a 640 x 480 subframe.
//
//   bench_indi_fps [seconds per measurement, default 4]
#include <dlfcn.h>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>

#include "IndiServer.h"

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

    void* lib = dlopen(TV_INDICAM_LIB, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto option = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(lib, "CameraOption"));
    auto open = reinterpret_cast<int (*)(int)>(dlsym(lib, "openUSB"));
    auto semaphore = reinterpret_cast<int (*)(sem_t*)>(dlsym(lib, "ExposureSemaphore"));
    auto expose = reinterpret_cast<int (*)(void*, int, int)>(dlsym(lib, "ThreadedExposure"));
    auto exposure = reinterpret_cast<int (*)(int)>(dlsym(lib, "SetExposureLength"));
    auto subframe = reinterpret_cast<int (*)(int, int)>(dlsym(lib, "Subframe"));
    option("server", server.Address().c_str());
    if (open(0) != 1) return 1;
    static sem_t done;
    sem_init(&done, 0, 0);
    semaphore(&done);
    exposure(kExposureMs);

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("%-12s %12s %12s %8s\n", "frame", "bare fps", "library fps", "ratio");
    for (int i = 0; i < 2; ++i) {
        subframe(sizes[i].w, sizes[i].h);
        std::vector<uint8_t> buffer(((sizes[i].w + 3) & ~3) * static_cast<size_t>(sizes[i].h));
        long frames = 0;
        const auto warm = Clock::now() + 1s;
        auto t0 = Clock::now();
        long bareStart = 0;
        bool counting = false;
        for (;;) {
            const auto now = Clock::now();
            if (!counting && now >= warm) {
                counting = true;
                t0 = now;
                frames = 0;
                bareStart = bare.frames.load();
            }
            if (counting && now - t0 >= std::chrono::duration<double>(seconds)) break;
            if (expose(buffer.data(), 0, 1) != 1) break;
            timespec t{};
            clock_gettime(CLOCK_MONOTONIC, &t);
            t.tv_sec += 5;
            if (sem_clockwait(&done, CLOCK_MONOTONIC, &t) != 0) break;
            ++frames;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        const double fps = frames / elapsed;
        const double bareFps = (bare.frames.load() - bareStart) / elapsed;
        std::printf("%4d x %-5d %12.1f %12.1f %7.0f%%\n", sizes[i].w, sizes[i].h, bareFps, fps,
                    bareFps > 0 ? 100.0 * fps / bareFps : 0.0);
    }
    bare.disconnectServer();
    return 0;
}
