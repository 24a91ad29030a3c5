#include "shell/SettingsStore.h"

#include <QRegularExpression>

#include "platform/Memory.h"
#include "platform/Settings.h"

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
    out.EXPOLENGTH = ReadSetting(*store, QStringLiteral("EXPOLENGTH"), defaults.EXPOLENGTH);
    out.EXPOCOUNT = ReadSetting(*store, QStringLiteral("EXPOCOUNT"), defaults.EXPOCOUNT);
    out.FILENAME = ReadSetting(*store, QStringLiteral("FILENAME"), defaults.FILENAME);
    out.GAIN = ReadSetting(*store, QStringLiteral("GAIN"), defaults.GAIN);
    return out;
}

bool WriteStoredSettings(const StoredSettings& values) {
    auto store = OpenSettings();
    WriteSetting(*store, QStringLiteral("EXPOLENGTH"), values.EXPOLENGTH);
    WriteSetting(*store, QStringLiteral("EXPOCOUNT"), values.EXPOCOUNT);
    WriteSetting(*store, QStringLiteral("FILENAME"), values.FILENAME);
    WriteSetting(*store, QStringLiteral("GAIN"), values.GAIN);
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
