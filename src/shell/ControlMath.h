#pragma once
// The arithmetic behind the camera controls of the main window: exposure commit and range
// presets, white balance values, and the subframe sliders with their drawing.
#include <QString>
#include <cstdint>

// An exposure commit cancels the exposure in progress when the previous length exceeds
// this (501 ms and more); a shorter exposure is left to finish.
inline constexpr int32_t kCancelAboveMs = 500;
bool commitCancelsExposure(int32_t previousMs);

// The exposure slider's range presets in ms, as their menu lists them ("100ms" ...).
inline constexpr int32_t kExposurePresetsMs[] = {100, 500, 1000, 2500, 5000, 10000};
// The smallest preset whose range holds `us` microseconds; 0 when none does.
int32_t presetHolding(int64_t us);

// The range of an exposure preset caption such as "2500ms": the first "&" and then the
// first "ms" removed, the rest read as a decimal integer. False for anything else or for a
// range below 1.
bool presetFromCaption(const QString& caption, int32_t& preset);

// The exposure slider's positions: 1..1000 are 0.01..10.00 ms in steps of 0.01 ms, for the
// short exposures of the Sun, the Moon and bright planets; above that each position is one
// more whole millisecond (1001 = 11 ms, 1090 = 100 ms).
inline constexpr int32_t kFineExposurePositions = 1000;
inline constexpr int64_t kFineExposureStepUs = 10;
inline constexpr int64_t kFineExposureEndUs = kFineExposurePositions * kFineExposureStepUs;
int64_t exposureUsAt(int32_t position);
// The nearest position of a length (microseconds); at least 1.
int32_t exposurePositionOf(int64_t us);
// A length (microseconds) as the control shows it, in ms without the unit: two decimals
// below 10 ms ("0.05"), whole milliseconds from 10 ms on ("40").
QString exposureText(int64_t us);
// A typed length in ms ("0.05", "40", "2.5") as microseconds on the slider's steps: false
// for anything else or for a length not above 0.
bool exposureFromText(const QString& text, int64_t& us);

// The exposure slider after a preset: a length above 100 ms comes down to 100 ms (which lies
// inside every range), the maximum becomes the preset's position, with ten ticks over the
// range. The positions are those of exposurePositionOf.
struct ExposureRange {
    int32_t position;
    int32_t max;
    int32_t tickInterval;
};
ExposureRange exposurePresetRange(int32_t position, int32_t presetMs);

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
// Where a drawn subframe of `length` starts when the subframe lies at sensor pixel `at`:
// round(at * extent / max), kept inside the panel; centred while `at` is negative.
int placedOffset(int32_t at, int32_t max, int extent, int length);
// The subframe's first sensor pixel that puts its middle under panel position `pos`:
// pos * max / extent less half of `size`, kept within 0 .. max - size.
int32_t originUnder(int pos, int extent, int32_t size, int32_t max);

// The size of the panel `full` that stands for the sensor.
inline constexpr int kFullWidth = 106;
inline constexpr int kFullHeight = 85;
