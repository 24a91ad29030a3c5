#pragma once
// The display stretch: black point, white point and gamma of the preview, the lookup tables
// that carry them to the samples as they are drawn, the signal colour of clipped samples and
// the stretch taken from a histogram. Display only: no table here is ever applied to a
// frame's samples, only to the pictures made of them.
#include <QList>
#include <QRgb>
#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

// The grey levels of the preview, on the 8-bit scale of the histogram (a 16-bit sample of b
// significant bits counts as sample / 2^(b-8)).
struct DisplayLevels {
    int black = 0;              // levels up to and including this show black
    int white = 255;            // levels above this show white
    int saturationLimit = 255;  // indices at or above this show saturationShade
    int saturationShade = 255;  // grey of the saturated indices
    // Between black and white the grey is 255 * t^(1 / gamma), t running 0..1: above 1 the
    // faint parts are lifted, below 1 they are pressed down.
    double gamma = 1.0;

    bool operator==(const DisplayLevels&) const = default;
};

inline constexpr double kMinGamma = 0.2;
inline constexpr double kMaxGamma = 5.0;

// The grey (0..255) of a level on the 8-bit scale (fractions allowed, for 16-bit samples).
// At gamma 1 it is the linear ramp roundEven((level - black) * 255 / (white - black)); equal
// black and white levels raise white by one.
int stretchedGrey(double level8, const DisplayLevels& levels);

// The colour clipped samples are painted in: magenta, which no planet, the Moon or a grey
// ramp shows.
inline constexpr QRgb kClippedColor = 0xffff00ff;

// The 8-bit picture value of every sample of `bitsPerSample` significant bits (8: 256
// entries; 9..16: one for each of the 65536 words, those above 2^bits - 1 as full scale): its
// stretched grey. With `markClipped` the greys end at
// 254 and the camera's full scale (2^bits - 1), a clipped sample, alone takes 255.
std::vector<uint8_t> displayTable(const DisplayLevels& levels, int bitsPerSample, bool markClipped);
// The colour table of a grey picture. `stretched`: its indices are already the table's
// values (the identity greys); else the indices are 8-bit samples and the palette stretches
// them. With `markClipped` index 255 shows kClippedColor.
QList<QRgb> displayPalette(const DisplayLevels& levels, bool stretched, bool markClipped);

// Whether drawing through `levels` and the clip mark differs from the plain 8-bit view of
// the samples (so the table pass may be skipped).
bool stretchesSamples(const DisplayLevels& levels, bool markClipped);

// Paints every pixel of a BGR picture that has a channel at 255 (a clipped sample under a
// marking table) in kClippedColor.
void paintClipped(cv::Mat& bgr);

// The stretch that shows the frame of these 8-bit counts: black at the background (the 5th
// percentile, the sky of a planet frame), white at the level of the brightest 0.1 % of the
// pixels, at least one level above black; the gamma and the saturation shade of `current`
// are kept.
DisplayLevels autoStretchLevels(const std::array<uint32_t, 256>& counts,
                                const DisplayLevels& current);
