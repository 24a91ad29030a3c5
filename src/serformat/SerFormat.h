#pragma once
// The SER video file: a 178-byte header, the frames one after the other, then a trailer of
// one 8-byte time stamp per frame (100-ns ticks since 0001-01-01, UTC). All integers are
// little-endian. The header layout is spelled here only; the writer, the recovery of cut-short
// recordings and the playback camera all go through it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "serformat/ColorPattern.h"

namespace ser {

constexpr size_t kHeaderSize = 178;
constexpr size_t kColorIdOffset = 18;
constexpr size_t kFrameCountOffset = 38;
constexpr size_t kStampSize = 8;
constexpr size_t kTextSize = 40;
constexpr char kFileId[] = "LUCAM-RECORDER";  // 14 characters, stored without the zero

// ColorID values: mono and the Bayer mosaics are the colour patterns' own values.
enum : int32_t {
    KMono = static_cast<int32_t>(ColorPattern::Mono),
    KBayerRggb = static_cast<int32_t>(ColorPattern::RGGB),
    KBayerGrbg = static_cast<int32_t>(ColorPattern::GRBG),
    KBayerGbrg = static_cast<int32_t>(ColorPattern::GBRG),
    KBayerBggr = static_cast<int32_t>(ColorPattern::BGGR),
    KRgb = 100,  // three planes per pixel, red first
    KBgr = 101,  // three planes per pixel, blue first
};

struct Header {
    int32_t luId = 0;
    int32_t colorId = KMono;
    int32_t littleEndian = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;  // PixelDepthPerPlane, bits of one sample
    int32_t frameCount = 0;
    // Up to 40 characters each; shorter texts are padded with underscores when encoded.
    std::string observer;
    std::string instrument;
    std::string telescope;
    int64_t dateTime = 0;     // local time, in ticks
    int64_t dateTimeUtc = 0;  // the same instant in UTC
};

void put32(uint8_t* p, int32_t v);
void put64(uint8_t* p, int64_t v);
int32_t get32(const uint8_t* p);
int64_t get64(const uint8_t* p);

// The header as the 178 bytes at the start of the file.
void encodeHeader(const Header& header, uint8_t out[kHeaderSize]);
// False when the bytes do not start with the file identifier.
bool decodeHeader(const uint8_t bytes[kHeaderSize], Header* header);

// Samples per pixel: 3 for the RGB and BGR ColorIDs, else 1.
int planes(int32_t colorId);
// Bytes of one sample: 1 up to 8 bits, 2 above.
int bytesPerSample(int32_t depth);
// Why the header's width, height, depth or colour cannot describe frames; "" when they can.
std::string geometryProblem(const Header& header);
// Bytes of one frame; 0 when geometryProblem() finds one or the size passes 64 bits.
uint64_t frameBytes(const Header& header);
// Whole frames that `fileSize` bytes of a file with this header hold (trailer not counted).
uint64_t framesInFile(const Header& header, uint64_t fileSize);
// Where frame `index` starts; index below framesInFile().
uint64_t frameOffset(const Header& header, uint64_t index);

}  // namespace ser
