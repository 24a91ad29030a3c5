#include "PixelFormats.h"

#include <algorithm>
#include <cstring>

#include "tarvidll.h"

namespace aravis {
namespace {
constexpr int kMono = TARVI_PATTERN_MONO, kRggb = TARVI_PATTERN_RGGB, kGrbg = TARVI_PATTERN_GRBG,
              kGbrg = TARVI_PATTERN_GBRG, kBggr = TARVI_PATTERN_BGGR;

// The PFNC numbers (the same as Aravis' ARV_PIXEL_FORMAT_ values).
const PixelFormat kFormats[] = {
    {0x01080001u, 8, kMono, Packing::Bytes, "Mono8"},
    {0x01100003u, 10, kMono, Packing::Words, "Mono10"},
    {0x01100005u, 12, kMono, Packing::Words, "Mono12"},
    {0x010c0006u, 12, kMono, Packing::GigePacked12, "Mono12Packed"},
    {0x010c0047u, 12, kMono, Packing::PfncPacked12, "Mono12p"},
    {0x01100025u, 14, kMono, Packing::Words, "Mono14"},
    {0x01100007u, 16, kMono, Packing::Words, "Mono16"},
    {0x01080008u, 8, kGrbg, Packing::Bytes, "BayerGR8"},
    {0x01080009u, 8, kRggb, Packing::Bytes, "BayerRG8"},
    {0x0108000au, 8, kGbrg, Packing::Bytes, "BayerGB8"},
    {0x0108000bu, 8, kBggr, Packing::Bytes, "BayerBG8"},
    {0x0110000cu, 10, kGrbg, Packing::Words, "BayerGR10"},
    {0x0110000du, 10, kRggb, Packing::Words, "BayerRG10"},
    {0x0110000eu, 10, kGbrg, Packing::Words, "BayerGB10"},
    {0x0110000fu, 10, kBggr, Packing::Words, "BayerBG10"},
    {0x01100010u, 12, kGrbg, Packing::Words, "BayerGR12"},
    {0x01100011u, 12, kRggb, Packing::Words, "BayerRG12"},
    {0x01100012u, 12, kGbrg, Packing::Words, "BayerGB12"},
    {0x01100013u, 12, kBggr, Packing::Words, "BayerBG12"},
    {0x010c002au, 12, kGrbg, Packing::GigePacked12, "BayerGR12Packed"},
    {0x010c002bu, 12, kRggb, Packing::GigePacked12, "BayerRG12Packed"},
    {0x010c002cu, 12, kGbrg, Packing::GigePacked12, "BayerGB12Packed"},
    {0x010c002du, 12, kBggr, Packing::GigePacked12, "BayerBG12Packed"},
    {0x010c0057u, 12, kGrbg, Packing::PfncPacked12, "BayerGR12p"},
    {0x010c0059u, 12, kRggb, Packing::PfncPacked12, "BayerRG12p"},
    {0x010c0055u, 12, kGbrg, Packing::PfncPacked12, "BayerGB12p"},
    {0x010c0053u, 12, kBggr, Packing::PfncPacked12, "BayerBG12p"},
    {0x0110002eu, 16, kGrbg, Packing::Words, "BayerGR16"},
    {0x0110002fu, 16, kRggb, Packing::Words, "BayerRG16"},
    {0x01100030u, 16, kGbrg, Packing::Words, "BayerGB16"},
    {0x01100031u, 16, kBggr, Packing::Words, "BayerBG16"},
};

size_t sourceStride(const SourceImage& source) {
    const size_t w = static_cast<size_t>(source.width);
    switch (source.format->packing) {
        case Packing::Bytes:
            return w;
        case Packing::Words:
            return 2 * w;
        default:
            return (3 * w + 1) / 2;
    }
}

// Sample x of a row as it lies in the stream buffer.
uint16_t sampleAt(const uint8_t* row, Packing packing, int x) {
    switch (packing) {
        case Packing::Bytes:
            return row[x];
        case Packing::Words:
            return static_cast<uint16_t>(row[2 * x] | (row[2 * x + 1] << 8));
        case Packing::GigePacked12: {
            const uint8_t* p = row + 3 * (x / 2);
            return (x & 1) ? static_cast<uint16_t>((p[2] << 4) | (p[1] >> 4))
                           : static_cast<uint16_t>((p[0] << 4) | (p[1] & 0x0f));
        }
        case Packing::PfncPacked12: {
            const uint8_t* p = row + 3 * (x / 2);
            return (x & 1) ? static_cast<uint16_t>((p[2] << 4) | (p[1] >> 4))
                           : static_cast<uint16_t>(p[0] | ((p[1] & 0x0f) << 8));
        }
    }
    return 0;
}
}  // namespace

const PixelFormat* findPixelFormat(uint32_t code) {
    for (const PixelFormat& f : kFormats)
        if (f.code == code) return &f;
    return nullptr;
}

const PixelFormat* findPixelFormat(const char* name) {
    for (const PixelFormat& f : kFormats)
        if (name && std::strcmp(f.name, name) == 0) return &f;
    return nullptr;
}

size_t targetStride(const TargetFrame& target) {
    const size_t bytes = static_cast<size_t>(target.width) * (target.depth == 16 ? 2 : 1);
    return (bytes + 3) & ~size_t{3};
}

bool copyImage(const SourceImage& source, const TargetFrame& target) {
    if (!source.data || !source.format || !target.data || target.width < 1 || target.height < 1)
        return false;
    if (target.left < 0 || target.top < 0 || target.left + target.width > source.width ||
        target.top + target.height > source.height)
        return false;
    const size_t inStride = sourceStride(source);
    if (source.size < inStride * static_cast<size_t>(source.height)) return false;
    const size_t outStride = targetStride(target);
    const Packing packing = source.format->packing;
    const bool wide = target.depth == 16;
    const int shift = wide ? 0 : source.format->bits - 8;

    // Samples that need neither unpacking nor narrowing: rows copied as they are, all at once
    // when the rows lie alike in both buffers.
    const bool same = (packing == Packing::Bytes && !wide) || (packing == Packing::Words && wide);
    if (same && !target.mirror) {
        const size_t sample = wide ? 2 : 1;
        const size_t rowBytes = static_cast<size_t>(target.width) * sample;
        const uint8_t* in = source.data + static_cast<size_t>(target.top) * inStride +
                            static_cast<size_t>(target.left) * sample;
        if (inStride == outStride && target.left == 0) {
            std::memcpy(target.data, in, outStride * static_cast<size_t>(target.height));
            return true;
        }
        for (int y = 0; y < target.height; ++y)
            std::memcpy(target.data + y * outStride, in + y * inStride, rowBytes);
        return true;
    }
    for (int y = 0; y < target.height; ++y) {
        const uint8_t* in = source.data + static_cast<size_t>(target.top + y) * inStride;
        uint8_t* out = target.data + static_cast<size_t>(y) * outStride;
        for (int x = 0; x < target.width; ++x) {
            const int from = target.left + (target.mirror ? target.width - 1 - x : x);
            const uint16_t v = sampleAt(in, packing, from);
            if (wide)
                std::memcpy(out + 2 * x, &v, 2);  // the machine's byte order
            else
                out[x] = static_cast<uint8_t>(shift > 0 ? v >> shift : v);
        }
    }
    return true;
}

}  // namespace aravis
