// Turning the images an INDI camera driver sends into the program's frames: decoding FITS
// (cfitsio) and the raw video stream, scaling to 8 bits, cropping, mirroring and moving the
// colour mosaic into the phase the program demosaics. No INDI here, so it is testable alone.
#ifndef INDICAM_FRAMECOPY_H
#define INDICAM_FRAMECOPY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace indicam {

// A decoded image: one 8-bit plane, row after row without padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    std::string bayer;      // colour mosaic from the top left, e.g. "RGGB"; empty for mono
    long long startUs = 0;  // exposure start, microseconds since 1970 UTC; 0 = not known
};

// Decodes a FITS file held in memory (2-D, 8 or 16 bits). 16-bit values are scaled to
// 8 bits by bitsPerPixel (the depth the driver reports; 0 or out of 9..16 means 16). The
// BAYERPAT keyword, moved by XBAYROFF/YBAYROFF, gives the mosaic; DATE-OBS (UTC, to the
// fraction of a second it is written with) gives the start of the exposure. False with *error set
// when the data is not such an image.
bool DecodeFits(const void* data, size_t size, int bitsPerPixel, Image* out, std::string* error);

// A FITS date "YYYY-MM-DDThh:mm:ss[.ffffff]" (UTC) as microseconds since 1970; 0 when it
// is not such a date.
long long FitsDateToUnixUs(const std::string& text);

// The 2 x 2 colour mosaic "RGGB", "BGGR", "GRBG" or "GBRG" moved by (dx, dy) pixels.
std::string ShiftPattern(const std::string& pattern, int dx, int dy);

// The mosaic the program demosaics: blue at the top left ("BGGR"), or its mirror image
// ("GBRG") for frames the program knows are flipped.
std::string ProgramPattern(bool flipped);

// Copies the centred width x height part of src into dst, whose rows are padded to a
// multiple of 4 bytes, mirrored left to right when mirror is set. When src has a mosaic,
// the result is moved by a row and/or a column as needed so that it starts in
// ProgramPattern(flipped); the rows and columns that move in past the edge repeat the
// ones two away, which keeps the mosaic. False when src is smaller than width x height.
bool CopyToFrame(const Image& src, int width, int height, bool mirror, bool flipped, uint8_t* dst);

// The padded row length the program uses for a frame of this width.
inline size_t PaddedStride(int width) {
    return (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
}

// Left or top of a centred subframe: half the spare room, down to an even pixel, so that
// a colour mosaic keeps its phase.
inline int CentredOffset(int full, int part) {
    return part >= full ? 0 : ((full - part) / 2) & ~1;
}

}  // namespace indicam

#endif
