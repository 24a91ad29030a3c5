// Decoding the driver's images and moving them into the program's frame layout.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FrameCopy.h"

namespace {
using indicam::Image;

// A w x h colour mosaic in the given pattern: each sample is its colour's index in "RGB"
// times 1000 plus its place in the image, so that every sample differs.
Image mosaic(int w, int h, const std::string& pattern) {
    Image img{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h), pattern};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const char c = pattern[(y & 1) * 2 + (x & 1)];
            img.pixels[static_cast<size_t>(y) * w + x] =
                static_cast<uint16_t>(std::string("RGB").find(c) * 1000 + y * w + x);
        }
    return img;
}

TEST(FrameCopy, MosaicIsCopiedAsSentAndLabelledAsStored) {
    for (const std::string pattern : {"RGGB", "BGGR", "GRBG", "GBRG"}) {
        for (bool mirror : {false, true}) {
            for (auto [w, h] : {std::pair{8, 6}, std::pair{7, 5}}) {
                const Image src = mosaic(12, 10, pattern);
                const size_t stride = indicam::paddedStride(w, 16);
                std::vector<uint8_t> frame(stride * h, 0xAB);
                ASSERT_TRUE(indicam::copyToFrame(src, w, h, mirror, 16, frame.data()));
                const std::string label = indicam::framePattern(src, w, h, mirror);
                // Every sample from its place in the centred cut-out, and of the label's colour.
                const int left = indicam::centredOffset(12, w), top = indicam::centredOffset(10, h);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        uint16_t v;
                        std::memcpy(&v, frame.data() + y * stride + 2 * x, 2);
                        const int sx = left + (mirror ? w - 1 - x : x);
                        ASSERT_EQ(v, src.pixels[(top + y) * 12 + sx])
                            << pattern << " " << x << "," << y;
                        ASSERT_EQ("RGB"[v / 1000], label[(y & 1) * 2 + (x & 1)])
                            << pattern << " " << w << (mirror ? " mirrored" : "") << " as "
                            << label;
                    }
                for (size_t b = 2 * w; b < stride; ++b) EXPECT_EQ(frame[b], 0xAB);
            }
        }
    }
    EXPECT_EQ(indicam::framePattern(Image{4, 4, std::vector<uint16_t>(16), ""}, 2, 2, true), "");
}

TEST(FrameCopy, MonoIsCroppedAtTheCentreAndMirrored) {
    Image src{10, 6, std::vector<uint16_t>(60), ""};
    for (int i = 0; i < 60; ++i) src.pixels[i] = static_cast<uint16_t>(i);
    std::vector<uint8_t> frame(4 * 2, 0);
    ASSERT_TRUE(indicam::copyToFrame(src, 4, 2, false, 8, frame.data()));
    EXPECT_EQ(frame, (std::vector<uint8_t>{22, 23, 24, 25, 32, 33, 34, 35}));  // from (2, 2) on
    ASSERT_TRUE(indicam::copyToFrame(src, 4, 2, true, 8, frame.data()));
    EXPECT_EQ(frame, (std::vector<uint8_t>{25, 24, 23, 22, 35, 34, 33, 32}));
    EXPECT_FALSE(indicam::copyToFrame(src, 12, 2, false, 8, frame.data()));
}

// A FITS file in memory, written with cfitsio.
std::vector<uint8_t> fits(int bitpix, int w, int h, const std::vector<uint16_t>& values,
                          const char* bayer, int xOffset = 0) {
    size_t size = 2880;
    void* mem = malloc(size);
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_memfile(&f, &mem, &size, 2880, realloc, &status);
    long axes[2] = {w, h};
    fits_create_img(f, bitpix, 2, axes, &status);
    if (bayer) fits_write_key(f, TSTRING, "BAYERPAT", const_cast<char*>(bayer), "", &status);
    if (xOffset) fits_write_key(f, TINT, "XBAYROFF", &xOffset, "", &status);
    std::vector<uint16_t> copy = values;
    fits_write_img(f, TUSHORT, 1, static_cast<LONGLONG>(copy.size()), copy.data(), &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0);
    std::vector<uint8_t> out(static_cast<uint8_t*>(mem), static_cast<uint8_t*>(mem) + size);
    free(mem);
    return out;
}

// Copies of a decoded image: 8-bit buffers scaled by the reported depth, 16-bit ones exact.
std::vector<uint8_t> copied(const Image& img, int depth) {
    std::vector<uint8_t> frame(indicam::paddedStride(img.width, depth) * img.height, 0xAB);
    EXPECT_TRUE(indicam::copyToFrame(img, img.width, img.height, false, depth, frame.data()));
    return frame;
}

TEST(FrameCopy, FitsSamplesArriveWholeIn16BitsAndScaledIn8) {
    const std::vector<uint16_t> values{0, 255, 256, 4095, 65535, 1000};
    const auto sixteen = fits(USHORT_IMG, 3, 2, values, "RGGB", 1);
    Image img;
    std::string error;
    ASSERT_TRUE(indicam::decodeFits(sixteen.data(), sixteen.size(), 16, &img, &error)) << error;
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(img.height, 2);
    EXPECT_EQ(img.bits, 16);
    EXPECT_EQ(img.bayer, "GRBG");  // RGGB from the second column
    EXPECT_EQ(copied(img, 8), (std::vector<uint8_t>{0, 0, 1, 0xAB, 15, 255, 3, 0xAB}));
    // 16-bit words in the machine's order, rows of 6 bytes padded to 8.
    std::vector<uint8_t> words(16, 0xAB);
    for (int i = 0; i < 6; ++i) std::memcpy(&words[i / 3 * 8 + i % 3 * 2], &values[i], 2);
    EXPECT_EQ(copied(img, 16), words);

    ASSERT_TRUE(indicam::decodeFits(sixteen.data(), sixteen.size(), 12, &img, &error)) << error;
    EXPECT_EQ(img.bits, 12);
    EXPECT_EQ(copied(img, 8), (std::vector<uint8_t>{0, 15, 16, 0xAB, 255, 255, 62, 0xAB}));

    const auto eight = fits(BYTE_IMG, 3, 2, {1, 2, 3, 4, 5, 6}, nullptr);
    ASSERT_TRUE(indicam::decodeFits(eight.data(), eight.size(), 16, &img, &error)) << error;
    EXPECT_EQ(img.bits, 8);
    EXPECT_EQ(copied(img, 8), (std::vector<uint8_t>{1, 2, 3, 0xAB, 4, 5, 6, 0xAB}));
    EXPECT_EQ(img.bayer, "");

    const std::vector<uint8_t> junk(5000, 'x');
    EXPECT_FALSE(indicam::decodeFits(junk.data(), junk.size(), 16, &img, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
