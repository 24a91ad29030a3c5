#include "shell/ControlMath.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/Rounding.h"

bool commitCancelsExposure(int32_t previousMs) {
    return previousMs > kCancelAboveMs;
}

bool presetFromCaption(const QString& caption, int32_t& preset) {
    QString text = caption;
    const qsizetype amp = text.indexOf(u'&');
    if (amp >= 0) text.remove(amp, 1);
    const qsizetype ms = text.indexOf(QStringLiteral("ms"));
    if (ms >= 0) text.remove(ms, 2);
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < 1) return false;
    preset = value;
    return true;
}

int64_t exposureUsAt(int32_t position) {
    if (position <= kFineExposurePositions)
        return std::max<int64_t>(position, 1) * kFineExposureStepUs;
    return kFineExposureEndUs + int64_t{position - kFineExposurePositions} * 1000;
}

int32_t exposurePositionOf(int64_t us) {
    if (us <= kFineExposureEndUs)
        return static_cast<int32_t>(
            std::max<int64_t>((us + kFineExposureStepUs / 2) / kFineExposureStepUs, 1));
    const int64_t ms = (us - kFineExposureEndUs + 500) / 1000;
    return static_cast<int32_t>(std::min<int64_t>(kFineExposurePositions + ms, INT32_MAX));
}

QString exposureText(int64_t us) {
    if (us < kFineExposureEndUs) return QString::number(static_cast<double>(us) / 1000.0, 'f', 2);
    return QString::number((us + 500) / 1000);
}

bool exposureFromText(const QString& text, int64_t& us) {
    bool ok = false;
    const double ms = text.trimmed().toDouble(&ok);  // C locale: a point before the fraction
    if (!ok || !(ms > 0) || ms > 1e7) return false;
    us = exposureUsAt(exposurePositionOf(std::llround(ms * 1000.0)));
    return true;
}

int32_t presetHolding(int64_t us) {
    for (const int32_t preset : kExposurePresetsMs)
        if (exposurePositionOf(us) <= exposurePositionOf(int64_t{preset} * 1000)) return preset;
    return 0;
}

ExposureRange exposurePresetRange(int32_t position, int32_t presetMs) {
    const int32_t top = exposurePositionOf(100'000);
    ExposureRange r;
    r.position = position > top ? top : position;
    r.max = exposurePositionOf(int64_t{presetMs} * 1000);
    r.tickInterval = r.max / 10;
    return r;
}

Span subframeSpan(int32_t value, int32_t max, int extent) {
    if (max <= 0) return Span{0, extent};
    const int64_t length = roundEven(static_cast<double>(value) * extent / max);
    const int len = static_cast<int>(std::clamp<int64_t>(length, 0, extent));
    return Span{(extent - len) / 2, len};
}

int placedOffset(int32_t at, int32_t max, int extent, int length) {
    if (at < 0 || max <= 0) return (extent - length) / 2;
    const int64_t offset = std::llround(static_cast<double>(at) * extent / max);
    return static_cast<int>(std::clamp<int64_t>(offset, 0, std::max(extent - length, 0)));
}

int32_t originUnder(int pos, int extent, int32_t size, int32_t max) {
    if (extent <= 0) return 0;
    const int64_t middle = std::llround(static_cast<double>(pos) * max / extent);
    return static_cast<int32_t>(std::clamp<int64_t>(middle - size / 2, 0, std::max(max - size, 0)));
}
