#include "serformat/SerFormat.h"

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
void putLe(uint8_t* p, U u) {
    for (size_t i = 0; i < sizeof u; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
template <typename U>
U getLe(const uint8_t* p) {
    U u = 0;
    for (size_t i = sizeof u; i-- > 0;) u = static_cast<U>(u << 8 | p[i]);
    return u;
}

void putText(uint8_t* p, const std::string& text) {
    std::memset(p, '_', kTextSize);
    std::memcpy(p, text.data(), std::min(text.size(), kTextSize));
}
}  // namespace

void put32(uint8_t* p, int32_t v) {
    putLe(p, static_cast<uint32_t>(v));
}

void put64(uint8_t* p, int64_t v) {
    putLe(p, static_cast<uint64_t>(v));
}

int32_t get32(const uint8_t* p) {
    return static_cast<int32_t>(getLe<uint32_t>(p));
}

int64_t get64(const uint8_t* p) {
    return static_cast<int64_t>(getLe<uint64_t>(p));
}

void encodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
    std::memcpy(out, kFileId, kFileIdSize);
    put32(out + kLuId, h.luId);
    put32(out + kColorId, h.colorId);
    put32(out + kLittleEndian, h.littleEndian);
    put32(out + kWidth, h.width);
    put32(out + kHeight, h.height);
    put32(out + kDepth, h.depth);
    put32(out + kFrameCountOffset, h.frameCount);
    putText(out + kObserver, h.observer);
    putText(out + kInstrument, h.instrument);
    putText(out + kTelescope, h.telescope);
    put64(out + kDateTime, h.dateTime);
    put64(out + kDateTimeUtc, h.dateTimeUtc);
}

bool decodeHeader(const uint8_t bytes[kHeaderSize], Header* h) {
    if (std::memcmp(bytes, kFileId, kFileIdSize) != 0) return false;
    auto text = [&](size_t at) { return std::string(bytes + at, bytes + at + kTextSize); };
    h->luId = get32(bytes + kLuId);
    h->colorId = get32(bytes + kColorId);
    h->littleEndian = get32(bytes + kLittleEndian);
    h->width = get32(bytes + kWidth);
    h->height = get32(bytes + kHeight);
    h->depth = get32(bytes + kDepth);
    h->frameCount = get32(bytes + kFrameCountOffset);
    h->observer = text(kObserver);
    h->instrument = text(kInstrument);
    h->telescope = text(kTelescope);
    h->dateTime = get64(bytes + kDateTime);
    h->dateTimeUtc = get64(bytes + kDateTimeUtc);
    return true;
}

int planes(int32_t colorId) {
    return colorId == KRgb || colorId == KBgr ? 3 : 1;
}

int bytesPerSample(int32_t depth) {
    return depth > 8 ? 2 : 1;
}

std::string geometryProblem(const Header& h) {
    if (h.width < 1 || h.height < 1)
        return "bad frame size " + std::to_string(h.width) + " x " + std::to_string(h.height);
    if (h.depth < 1 || h.depth > 16)
        return "unsupported sample depth of " + std::to_string(h.depth) + " bits";
    // Mono, the Bayer patterns 8 to 11, the CMY mosaics 16 to 19, RGB and BGR.
    const bool known = h.colorId == KMono || (h.colorId >= KBayerRggb && h.colorId <= KBayerBggr) ||
                       (h.colorId >= 16 && h.colorId <= 19) || h.colorId == KRgb ||
                       h.colorId == KBgr;
    if (!known) return "unknown colour format " + std::to_string(h.colorId);
    return "";
}

uint64_t frameBytes(const Header& h) {
    if (!geometryProblem(h).empty()) return 0;
    // Width and height below 2^31 keep their product below 2^62, and that times at most 6
    // bytes a pixel below 2^65: the last step is checked.
    const uint64_t pixels = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height);
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(pixels, planes(h.colorId) * bytesPerSample(h.depth), &bytes))
        return 0;
    return bytes;
}

uint64_t framesInFile(const Header& h, uint64_t fileSize) {
    const uint64_t perFrame = frameBytes(h);
    if (perFrame == 0 || fileSize < kHeaderSize) return 0;
    return (fileSize - kHeaderSize) / perFrame;
}

uint64_t frameOffset(const Header& h, uint64_t index) {
    return kHeaderSize + frameBytes(h) * index;
}

}  // namespace ser
