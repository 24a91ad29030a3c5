#include "display/DisplayStretch.h"

#include <algorithm>
#include <cmath>

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
    std::vector<uint8_t> table(size_t{1} << bits);
    const double scale = 1.0 / static_cast<double>(1 << (bits - 8));
    for (size_t v = 0; v < table.size(); ++v) {
        const int grey = stretchedGrey(static_cast<double>(v) * scale, levels);
        table[v] = static_cast<uint8_t>(markClipped ? std::min(grey, 254) : grey);
    }
    if (markClipped) table.back() = 255;
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
    for (int y = 0; y < bgr.rows; ++y) {
        uint8_t* p = bgr.ptr<uint8_t>(y);
        for (int x = 0; x < bgr.cols; ++x, p += 3) {
            if (p[0] == 255 || p[1] == 255 || p[2] == 255) {
                p[0] = static_cast<uint8_t>(qBlue(kClippedColor));
                p[1] = static_cast<uint8_t>(qGreen(kClippedColor));
                p[2] = static_cast<uint8_t>(qRed(kClippedColor));
            }
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
