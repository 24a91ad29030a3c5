#include "shell/ControlMath.h"

#include <algorithm>

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

ExposureRange exposurePresetRange(int32_t position, int32_t preset) {
    ExposureRange r;
    r.position = position > 100 ? 100 : position;
    r.max = preset;
    r.tickInterval = preset / 10;
    return r;
}

Span subframeSpan(int32_t value, int32_t max, int extent) {
    if (max <= 0) return Span{0, extent};
    const int64_t length = roundEven(static_cast<double>(value) * extent / max);
    const int len = static_cast<int>(std::clamp<int64_t>(length, 0, extent));
    return Span{(extent - len) / 2, len};
}
