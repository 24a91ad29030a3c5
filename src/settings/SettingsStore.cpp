#include "settings/SettingsStore.h"

#include <QRegularExpression>

#include "platform/Memory.h"
#include "settings/Settings.h"

QString ReadSetting(QSettings& store, const QString& name, const QString& def) {
    store.beginGroup(QLatin1String(kSettingsGroup));
    const QVariant value = store.value(name);
    store.endGroup();
    // The INI file gives back every plain value as a string; lists ("a, b") and
    // @Variant/@ByteArray entries are values of another type and count as missing.
    if (!value.isValid() || value.typeId() != QMetaType::QString) return def;
    return value.toString();
}

void WriteSetting(QSettings& store, const QString& name, const QString& value) {
    if (name.isEmpty()) return;
    store.beginGroup(QLatin1String(kSettingsGroup));
    store.setValue(name, value);
    store.endGroup();
}

bool FlushSettings(QSettings& store) {
    store.sync();
    return store.status() == QSettings::NoError;
}

bool ParseDecimal(const QString& text, int32_t* value) {
    static const QRegularExpression decimal(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    if (!decimal.match(text).hasMatch()) return false;
    bool ok = false;
    const int32_t v = text.trimmed().toInt(&ok, 10);
    if (!ok) return false;  // out of the 32-bit range
    if (value) *value = v;
    return true;
}

int32_t DecimalOr(const QString& text, int32_t def) {
    int32_t v = 0;
    return ParseDecimal(text, &v) ? v : def;
}

StoredSettings ReadStoredSettings() {
    StoredSettings out;
    const StoredSettings defaults;
    auto store = OpenSettings();
    out.exposureMs = DecimalOr(ReadSetting(*store, kExposureLengthKey, {}), defaults.exposureMs);
    out.frameCountText = ReadSetting(*store, kFrameCountKey, defaults.frameCountText);
    out.capturePath = ReadSetting(*store, kCapturePathKey, defaults.capturePath);
    out.gain = DecimalOr(ReadSetting(*store, kGainKey, {}), defaults.gain);
    return out;
}

bool WriteStoredSettings(const StoredSettings& values) {
    auto store = OpenSettings();
    WriteSetting(*store, kExposureLengthKey, QString::number(values.exposureMs));
    WriteSetting(*store, kFrameCountKey, values.frameCountText);
    WriteSetting(*store, kCapturePathKey, values.capturePath);
    WriteSetting(*store, kGainKey, QString::number(values.gain));
    return FlushSettings(*store);
}

uint64_t ReadWriterQueueBytes() {
    auto store = OpenSettings();
    const int32_t mib = DecimalOr(ReadSetting(*store, QStringLiteral("WRITERQUEUEMIB"), {}), 0);
    return mib > 0 ? static_cast<uint64_t>(mib) << 20 : DefaultWriterQueueBytes();
}

int32_t ReadSampleDepth() {
    auto store = OpenSettings();
    store->beginGroup(QStringLiteral("Capture"));
    const QVariant value = store->value(QStringLiteral("SampleDepth"));
    store->endGroup();
    return value.typeId() == QMetaType::QString && DecimalOr(value.toString(), 8) == 16 ? 16 : 8;
}

bool WriteSampleDepth(int32_t bits) {
    auto store = OpenSettings();
    store->beginGroup(QStringLiteral("Capture"));
    store->setValue(QStringLiteral("SampleDepth"), QString::number(bits == 16 ? 16 : 8));
    store->endGroup();
    return FlushSettings(*store);
}

namespace {
QString ReadGroupText(const QString& group, const QString& name) {
    auto store = OpenSettings();
    store->beginGroup(group);
    const QVariant value = store->value(name);
    store->endGroup();
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool ReadSwitch(const QString& name, bool def) {
    const QString text = ReadGroupText(QStringLiteral("Capture"), name);
    return text.isEmpty() ? def : DecimalOr(text, def ? 1 : 0) != 0;
}

bool WriteSwitch(const QString& name, bool on) {
    auto store = OpenSettings();
    store->beginGroup(QStringLiteral("Capture"));
    store->setValue(name, on ? QStringLiteral("1") : QStringLiteral("0"));
    store->endGroup();
    return FlushSettings(*store);
}

const QString kSession = QStringLiteral("Session");
}  // namespace

SessionDetails ReadSessionDetails() {
    SessionDetails d;
    auto text = [](const char* name) {
        return ReadGroupText(kSession, QString::fromLatin1(name)).toStdString();
    };
    d.target = text("Target");
    d.observer = text("Observer");
    d.telescope = text("Telescope");
    d.filter = text("Filter");
    std::optional<double> lat, lon;
    if (ParseDegrees(text("Latitude"), 90.0, lat) && ParseDegrees(text("Longitude"), 180.0, lon) &&
        lat.has_value() == lon.has_value()) {
        d.latitude = lat;
        d.longitude = lon;
    }
    return d;
}

bool WriteSessionDetails(const SessionDetails& d) {
    auto store = OpenSettings();
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
    return FlushSettings(*store);
}

bool ReadCaptureLogOn() {
    return ReadSwitch(QStringLiteral("CaptureLog"), true);
}

bool WriteCaptureLogOn(bool on) {
    return WriteSwitch(QStringLiteral("CaptureLog"), on);
}

bool ReadObservationNames() {
    return ReadSwitch(QStringLiteral("ObservationNames"), false);
}

bool WriteObservationNames(bool on) {
    return WriteSwitch(QStringLiteral("ObservationNames"), on);
}
