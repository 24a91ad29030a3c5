#pragma once
// The GenICam pixel formats the Aravis camera takes, and the copy of one image from an Aravis
// stream buffer into a buffer of the program. No Aravis call here: the formats are the PFNC
// numbers, so the copy is tested without a camera.
#include <cstddef>
#include <cstdint>

namespace aravis {

// How the samples of a format lie in the stream buffer.
enum class Packing {
    Bytes,         // one byte a sample
    Words,         // one little-endian 16-bit word a sample, the samples unshifted
    GigePacked12,  // two 12-bit samples in 3 bytes: high bits of the first, the two low nibbles,
                   // high bits of the second (Mono12Packed, BayerXX12Packed)
    PfncPacked12,  // two 12-bit samples in 3 bytes, least significant bits first (Mono12p,
                   // BayerXX12p)
};

struct PixelFormat {
    uint32_t code = 0;  // the PFNC number
    int bits = 0;       // significant bits of a sample
    int pattern = 0;    // TARVI_PATTERN_MONO or the Bayer pattern of the image's first rows
    Packing packing = Packing::Bytes;
    const char* name = "";  // the GenICam name
};

// The format of `code`; null when the library does not take it (colour formats, 10-bit
// packed, unknown codes).
const PixelFormat* findPixelFormat(uint32_t code);
const PixelFormat* findPixelFormat(const char* name);

// One image of the stream as it lies in the stream buffer.
struct SourceImage {
    const uint8_t* data = nullptr;
    size_t size = 0;  // bytes the buffer holds
    int width = 0;
    int height = 0;
    const PixelFormat* format = nullptr;
};

// Where it goes: `width` x `height` samples of `depth` bits (8 or 16) a word, rows padded to a
// multiple of 4 bytes; the image's columns from `left` and rows from `top` on, mirrored left to
// right when `mirror`. Samples shrink to 8 bits by their top bits; 16-bit words get them
// unshifted.
struct TargetFrame {
    uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int depth = 8;
    int left = 0;
    int top = 0;
    bool mirror = false;
};

size_t targetStride(const TargetFrame& target);

// Copies the part of `source` that `target` asks for: one block copy when the rows lie alike,
// row by row otherwise. False when the buffer holds less than its size says or the part asked
// for lies outside the image.
bool copyImage(const SourceImage& source, const TargetFrame& target);

}  // namespace aravis
