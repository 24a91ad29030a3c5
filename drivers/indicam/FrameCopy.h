// Turning the images an INDI camera driver sends into the program's frames: decoding FITS
// (cfitsio) and the raw video stream, cropping and mirroring them into 8-bit samples (scaled)
// or 16-bit words (as the driver made them), and naming the colour mosaic of the result. No
// INDI here, so it is testable alone.
#ifndef INDICAM_FRAMECOPY_H
#define INDICAM_FRAMECOPY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace indicam {

// A decoded image: one plane of samples as the driver sent them, row after row without
// padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> pixels;
    std::string bayer;      // colour mosaic from the top left, e.g. "RGGB"; empty for mono
    long long startUs = 0;  // exposure start, microseconds since 1970 UTC; 0 = not known
    int bits = 8;           // significant bits of each sample: 8, or 9 to 16
};

// Decodes a FITS file held in memory (2-D, 8 or 16 bits). 16-bit values are kept as they
// are, of bitsPerPixel significant bits (the depth the driver reports; 0 or out of 9..16
// means 16). The BAYERPAT keyword, moved by XBAYROFF/YBAYROFF, gives the mosaic; DATE-OBS (UTC, to
// the fraction of a second it is written with) gives the start of the exposure. False with *error
// set when the data is not such an image.
bool decodeFits(const void* data, size_t size, int bitsPerPixel, Image* out, std::string* error);

// A FITS date "YYYY-MM-DDThh:mm:ss[.ffffff]" (UTC) as microseconds since 1970; 0 when it
// is not such a date.
long long fitsDateToUnixUs(const std::string& text);

// The 2 x 2 colour mosaic "RGGB", "BGGR", "GRBG" or "GBRG" moved by (dx, dy) pixels.
std::string shiftPattern(const std::string& pattern, int dx, int dy);

// Copies the width x height part of src whose left edge and top row are `left` and `top`
// (placed by placedOffset; negative: centred) into dst, mirrored left to right when mirror
// is set. depth 8: one byte per sample, scaled from src.bits to 8 bits; depth 16: one 16-bit
// word per sample in the machine's byte order, the value as the driver sent it. Rows are
// padded to a multiple of 4 bytes. The mosaic is left as it is: framePattern names it.
// False when src is smaller than width x height.
bool copyToFrame(const Image& src, int width, int height, bool mirror, int depth, uint8_t* dst,
                 int left = -1, int top = -1);

// The mosaic of what copyToFrame makes of src: src.bayer relabelled for the crop and the
// mirror; empty for mono.
std::string framePattern(const Image& src, int width, int height, bool mirror, int left = -1,
                         int top = -1);

// The padded row length the program uses for a frame of this width and depth (8 or 16).
inline size_t paddedStride(int width, int depth = 8) {
    const size_t bytes = static_cast<size_t>(width) * (depth == 16 ? 2 : 1);
    return (bytes + 3) & ~static_cast<size_t>(3);
}

// Left or top of a centred subframe: half the spare room, down to an even pixel, so that
// a colour mosaic keeps its phase.
inline int centredOffset(int full, int part) {
    return part >= full ? 0 : ((full - part) / 2) & ~1;
}

// Left or top of a part of `full` asked to start at `asked`: centred where negative, else
// moved inside (at most full - part), then rounded down to even for the mosaic's phase.
inline int placedOffset(int full, int part, int asked) {
    if (asked < 0) return centredOffset(full, part);
    const int room = part >= full ? 0 : full - part;
    return (asked < room ? asked : room) & ~1;
}

}  // namespace indicam

#endif
