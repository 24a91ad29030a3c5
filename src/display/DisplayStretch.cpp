#include "display/DisplayStretch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Rounding.h"

int stretchedGrey(double level8, const DisplayLevels& levels) {
    const int black = levels.black;
    const int white = levels.black == levels.white ? levels.white + 1 : levels.white;
    int64_t v;
    if (level8 <= black) {
        v = 0;
    } else if (level8 > white) {
        v = 255;
    } else if (levels.gamma == 1.0) {
        v = roundEven((level8 - black) * (255.0 / (white - black)));
    } else {
        const double t = (level8 - black) / (white - black);
        v = roundEven(255.0 * std::pow(std::clamp(t, 0.0, 1.0), 1.0 / levels.gamma));
    }
    if (level8 >= levels.saturationLimit) v = levels.saturationShade;
    // A black level above the white one makes the ramp run backwards; every value stays a
    // valid grey whatever the parameters.
    return static_cast<int>(std::clamp<int64_t>(v, 0, 255));
}

std::vector<uint8_t> displayTable(const DisplayLevels& levels, int bitsPerSample,
                                  bool markClipped) {
    const int bits = std::clamp(bitsPerSample, 8, 16);
    // 16-bit words get an entry for every word, so that drawing needs no bounds check; the
    // words above the camera's full scale (which it does not send) read as full scale.
    const size_t values = size_t{1} << bits;
    std::vector<uint8_t> table(bits > 8 ? size_t{1} << 16 : values);
    const double scale = 1.0 / static_cast<double>(1 << (bits - 8));
    for (size_t v = 0; v < values; ++v) {
        const int grey = stretchedGrey(static_cast<double>(v) * scale, levels);
        table[v] = static_cast<uint8_t>(markClipped ? std::min(grey, 254) : grey);
    }
    if (markClipped) table[values - 1] = 255;
    std::fill(table.begin() + static_cast<std::ptrdiff_t>(values), table.end(), table[values - 1]);
    return table;
}

QList<QRgb> displayPalette(const DisplayLevels& levels, bool stretched, bool markClipped) {
    // Unstretched indices are 8-bit samples: their greys are the 8-bit display table's.
    const std::vector<uint8_t> table =
        stretched ? std::vector<uint8_t>() : displayTable(levels, 8, markClipped);
    QList<QRgb> palette;
    palette.reserve(256);
    for (int i = 0; i < 256; ++i) {
        const int g = stretched ? i : table[static_cast<size_t>(i)];
        palette.append(qRgb(g, g, g));
    }
    if (markClipped) palette[255] = kClippedColor;
    return palette;
}

bool stretchesSamples(const DisplayLevels& levels, bool markClipped) {
    return markClipped || levels.black != 0 || levels.white != 255 || levels.gamma != 1.0 ||
           levels.saturationLimit != 255 || levels.saturationShade != 255;
}

void paintClipped(cv::Mat& bgr) {
    // Clipped pixels are few: each row is searched for 255 bytes (memchr runs wide), and only
    // the pixels found are painted.
    const auto rowBytes = static_cast<size_t>(bgr.cols) * 3;
    for (int y = 0; y < bgr.rows; ++y) {
        uint8_t* row = bgr.ptr<uint8_t>(y);
        size_t at = 0;
        while (at < rowBytes) {
            const void* found = std::memchr(row + at, 255, rowBytes - at);
            if (!found) break;
            const size_t byte = static_cast<size_t>(static_cast<const uint8_t*>(found) - row);
            uint8_t* p = row + byte / 3 * 3;
            p[0] = static_cast<uint8_t>(qBlue(kClippedColor));
            p[1] = static_cast<uint8_t>(qGreen(kClippedColor));
            p[2] = static_cast<uint8_t>(qRed(kClippedColor));
            at = byte / 3 * 3 + 3;
        }
    }
}

namespace {
// The level at which `share` of the counted pixels is reached, counting from level 0 or,
// `fromTop`, from level 255 down.
int levelAtShare(const std::array<uint32_t, 256>& counts, double share, bool fromTop) {
    uint64_t total = 0;
    for (uint32_t c : counts) total += c;
    const double wanted = std::max(1.0, static_cast<double>(total) * share);
    double counted = 0;
    for (int i = 0; i < 256; ++i) {
        const int level = fromTop ? 255 - i : i;
        counted += counts[static_cast<size_t>(level)];
        if (counted >= wanted) return level;
    }
    return fromTop ? 0 : 255;
}
}  // namespace

DisplayLevels autoStretchLevels(const std::array<uint32_t, 256>& counts,
                                const DisplayLevels& current) {
    DisplayLevels out = current;
    out.black = std::min(levelAtShare(counts, 0.05, false), 254);
    out.white = std::max(levelAtShare(counts, 0.001, true), out.black + 1);
    return out;
}
