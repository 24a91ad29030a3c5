// Decoding the driver's images and moving them into the program's frame layout.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <vector>

#include "FrameCopy.h"

namespace {
using indicam::Image;

// A w x h colour mosaic in the given pattern with red 200, green 100 and blue 50.
Image Mosaic(int w, int h, const std::string& pattern) {
    Image img{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h), pattern};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const char c = pattern[(y & 1) * 2 + (x & 1)];
            img.pixels[static_cast<size_t>(y) * w + x] = c == 'R' ? 200 : c == 'G' ? 100 : 50;
        }
    return img;
}

// The colour of each of the four sites at the top left of a frame, as a pattern.
std::string PatternOf(const std::vector<uint8_t>& frame, size_t stride) {
    std::string p;
    for (int i = 0; i < 4; ++i) {
        const uint8_t v = frame[(i >> 1) * stride + (i & 1)];
        p += v == 200 ? 'R' : v == 100 ? 'G' : v == 50 ? 'B' : '?';
    }
    return p;
}

TEST(FrameCopy, EveryMosaicEndsInTheProgramsPhaseEvenAtTheEdges) {
    for (const std::string pattern : {"RGGB", "BGGR", "GRBG", "GBRG"}) {
        for (bool mirror : {false, true}) {
            for (auto [w, h] : {std::pair{8, 6}, std::pair{7, 5}}) {
                const Image src = Mosaic(12, 10, pattern);
                const size_t stride = indicam::PaddedStride(w);
                std::vector<uint8_t> frame(stride * h, 0xAB);
                ASSERT_TRUE(indicam::CopyToFrame(src, w, h, mirror, mirror, frame.data()));
                const std::string want = indicam::ProgramPattern(mirror);
                EXPECT_EQ(PatternOf(frame, stride), want)
                    << pattern << " " << w << (mirror ? " mirrored" : "");
                // The whole frame keeps the mosaic, the last row and column included.
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const char c = want[(y & 1) * 2 + (x & 1)];
                        const int v = c == 'R' ? 200 : c == 'G' ? 100 : 50;
                        ASSERT_EQ(frame[y * stride + x], v) << pattern << " at " << x << "," << y;
                    }
                for (size_t x = w; x < stride; ++x) EXPECT_EQ(frame[x], 0xAB);
            }
        }
    }
}

TEST(FrameCopy, MonoIsCroppedAtTheCentreAndMirrored) {
    Image src{10, 6, std::vector<uint8_t>(60), ""};
    for (int i = 0; i < 60; ++i) src.pixels[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> frame(4 * 2, 0);
    ASSERT_TRUE(indicam::CopyToFrame(src, 4, 2, false, false, frame.data()));
    EXPECT_EQ(frame, (std::vector<uint8_t>{22, 23, 24, 25, 32, 33, 34, 35}));  // from (2, 2) on
    ASSERT_TRUE(indicam::CopyToFrame(src, 4, 2, true, true, frame.data()));
    EXPECT_EQ(frame, (std::vector<uint8_t>{25, 24, 23, 22, 35, 34, 33, 32}));
    EXPECT_FALSE(indicam::CopyToFrame(src, 12, 2, false, false, frame.data()));
}

// A FITS file in memory, written with cfitsio.
std::vector<uint8_t> Fits(int bitpix, int w, int h, const std::vector<uint16_t>& values,
                          const char* bayer) {
    size_t size = 2880;
    void* mem = malloc(size);
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_memfile(&f, &mem, &size, 2880, realloc, &status);
    long axes[2] = {w, h};
    fits_create_img(f, bitpix, 2, axes, &status);
    if (bayer) fits_write_key(f, TSTRING, "BAYERPAT", const_cast<char*>(bayer), "", &status);
    std::vector<uint16_t> copy = values;
    fits_write_img(f, TUSHORT, 1, static_cast<LONGLONG>(copy.size()), copy.data(), &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0);
    std::vector<uint8_t> out(static_cast<uint8_t*>(mem), static_cast<uint8_t*>(mem) + size);
    free(mem);
    return out;
}

TEST(FrameCopy, FitsIsScaledByTheReportedDepthAndKeepsItsMosaic) {
    const std::vector<uint16_t> values{0, 255, 256, 4095, 65535, 1000};
    const auto sixteen = Fits(USHORT_IMG, 3, 2, values, "RGGB");
    Image img;
    std::string error;
    ASSERT_TRUE(indicam::DecodeFits(sixteen.data(), sixteen.size(), 16, &img, &error)) << error;
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(img.height, 2);
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{0, 0, 1, 15, 255, 3}));
    EXPECT_EQ(img.bayer, "RGGB");
    ASSERT_TRUE(indicam::DecodeFits(sixteen.data(), sixteen.size(), 12, &img, &error)) << error;
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{0, 15, 16, 255, 255, 62}));  // 12-bit data

    const auto eight = Fits(BYTE_IMG, 3, 2, {1, 2, 3, 4, 5, 6}, nullptr);
    ASSERT_TRUE(indicam::DecodeFits(eight.data(), eight.size(), 8, &img, &error)) << error;
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(img.bayer, "");

    const std::vector<uint8_t> junk(5000, 'x');
    EXPECT_FALSE(indicam::DecodeFits(junk.data(), junk.size(), 16, &img, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
