#include "SerFormat.h"

#include <algorithm>
#include <cstring>

namespace ser {
namespace {
// Field offsets in the header.
constexpr size_t kLuId = 14, kColorId = 18, kLittleEndian = 22, kWidth = 26, kHeight = 30,
                 kDepth = 34, kObserver = 42, kInstrument = 82, kTelescope = 122, kDateTime = 162,
                 kDateTimeUtc = 170;
constexpr size_t kFileIdSize = sizeof kFileId - 1;
static_assert(kDateTimeUtc + 8 == kHeaderSize);
static_assert(kTelescope + kTextSize == kDateTime);

// Unsigned integers, little-endian.
template <typename U>
void PutLe(uint8_t* p, U u) {
    for (size_t i = 0; i < sizeof u; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
template <typename U>
U GetLe(const uint8_t* p) {
    U u = 0;
    for (size_t i = sizeof u; i-- > 0;) u = static_cast<U>(u << 8 | p[i]);
    return u;
}

void PutText(uint8_t* p, const std::string& text) {
    std::memset(p, '_', kTextSize);
    std::memcpy(p, text.data(), std::min(text.size(), kTextSize));
}
}  // namespace

void Put32(uint8_t* p, int32_t v) {
    PutLe(p, static_cast<uint32_t>(v));
}

void Put64(uint8_t* p, int64_t v) {
    PutLe(p, static_cast<uint64_t>(v));
}

int32_t Get32(const uint8_t* p) {
    return static_cast<int32_t>(GetLe<uint32_t>(p));
}

int64_t Get64(const uint8_t* p) {
    return static_cast<int64_t>(GetLe<uint64_t>(p));
}

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
    std::memcpy(out, kFileId, kFileIdSize);
    Put32(out + kLuId, h.luId);
    Put32(out + kColorId, h.colorId);
    Put32(out + kLittleEndian, h.littleEndian);
    Put32(out + kWidth, h.width);
    Put32(out + kHeight, h.height);
    Put32(out + kDepth, h.depth);
    Put32(out + kFrameCountOffset, h.frameCount);
    PutText(out + kObserver, h.observer);
    PutText(out + kInstrument, h.instrument);
    PutText(out + kTelescope, h.telescope);
    Put64(out + kDateTime, h.dateTime);
    Put64(out + kDateTimeUtc, h.dateTimeUtc);
}

bool DecodeHeader(const uint8_t bytes[kHeaderSize], Header* h) {
    if (std::memcmp(bytes, kFileId, kFileIdSize) != 0) return false;
    auto text = [&](size_t at) { return std::string(bytes + at, bytes + at + kTextSize); };
    h->luId = Get32(bytes + kLuId);
    h->colorId = Get32(bytes + kColorId);
    h->littleEndian = Get32(bytes + kLittleEndian);
    h->width = Get32(bytes + kWidth);
    h->height = Get32(bytes + kHeight);
    h->depth = Get32(bytes + kDepth);
    h->frameCount = Get32(bytes + kFrameCountOffset);
    h->observer = text(kObserver);
    h->instrument = text(kInstrument);
    h->telescope = text(kTelescope);
    h->dateTime = Get64(bytes + kDateTime);
    h->dateTimeUtc = Get64(bytes + kDateTimeUtc);
    return true;
}

int Planes(int32_t colorId) {
    return colorId == kRgb || colorId == kBgr ? 3 : 1;
}

int BytesPerSample(int32_t depth) {
    return depth > 8 ? 2 : 1;
}

std::string GeometryProblem(const Header& h) {
    if (h.width < 1 || h.height < 1)
        return "bad frame size " + std::to_string(h.width) + " x " + std::to_string(h.height);
    if (h.depth < 1 || h.depth > 16)
        return "unsupported sample depth of " + std::to_string(h.depth) + " bits";
    // Mono, the Bayer patterns 8 to 11, the CMY mosaics 16 to 19, RGB and BGR.
    const bool known = h.colorId == kMono || (h.colorId >= kBayerRggb && h.colorId <= kBayerBggr) ||
                       (h.colorId >= 16 && h.colorId <= 19) || h.colorId == kRgb ||
                       h.colorId == kBgr;
    if (!known) return "unknown colour format " + std::to_string(h.colorId);
    return "";
}

uint64_t FrameBytes(const Header& h) {
    if (!GeometryProblem(h).empty()) return 0;
    // Width and height below 2^31 keep their product below 2^62, and that times at most 6
    // bytes a pixel below 2^65: the last step is checked.
    const uint64_t pixels = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height);
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(pixels, Planes(h.colorId) * BytesPerSample(h.depth), &bytes))
        return 0;
    return bytes;
}

uint64_t FramesInFile(const Header& h, uint64_t fileSize) {
    const uint64_t frameBytes = FrameBytes(h);
    if (frameBytes == 0 || fileSize < kHeaderSize) return 0;
    return (fileSize - kHeaderSize) / frameBytes;
}

uint64_t FrameOffset(const Header& h, uint64_t index) {
    return kHeaderSize + FrameBytes(h) * index;
}

}  // namespace ser
