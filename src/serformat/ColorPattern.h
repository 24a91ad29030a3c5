#pragma once
// The colour filter mosaic of a frame's samples as stored, from its top-left pixel: the one
// type the program, the SER layout and the SER playback camera share. Its values are the SER
// format's ColorIDs for mono and the Bayer mosaics; the Bayer ones are also those the camera
// library reports (TARVI_PATTERN_RGGB to TARVI_PATTERN_BGGR in tarvidll.h). Plain C++, so a
// camera library can use it.
#include <cstdint>

enum class ColorPattern : int32_t { Mono = 0, RGGB = 8, GRBG = 9, GBRG = 10, BGGR = 11 };
