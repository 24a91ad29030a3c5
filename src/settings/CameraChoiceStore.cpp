#include "settings/CameraChoiceStore.h"

#include <QSettings>
#include <QVariant>
#include <algorithm>

#include "settings/Settings.h"
#include "settings/SettingsStore.h"

namespace {
// Keys of the group "Camera": the camera that opened last, and the choice for the next start.
const QString kGroup = QStringLiteral("Camera");
const QString kName = QStringLiteral("Name"), kOptions = QStringLiteral("Options");
const QString kNextName = QStringLiteral("NextName"), kNextOptions = QStringLiteral("NextOptions");

// The first of the surrogates that stand for bytes outside well-formed UTF-8 (0x80 to 0xFF).
constexpr char16_t kByteEscape = 0xDC00;

// The length of the well-formed UTF-8 sequence at `at`; 0 where none starts (a stray
// continuation byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
size_t utf8Length(const std::string& bytes, size_t at) {
    const auto byte = [&bytes](size_t i) -> unsigned {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
    };
    const unsigned lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(at + k) < 0x80 || byte(at + k) > 0xBF) return 0;
    return length;
}

bool isByteEscape(const QString& text, qsizetype i) {
    const char16_t c = text[i].unicode();
    return c >= kByteEscape + 0x80 && c <= kByteEscape + 0xFF &&
           (i == 0 || !QChar::isHighSurrogate(text[i - 1].unicode()));
}

bool holdsByteEscapes(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isByteEscape(text, i)) return true;
    return false;
}

// A text as the settings file keeps it: as a string, or as its bytes when they are no UTF-8.
QVariant storedValue(const QString& text) {
    if (!holdsByteEscapes(text)) return text;
    const std::string bytes = bytesOfText(text);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
QVariant storedValue(const QStringList& texts) {
    if (std::none_of(texts.begin(), texts.end(), holdsByteEscapes)) return texts;
    if (texts.size() == 1) return storedValue(texts.front());  // stays readable in the file
    QVariantList values;
    for (const QString& text : texts) values << storedValue(text);
    return values;
}

QString readText(const QVariant& value) {
    if (value.typeId() != QMetaType::QByteArray) return value.toString();
    return textOfBytes(value.toByteArray().toStdString());
}
QStringList readTexts(const QVariant& value) {
    // A list of one reads back as that one value.
    const bool list =
        value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList;
    if (!list && value.typeId() != QMetaType::QByteArray) return value.toStringList();
    QStringList texts;
    for (const QVariant& item : list ? value.toList() : QVariantList{value})
        texts << readText(item);
    return texts;
}

CameraChoice readChoice(QSettings& store, const QString& name, const QString& options) {
    return {readText(store.value(name)), readTexts(store.value(options))};
}

void writeChoice(QSettings& store, const QString& name, const QString& options,
                 const CameraChoice& choice) {
    store.setValue(name, storedValue(choice.name));
    store.setValue(options, storedValue(choice.options));
}

// Leaves the group and writes the batch (flushSettings).
bool flush(QSettings& store) {
    store.endGroup();
    return flushSettings(store);
}
}  // namespace

QString textOfBytes(const std::string& bytes) {
    QString text;
    size_t run = 0, at = 0;  // bytes[run, at) are well-formed UTF-8 still to decode
    const auto decodeRun = [&] {
        text += QString::fromUtf8(bytes.data() + run, static_cast<qsizetype>(at - run));
    };
    while (at < bytes.size()) {
        if (const size_t length = utf8Length(bytes, at)) {
            at += length;
            continue;
        }
        decodeRun();
        text += QChar(static_cast<char16_t>(kByteEscape + static_cast<unsigned char>(bytes[at])));
        run = ++at;
    }
    decodeRun();
    return text;
}

std::string bytesOfText(const QString& text) {
    std::string bytes;
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isByteEscape(text, i)) continue;
        bytes += text.mid(run, i - run).toStdString();
        bytes += static_cast<char>(text[i].unicode() - kByteEscape);
        run = i + 1;
    }
    return bytes + text.mid(run).toStdString();
}

CameraChoice readCameraChoice() {
    auto store = openSettings();
    store->beginGroup(kGroup);
    const bool next = store->contains(kNextName);
    return readChoice(*store, next ? kNextName : kName, next ? kNextOptions : kOptions);
}

CameraChoice readWorkingCameraChoice() {
    auto store = openSettings();
    store->beginGroup(kGroup);
    return readChoice(*store, kName, kOptions);
}

bool writeCameraChoice(const CameraChoice& choice) {
    auto store = openSettings();
    store->beginGroup(kGroup);
    writeChoice(*store, kNextName, kNextOptions, choice);
    return flush(*store);
}

bool rememberWorkingCamera(const CameraChoice& choice) {
    auto store = openSettings();
    store->beginGroup(kGroup);
    writeChoice(*store, kName, kOptions, choice);
    store->remove(kNextName);
    store->remove(kNextOptions);
    return flush(*store);
}

void forgetNextCameraChoice() {
    auto store = openSettings();
    store->beginGroup(kGroup);
    if (store->contains(kNextName)) {
        store->remove(kNextName);
        store->remove(kNextOptions);
        flush(*store);
    }
}
