#include "settings/CameraChoiceStore.h"

#include <QSettings>

#include "settings/Settings.h"
#include "settings/SettingsStore.h"

namespace {
// Keys of the group "Camera": the camera that opened last, and the choice for the next start.
const QString kGroup = QStringLiteral("Camera");
const QString kName = QStringLiteral("Name"), kOptions = QStringLiteral("Options");
const QString kNextName = QStringLiteral("NextName"), kNextOptions = QStringLiteral("NextOptions");

CameraChoice readChoice(QSettings& store, const QString& name, const QString& options) {
    return {store.value(name).toString(), store.value(options).toStringList()};
}

// Leaves the group and writes the batch (flushSettings).
bool flush(QSettings& store) {
    store.endGroup();
    return flushSettings(store);
}
}  // namespace

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
    store->setValue(kNextName, choice.name);
    store->setValue(kNextOptions, choice.options);
    return flush(*store);
}

bool rememberWorkingCamera(const CameraChoice& choice) {
    auto store = openSettings();
    store->beginGroup(kGroup);
    store->setValue(kName, choice.name);
    store->setValue(kOptions, choice.options);
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
