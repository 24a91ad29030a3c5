#include "settings/SettingsStore.h"

#include <QRegularExpression>
#include <algorithm>
#include <climits>

#include "platform/Memory.h"
#include "settings/Settings.h"

QString readSetting(QSettings& store, const QString& name, const QString& def) {
    store.beginGroup(QLatin1String(kSettingsGroup));
    const QVariant value = store.value(name);
    store.endGroup();
    // The INI file gives back every plain value as a string; lists ("a, b") and
    // @Variant/@ByteArray entries are values of another type and count as missing.
    if (!value.isValid() || value.typeId() != QMetaType::QString) return def;
    return value.toString();
}

void writeSetting(QSettings& store, const QString& name, const QString& value) {
    if (name.isEmpty()) return;
    store.beginGroup(QLatin1String(kSettingsGroup));
    store.setValue(name, value);
    store.endGroup();
}

bool flushSettings(QSettings& store) {
    store.sync();
    return store.status() == QSettings::NoError;
}

bool parseDecimal(const QString& text, int32_t* value) {
    static const QRegularExpression kDecimal(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    if (!kDecimal.match(text).hasMatch()) return false;
    bool ok = false;
    const int32_t v = text.trimmed().toInt(&ok, 10);
    if (!ok) return false;  // out of the 32-bit range
    if (value) *value = v;
    return true;
}

int32_t decimalOr(const QString& text, int32_t def) {
    int32_t v = 0;
    return parseDecimal(text, &v) ? v : def;
}

// A length in microseconds as EXPOLENGTH's whole milliseconds, at least 1.
static int32_t wholeMs(int64_t us) {
    return static_cast<int32_t>(std::clamp<int64_t>((us + 500) / 1000, 1, INT32_MAX));
}

StoredSettings readStoredSettings() {
    StoredSettings out;
    const StoredSettings defaults;
    auto store = openSettings();
    const int32_t ms = decimalOr(readSetting(*store, kExposureLengthKey, {}),
                                 static_cast<int32_t>(defaults.exposureUs / 1000));
    const int32_t us = decimalOr(readSetting(*store, kExposureMicrosKey, {}), -1);
    out.exposureUs = us > 0 && wholeMs(us) == ms ? us : int64_t{ms} * 1000;
    out.frameCountText = readSetting(*store, kFrameCountKey, defaults.frameCountText);
    out.capturePath = readSetting(*store, kCapturePathKey, defaults.capturePath);
    out.gain = decimalOr(readSetting(*store, kGainKey, {}), defaults.gain);
    out.subframeLeft = std::max(decimalOr(readSetting(*store, kSubframeLeftKey, {}), -1), -1);
    out.subframeTop = std::max(decimalOr(readSetting(*store, kSubframeTopKey, {}), -1), -1);
    return out;
}

bool writeStoredSettings(const StoredSettings& values) {
    auto store = openSettings();
    writeSetting(*store, kExposureLengthKey, QString::number(wholeMs(values.exposureUs)));
    writeSetting(*store, kExposureMicrosKey, QString::number(values.exposureUs));
    writeSetting(*store, kFrameCountKey, values.frameCountText);
    writeSetting(*store, kCapturePathKey, values.capturePath);
    writeSetting(*store, kGainKey, QString::number(values.gain));
    writeSetting(*store, kSubframeLeftKey, QString::number(values.subframeLeft));
    writeSetting(*store, kSubframeTopKey, QString::number(values.subframeTop));
    return flushSettings(*store);
}

uint64_t readWriterQueueBytes() {
    auto store = openSettings();
    const int32_t mib = decimalOr(readSetting(*store, QStringLiteral("WRITERQUEUEMIB"), {}), 0);
    return mib > 0 ? static_cast<uint64_t>(mib) << 20 : defaultWriterQueueBytes();
}

int32_t readSampleDepth() {
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Capture"));
    const QVariant value = store->value(QStringLiteral("SampleDepth"));
    store->endGroup();
    return value.typeId() == QMetaType::QString && decimalOr(value.toString(), 8) == 16 ? 16 : 8;
}

bool writeSampleDepth(int32_t bits) {
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Capture"));
    store->setValue(QStringLiteral("SampleDepth"), QString::number(bits == 16 ? 16 : 8));
    store->endGroup();
    return flushSettings(*store);
}

namespace {
QString readGroupText(const QString& group, const QString& name) {
    auto store = openSettings();
    store->beginGroup(group);
    const QVariant value = store->value(name);
    store->endGroup();
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool readSwitch(const QString& name, bool def) {
    const QString text = readGroupText(QStringLiteral("Capture"), name);
    return text.isEmpty() ? def : decimalOr(text, def ? 1 : 0) != 0;
}

bool writeSwitch(const QString& name, bool on) {
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Capture"));
    store->setValue(name, on ? QStringLiteral("1") : QStringLiteral("0"));
    store->endGroup();
    return flushSettings(*store);
}

const QString kSession = QStringLiteral("Session");
}  // namespace

SessionDetails readSessionDetails() {
    SessionDetails d;
    auto text = [](const char* name) {
        return readGroupText(kSession, QString::fromLatin1(name)).toStdString();
    };
    d.target = text("Target");
    d.observer = text("Observer");
    d.telescope = text("Telescope");
    d.filter = text("Filter");
    std::optional<double> lat, lon;
    if (parseDegrees(text("Latitude"), 90.0, lat) && parseDegrees(text("Longitude"), 180.0, lon) &&
        lat.has_value() == lon.has_value()) {
        d.latitude = lat;
        d.longitude = lon;
    }
    return d;
}

bool writeSessionDetails(const SessionDetails& d) {
    auto store = openSettings();
    store->beginGroup(kSession);
    auto put = [&](const char* name, const std::string& value) {
        store->setValue(QString::fromLatin1(name), QString::fromStdString(value));
    };
    put("Target", d.target);
    put("Observer", d.observer);
    put("Telescope", d.telescope);
    put("Filter", d.filter);
    put("Latitude", d.latitude ? QString::number(*d.latitude, 'f', 6).toStdString() : "");
    put("Longitude", d.longitude ? QString::number(*d.longitude, 'f', 6).toStdString() : "");
    store->endGroup();
    return flushSettings(*store);
}

bool readCaptureLogOn() {
    return readSwitch(QStringLiteral("CaptureLog"), true);
}

bool writeCaptureLogOn(bool on) {
    return writeSwitch(QStringLiteral("CaptureLog"), on);
}

bool readObservationNames() {
    return readSwitch(QStringLiteral("ObservationNames"), false);
}

bool writeObservationNames(bool on) {
    return writeSwitch(QStringLiteral("ObservationNames"), on);
}

bool readTrackPlanet() {
    return readSwitch(QStringLiteral("TrackPlanet"), false);
}

bool writeTrackPlanet(bool on) {
    return writeSwitch(QStringLiteral("TrackPlanet"), on);
}

bool readSteadyPreview() {
    return readSwitch(QStringLiteral("SteadyPreview"), false);
}

bool writeSteadyPreview(bool on) {
    return writeSwitch(QStringLiteral("SteadyPreview"), on);
}

SharpnessChoices readSharpnessChoices() {
    SharpnessChoices c;
    const auto within = [](const QString& name, int def, int low, int high) {
        const int v = decimalOr(readGroupText(QStringLiteral("Capture"), name), def);
        return v >= low && v <= high ? v : def;
    };
    c.keepSharpest = readSwitch(QStringLiteral("KeepSharpest"), false);
    c.keepPercent = within(QStringLiteral("KeepSharpestPercent"), c.keepPercent, 1, 100);
    c.startWhenSharp = readSwitch(QStringLiteral("StartWhenSharp"), false);
    c.sharpPercentile = within(QStringLiteral("SharpPercentile"), c.sharpPercentile, 1, 99);
    return c;
}

bool writeSharpnessChoices(const SharpnessChoices& c) {
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Capture"));
    store->setValue(QStringLiteral("KeepSharpest"),
                    c.keepSharpest ? QStringLiteral("1") : QStringLiteral("0"));
    store->setValue(QStringLiteral("KeepSharpestPercent"), QString::number(c.keepPercent));
    store->setValue(QStringLiteral("StartWhenSharp"),
                    c.startWhenSharp ? QStringLiteral("1") : QStringLiteral("0"));
    store->setValue(QStringLiteral("SharpPercentile"), QString::number(c.sharpPercentile));
    store->endGroup();
    return flushSettings(*store);
}

QString readKeyboardSetting(const QString& name, const QString& def) {
    auto s = openSettings();
    if (s->status() != QSettings::NoError) return def;
    s->beginGroup(QStringLiteral("Palvid"));
    const QVariant v = s->value(name);
    if (!v.isValid() || !v.canConvert<QString>()) return def;
    return v.toString();
}

bool writeKeyboardSetting(const QString& name, const QString& value) {
    if (name.isEmpty()) return false;
    auto s = openSettings();
    s->beginGroup(QStringLiteral("Palvid"));
    s->setValue(name, value);
    s->endGroup();
    return flushSettings(*s);
}
