// The red and blue squares of a colour test card, read back from a recorded SER or FIT by an
// independent reader (tests/recording/read_mosaic.py, numpy and astropy) that debayers the
// file by its own colour label.
#ifndef TESTS_MOSAICPATCHES_H
#define TESTS_MOSAICPATCHES_H

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "RunCommand.h"

namespace tvtest {

// `boxes` is the reader's "X Y SIZE X Y SIZE" of the red and the blue square. The red square
// must read red and the blue one blue at `level` (within `tolerance` of it); with `bits` set
// (the camera's significant bits, 9 to 16), the file's samples must lie at full scale (16
// bits, the lowest 16 - bits always 0) and vary in the bits above those.
inline void expectRedAndBluePatches(const std::string& path, const std::string& boxes, double level,
                                    double tolerance, int bits = 0) {
    std::string out;
    ASSERT_EQ(runCommand("/usr/bin/python3 " TV_SOURCE_DIR "/tests/recording/read_mosaic.py " +
                             quote(path) + " " + boxes,
                         out),
              0)
        << out;
    std::istringstream in(out);
    double red[3] = {}, blue[3] = {};  // B, G, R
    std::string word;
    int fileBits = 0, lowBytes = 0, zeroBits = -1;
    in >> red[0] >> red[1] >> red[2] >> blue[0] >> blue[1] >> blue[2] >> word >> fileBits >>
        lowBytes >> zeroBits;
    std::printf("%s: red patch B G R, blue patch B G R:\n%s", path.c_str(), out.c_str());
    EXPECT_NEAR(red[2], level, level * tolerance) << path;
    EXPECT_NEAR(blue[0], level, level * tolerance) << path;
    EXPECT_LT(red[0] + red[1] + blue[1] + blue[2], level * 0.3) << path;
    if (bits > 0) {
        EXPECT_EQ(fileBits, 16) << path;
        EXPECT_EQ(zeroBits, 16 - bits) << path;
        EXPECT_GT(lowBytes, (200 >> (16 - bits))) << path;  // values 8 bits cannot hold
    }
}

}  // namespace tvtest

#endif
