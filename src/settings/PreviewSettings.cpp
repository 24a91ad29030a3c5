#include "settings/PreviewSettings.h"

#include <QVariant>
#include <algorithm>

#include "settings/Settings.h"
#include "settings/SettingsStore.h"

namespace {
const QString kPreviewGroup = QStringLiteral("Preview");

// The stored number under `name`, or `def` when it is missing or no number; limited to
// `low`..`high`.
double number(QSettings& s, const char* name, double def, double low, double high) {
    bool ok = false;
    const double v = s.value(QLatin1String(name)).toString().toDouble(&ok);
    return ok ? std::clamp(v, low, high) : def;
}
bool flag(QSettings& s, const char* name, bool def) {
    const QString v = s.value(QLatin1String(name)).toString();
    return v == QLatin1String("1") ? true : v == QLatin1String("0") ? false : def;
}
}  // namespace

PreviewChoices readPreviewChoices() {
    PreviewChoices c;
    auto s = openSettings();
    s->beginGroup(kPreviewGroup);
    c.black = static_cast<int>(number(*s, "Black", c.black, 0, 254));
    c.white = static_cast<int>(number(*s, "White", c.white, c.black + 1, 255));
    c.gamma = number(*s, "Gamma", c.gamma, 0.2, 5.0);
    c.autoStretch = flag(*s, "AutoStretch", c.autoStretch);
    c.showClipped = flag(*s, "ShowClipped", c.showClipped);
    c.reticle = static_cast<int>(number(*s, "Reticle", c.reticle, 0, 2));
    return c;
}

bool writePreviewChoices(const PreviewChoices& c) {
    auto s = openSettings();
    s->beginGroup(kPreviewGroup);
    s->setValue(QStringLiteral("Black"), QString::number(c.black));
    s->setValue(QStringLiteral("White"), QString::number(c.white));
    s->setValue(QStringLiteral("Gamma"), QString::number(c.gamma, 'f', 2));
    s->setValue(QStringLiteral("AutoStretch"), c.autoStretch ? "1" : "0");
    s->setValue(QStringLiteral("ShowClipped"), c.showClipped ? "1" : "0");
    s->setValue(QStringLiteral("Reticle"), QString::number(c.reticle));
    s->endGroup();
    return flushSettings(*s);
}

AutoExposureChoices readAutoExposureChoices() {
    AutoExposureChoices c;
    auto s = openSettings();
    s->beginGroup(kPreviewGroup);
    c.on = flag(*s, "AutoExposure", c.on);
    c.targetPercent = static_cast<int>(number(*s, "AutoExposureTarget", c.targetPercent, 5, 98));
    c.longestUs = static_cast<int64_t>(
        number(*s, "AutoExposureLongestUs", static_cast<double>(c.longestUs), 100, 60e6));
    c.highestGain = static_cast<int>(number(*s, "AutoExposureHighestGain", c.highestGain, 0, 100));
    c.gainFirst = flag(*s, "AutoExposureGainFirst", c.gainFirst);
    return c;
}

bool writeAutoExposureChoices(const AutoExposureChoices& c) {
    auto s = openSettings();
    s->beginGroup(kPreviewGroup);
    s->setValue(QStringLiteral("AutoExposure"), c.on ? "1" : "0");
    s->setValue(QStringLiteral("AutoExposureTarget"), QString::number(c.targetPercent));
    s->setValue(QStringLiteral("AutoExposureLongestUs"), QString::number(c.longestUs));
    s->setValue(QStringLiteral("AutoExposureHighestGain"), QString::number(c.highestGain));
    s->setValue(QStringLiteral("AutoExposureGainFirst"), c.gainFirst ? "1" : "0");
    s->endGroup();
    return flushSettings(*s);
}

QByteArray readWindowGeometry() {
    auto s = openSettings();
    s->beginGroup(kPreviewGroup);
    const QVariant v = s->value(QStringLiteral("WindowGeometry"));
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

bool writeWindowGeometry(const QByteArray& geometry) {
    auto s = openSettings();
    s->beginGroup(kPreviewGroup);
    s->setValue(QStringLiteral("WindowGeometry"), geometry);
    s->endGroup();
    return flushSettings(*s);
}
