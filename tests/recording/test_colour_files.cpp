// The simulated camera's colour test card, through the capture thread, recorded as SER and
// FITS and read back by an independent reader (tests/recording/read_mosaic.py: numpy and
// astropy) that debayers by the file's own label: the red disk comes out red, the blue one
// blue; at 16 bits the samples are the camera's 12 bits, unshifted.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "RecTestUtil.h"
#include "acquisition/CameraLib.h"
#include "acquisition/FrameQueue.h"
#include "recording/FitsFormat.h"
#include "recording/SerWriter.h"

namespace {
constexpr char kSimCam[] = TV_BINARY_DIR "/bin/libtarvidll.so";

struct Box {
    double b, g, r;
};

// The reader's colour of the red disk and the blue disk, and its bits line.
bool ReadBack(const std::string& path, Box& red, Box& blue, int& bits, int& lowBytes) {
    std::string out;
    const int status =
        rectest::RunCommand("/usr/bin/python3 " TV_SOURCE_DIR "/tests/recording/read_mosaic.py " +
                                rectest::Quote(path) + " 448 400 40 832 400 40",
                            out);
    std::istringstream in(out);
    std::string word;
    in >> red.b >> red.g >> red.r >> blue.b >> blue.g >> blue.r >> word >> bits >> lowBytes;
    if (status != 0 || word != "bits") ADD_FAILURE() << path << ": " << out;
    return status == 0 && word == "bits";
}

class ColourFiles : public ::testing::TestWithParam<int> {};

TEST_P(ColourFiles, TestCardReadsBackRedAndBlueAtItsLevels) {
    const int depth = GetParam();
    std::string error;
    ASSERT_TRUE(LoadCameraLibraryFrom(kSimCam, &error)) << error;
    void* lib = dlopen(kSimCam, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    auto configure = reinterpret_cast<int (*)(int, int)>(dlsym(lib, "SimCamConfigure"));
    ASSERT_NE(configure, nullptr);
    // The test card; noise only at 16 bits, where the low bytes must vary.
    configure(1, depth == 16 ? 1 : 0);

    FrameQueue queue;
    CaptureThread capture(queue.Poster());
    capture.setExposureMs(100);
    capture.setGain(10);
    capture.sendGain();
    capture.setDepth(depth);
    ASSERT_TRUE(capture.openCamera());
    EXPECT_EQ(capture.status().cameraBits, 12);
    capture.start();
    FramePtr frame;
    for (int i = 0; i < 20 && !(frame && FrameDepth(frame.get()) == depth); ++i)
        frame = queue.Pop(5000);
    capture.stop(5000);
    dlclose(lib);
    ASSERT_TRUE(frame && FrameDepth(frame.get()) == depth);
    EXPECT_EQ(frame->BitsPerSample, depth == 16 ? 12 : 8);

    const auto dir = std::filesystem::temp_directory_path() /
                     ("tv_colour_" + std::to_string(::getpid()) + "_" + std::to_string(depth));
    std::filesystem::create_directories(dir);
    const std::string ser = (dir / "card.SER").string(), fit = (dir / "card.FIT").string();
    SerWriter writer;
    ASSERT_TRUE(writer.open(ser, FrameWidth(frame.get()), FrameHeight(frame.get()), depth));
    ASSERT_TRUE(writer.writeFrame(*frame));
    ASSERT_TRUE(writer.close());
    ASSERT_TRUE(WriteFitsFile(fit, *frame, error)) << error;

    // The disks are at level 200 of 255: 3200 in 12 bits.
    const double level = depth == 16 ? 3200 : 200;
    for (const std::string& path : {ser, fit}) {
        Box red{}, blue{};
        int bits = 0, lowBytes = 0;
        if (!ReadBack(path, red, blue, bits, lowBytes)) continue;
        std::printf("%s: red patch B %.0f G %.0f R %.0f, blue patch B %.0f G %.0f R %.0f\n",
                    path.c_str(), red.b, red.g, red.r, blue.b, blue.g, blue.r);
        EXPECT_NEAR(red.r, level, level * 0.1) << path;
        EXPECT_NEAR(blue.b, level, level * 0.1) << path;
        EXPECT_LT(red.b + red.g, level * 0.2) << path;
        EXPECT_LT(blue.r + blue.g, level * 0.2) << path;
        if (depth == 16) {
            EXPECT_EQ(bits, 12) << path;       // unshifted 12-bit samples
            EXPECT_GT(lowBytes, 200) << path;  // values 8 bits cannot hold
        }
    }
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Depths, ColourFiles, ::testing::Values(8, 16));
}  // namespace
