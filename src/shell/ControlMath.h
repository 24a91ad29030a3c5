#pragma once
// The arithmetic behind the camera controls of the main window: exposure commit and range
// presets, white balance values, and the subframe sliders with their drawing.
#include <QString>
#include <cstdint>

// An exposure commit cancels the exposure in progress when the previous length exceeds
// this (501 ms and more); a shorter exposure is left to finish.
inline constexpr int32_t kCancelAboveMs = 500;
bool commitCancelsExposure(int32_t previousMs);

// The range of an exposure preset caption such as "2500ms": the first "&" and then the
// first "ms" removed, the rest read as a decimal integer. False for anything else or for a
// range below 1.
bool presetFromCaption(const QString& caption, int32_t& preset);

// The exposure slider after a preset: a position above 100 comes down to 100 (which lies
// inside every range), the maximum becomes the preset, with a tick every preset div 10.
struct ExposureRange {
    int32_t position;
    int32_t max;
    int32_t tickInterval;
};
ExposureRange exposurePresetRange(int32_t position, int32_t preset);

// A white-balance slider position -127..128 as the camera value 0..255.
inline int32_t balanceValue(int32_t position) {
    return position + 127;
}

// A subframe slider position rounded down to a multiple of 4 (the two low bits cleared).
inline int32_t alignedSize(int32_t position) {
    return position & ~int32_t{3};
}

// The drawn subframe in one direction of the `extent`-pixel sensor panel: length
// roundEven(value * extent / max) (halves to even), centred: offset (extent - length) div 2.
struct Span {
    int offset;
    int length;
};
Span subframeSpan(int32_t value, int32_t max, int extent);

// The size of the panel `full` that stands for the sensor.
inline constexpr int kFullWidth = 106;
inline constexpr int kFullHeight = 85;
