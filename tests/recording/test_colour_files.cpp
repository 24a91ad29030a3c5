// The simulated camera's colour test card, through the capture thread, recorded as SER and
// FITS and debayered by an independent reader (read_mosaic.py: numpy, astropy) by the
// file's own label: the red disk comes out red, the blue one blue, at the camera's levels.
#include <gtest/gtest.h>

#include <filesystem>

#include "FrameQueue.h"
#include "LoadedCamera.h"
#include "MosaicPatches.h"
#include "RecTestUtil.h"
#include "acquisition/CameraLib.h"
#include "recording/FitsFormat.h"
#include "recording/SerWriter.h"

namespace {
constexpr char kSimCam[] = TV_BINARY_DIR "/bin/libtarvidll.so";

class ColourFiles : public ::testing::TestWithParam<int> {};

TEST_P(ColourFiles, TestCardReadsBackRedAndBlueAtItsLevels) {
    const int depth = GetParam();
    std::string error;
    ASSERT_TRUE(loadCameraLibraryFrom(kSimCam, &error)) << error;
    const auto configure = tvtest::simCamConfigure(kSimCam);
    ASSERT_NE(configure, nullptr);
    configure(1, depth == 16 ? 1 : 0);  // the test card; noise at 16 bits, for the low bytes

    FrameQueue queue;
    CaptureThread capture(queue.poster());
    capture.setGain(10);
    capture.sendGain();
    capture.setDepth(depth);
    ASSERT_TRUE(capture.openCamera());
    EXPECT_EQ(capture.status().cameraBits, 12);
    capture.start();
    FramePtr frame;
    for (int i = 0; i < 20 && !(frame && frameDepth(frame.get()) == depth); ++i)
        frame = queue.pop(5000);
    capture.stop(5000);
    ASSERT_TRUE(frame && frameDepth(frame.get()) == depth);

    const auto dir = std::filesystem::temp_directory_path() /
                     ("tv_colour_" + std::to_string(::getpid()) + "_" + std::to_string(depth));
    std::filesystem::create_directories(dir);
    const std::string ser = (dir / "card.SER").string(), fit = (dir / "card.FIT").string();
    SerWriter writer;
    ASSERT_TRUE(writer.open(ser, frameWidth(frame.get()), frameHeight(frame.get()), depth));
    ASSERT_TRUE(writer.writeFrame(*frame) && writer.close());
    ASSERT_TRUE(writeFitsFile(fit, *frame, error)) << error;

    // Level 200 of 255; at 16 bits 12-bit samples stored at full scale.
    const double level = depth == 16 ? 51200 : 200;
    for (const std::string& path : {ser, fit})
        tvtest::expectRedAndBluePatches(path, "448 400 40 832 400 40", level, 0.1,
                                        depth == 16 ? 12 : 0);
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Depths, ColourFiles, ::testing::Values(8, 16));
}  // namespace
