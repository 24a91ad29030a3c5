// Frames per second from Aravis' simulated GigE camera at 1 ms exposure, at 640 x 480 and
// 1280 x 960: Aravis' own stream in a bare client, then the program's acquisition thread
// (CaptureThread) driving the GenICam camera library, each frame taken from the hand-off and
// freed as the window thread does. Both in this run, one after the other, on the same camera.
//
//   bench_aravis_fps [seconds per measurement, default 4]
#include <arv.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "FakeGvCamera.h"
#include "FrameQueue.h"
#include "IndiServer.h"
#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"

namespace {
using Clock = std::chrono::steady_clock;

// Aravis alone: the library's own settings (region, 1 ms, top frame rate, largest packets).
double bareFps(int w, int h, double seconds) {
    ArvCamera* cam = arv_camera_new(FakeGvCamera::kAddress, nullptr);
    if (!cam) return 0;
    arv_camera_set_region(cam, 0, 0, w, h, nullptr);
    arv_camera_set_exposure_time(cam, 1000, nullptr);
    arv_camera_set_frame_rate(cam, 1000, nullptr);
    arv_camera_gv_auto_packet_size(cam, nullptr);
    ArvStream* stream = arv_camera_create_stream(cam, nullptr, nullptr, nullptr);
    g_object_set(stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, nullptr);
    const guint payload = arv_camera_get_payload(cam, nullptr);
    for (int i = 0; i < 8; ++i) arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
    arv_camera_set_acquisition_mode(cam, ARV_ACQUISITION_MODE_CONTINUOUS, nullptr);
    arv_camera_start_acquisition(cam, nullptr);
    long frames = 0;
    const auto warm = Clock::now() + std::chrono::seconds(1);
    auto t0 = Clock::now();
    bool counting = false;
    while (!counting || Clock::now() - t0 < std::chrono::duration<double>(seconds)) {
        if (!counting && Clock::now() > warm) {
            counting = true;
            frames = 0;
            t0 = Clock::now();
        }
        ArvBuffer* b = arv_stream_timeout_pop_buffer(stream, 1'000'000);
        if (!b) break;
        frames += arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS;
        arv_stream_push_buffer(stream, b);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    arv_camera_stop_acquisition(cam, nullptr);
    g_object_unref(stream);
    g_object_unref(cam);
    return frames / elapsed;
}

double programFps(CaptureThread& capture, FrameQueue& handoff, int w, int h, double seconds) {
    capture.setSubframe(w, h);
    bool sized = false;
    for (int i = 0; i < 500 && !sized; ++i) {
        const FramePtr frame = handoff.pop(5000);
        if (!frame) return 0;
        sized = frameWidth(frame.get()) == w && frameHeight(frame.get()) == h;
    }
    for (const auto warm = Clock::now() + std::chrono::seconds(1); Clock::now() < warm;)
        if (!handoff.pop(5000)) return 0;
    long frames = 0;
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::duration<double>(seconds)) {
        if (!handoff.pop(5000)) break;
        ++frames;
    }
    return frames / std::chrono::duration<double>(Clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
    indi_test::runInPrivateNetwork(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
    FakeGvCamera fake;
    if (!fake.start()) {
        std::fprintf(stderr, "arv-fake-gv-camera-0.8 did not start\n");
        return 1;
    }
    const int sizes[2][2] = {{640, 480}, {1280, 960}};
    double bare[2];
    for (int i = 0; i < 2; ++i) bare[i] = bareFps(sizes[i][0], sizes[i][1], seconds);

    std::string error;
    if (!loadCameraLibraryFrom(TV_ARAVISCAM_LIB, &error) ||
        !applyCameraOptions({{"device", FakeGvCamera::kAddress}}, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    FrameQueue handoff;
    auto capture = std::make_unique<CaptureThread>(handoff.poster());
    if (!capture->openCamera()) {
        std::fprintf(stderr, "camera did not open: %s\n", cameraFailureReason().c_str());
        return 1;
    }
    capture->setExposureMs(1);
    capture->start();
    std::printf("%-12s %10s %12s %8s\n", "frame", "bare fps", "program fps", "ratio");
    for (int i = 0; i < 2; ++i) {
        const double fps = programFps(*capture, handoff, sizes[i][0], sizes[i][1], seconds);
        std::printf("%4d x %-5d %10.1f %12.1f %7.0f%%\n", sizes[i][0], sizes[i][1], bare[i], fps,
                    bare[i] > 0 ? 100.0 * fps / bare[i] : 0.0);
    }
    capture->stop(5000);
    return 0;
}
