// The GenICam camera library against Aravis' simulated GigE camera: each frame of the library
// holds the picture Aravis' own bare client receives from the same camera with the same
// settings (the simulated camera draws a diagonal ramp that moves by one level a frame, so a
// frame is the bare one shifted along its diagonal), cut, mirrored and sized as asked, with its
// pattern, depth, place and a start on the camera's clock.
#include <arv.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "FakeGvCamera.h"
#include "IndiServer.h"
#include "LoadedCamera.h"
#include "PixelFormats.h"
#include "SemaphoreWait.h"

namespace {
// One frame from Aravis alone: region, format, exposure and gain as the library sets them.
std::vector<uint8_t> bareFrame(int x, int y, int w, int h, const char* format, double gain) {
    GError* error = nullptr;
    ArvCamera* cam = arv_camera_new(FakeGvCamera::kAddress, &error);
    if (!cam) return {};
    arv_camera_set_pixel_format_from_string(cam, format, nullptr);
    arv_camera_set_region(cam, x, y, w, h, nullptr);
    arv_camera_set_exposure_time(cam, 10000, nullptr);
    arv_camera_set_gain(cam, gain, nullptr);
    ArvStream* stream = arv_camera_create_stream(cam, nullptr, nullptr, nullptr);
    arv_stream_push_buffer(stream, arv_buffer_new_allocate(arv_camera_get_payload(cam, nullptr)));
    arv_camera_set_acquisition_mode(cam, ARV_ACQUISITION_MODE_CONTINUOUS, nullptr);
    arv_camera_start_acquisition(cam, nullptr);
    std::vector<uint8_t> out;
    if (ArvBuffer* b = arv_stream_timeout_pop_buffer(stream, 5'000'000)) {
        size_t size = 0;
        const auto* data = static_cast<const uint8_t*>(arv_buffer_get_image_data(b, &size));
        if (arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS) out.assign(data, data + size);
        g_object_unref(b);
    }
    arv_camera_stop_acquisition(cam, nullptr);
    g_object_unref(stream);
    g_object_unref(cam);
    return out;
}

long long FrameInfoUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Case {
    const char* format;
    int width, height, left, top;
    bool flip;
    int depth;
    int pattern;  // as stored in the buffers
    bool ramp;    // the simulated camera draws its ramp (it colours Bayer formats otherwise)
};

class AravisCamera : public ::testing::TestWithParam<Case> {};

TEST_P(AravisCamera, FramesAreTheBareClientsPictureCutAndMirroredAsAsked) {
    const Case c = GetParam();
    FakeGvCamera fake;
    ASSERT_TRUE(fake.start()) << "arv-fake-gv-camera-0.8 did not start";
    const std::vector<uint8_t> bare = bareFrame(c.left, c.top, c.width, c.height, c.format, 0);
    ASSERT_FALSE(bare.empty());

    const TarviApi& api = tvtest::loadedCamera(TV_ARAVISCAM_LIB);
    ASSERT_EQ(api.cameraOption("device", FakeGvCamera::kAddress), 1);
    ASSERT_EQ(api.cameraOption("format", c.format), 1);
    EXPECT_EQ(api.cameraOption("speed", "1"), 0);
    EXPECT_NE(std::strstr(api.cameraLastError(), "no option 'speed'"), nullptr);
    ASSERT_EQ(api.openUSB(0), 1) << api.cameraLastError();
    int w = 0, h = 0;
    EXPECT_STREQ(api.getCameraInfo(&w, &h), "Aravis Fake (GV01)");
    EXPECT_EQ(w * h, 2048 * 2048);
    sem_t done;
    sem_init(&done, 0, 0);
    api.exposureSemaphore(&done);
    ASSERT_EQ(api.subframe(c.width, c.height), 1);
    ASSERT_EQ(api.subframeOrigin(c.left, c.top), 1);
    api.horizontalFlip(c.flip);
    api.setGain(0);
    ASSERT_EQ(api.cameraSampleDepth(c.depth), 1);
    api.setExposureMicroseconds(10000);

    const size_t sample = c.depth == 16 ? 2 : 1;
    const size_t stride = (c.width * sample + 3) & ~size_t{3};
    std::vector<uint8_t> frame(stride * c.height);
    for (int n = 0; n < 3; ++n) {
        const long long before = FrameInfoUs();
        ASSERT_EQ(api.threadedExposure(frame.data(), 0, 1), 1);
        ASSERT_TRUE(waitPosted(done, 5000));
        TarviFrameInfo info{sizeof info, -7, -7, -7, -7, -1, -1};
        ASSERT_EQ(api.cameraFrameInfo(&info), 1);
        ASSERT_EQ(info.status, TARVI_FRAME_GOOD);
        EXPECT_EQ(info.colorPattern, c.pattern);
        EXPECT_EQ(info.bitsPerSample, c.depth == 16 ? 16 : 8);
        EXPECT_EQ(info.subframeLeft, c.left);
        EXPECT_EQ(info.subframeTop, c.top);
        EXPECT_NEAR(static_cast<double>(info.startUnixUs), static_cast<double>(before), 2e6);
        if (!c.ramp) continue;
        // The bare frame's diagonal ramp, moved to the level of this frame's first sample.
        auto at = [&](const uint8_t* rows, size_t rowBytes, int x, int y) {
            if (sample == 2) {
                uint16_t v;
                std::memcpy(&v, rows + y * rowBytes + 2 * x, 2);
                return static_cast<int>(v);
            }
            return static_cast<int>(rows[y * rowBytes + x]);
        };
        const int first = c.flip ? c.width - 1 : 0;
        const int shift =
            at(frame.data(), stride, 0, 0) - at(bare.data(), c.width * sample, first, 0);
        int wrong = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const int from = c.flip ? c.width - 1 - x : x;
                const int want = at(bare.data(), c.width * sample, from, y) + shift;
                const int got = at(frame.data(), stride, x, y);
                wrong += got != want && (got - want) % 255 != 0 && (want - got) % 255 != 0;
            }
        EXPECT_EQ(wrong, 0) << "frame " << n;
    }
    sem_destroy(&done);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AravisCamera,
    ::testing::Values(Case{"Mono8", 640, 480, 100, 60, false, 8, TARVI_PATTERN_MONO, true},
                      Case{"Mono8", 322, 242, 12, 8, true, 8, TARVI_PATTERN_MONO, true},
                      Case{"BayerGR8", 322, 242, 12, 8, false, 8, TARVI_PATTERN_GRBG, false},
                      Case{"Mono16", 320, 240, 0, 0, false, 16, TARVI_PATTERN_MONO, true}));
}  // namespace

int main(int argc, char** argv) {
    indi_test::runInPrivateNetwork(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
