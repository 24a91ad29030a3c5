#include "settings/ProfileStore.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <algorithm>

#include "platform/InstanceLock.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

namespace {
constexpr char kProfileExtension[] = ".profile";

QString qtPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
}  // namespace

ProfileStore::ProfileStore(std::string folder) : folder_(std::move(folder)) {}

std::string ProfileStore::defaultFolder() {
    return programDataFolder() + "/profiles";
}

std::vector<std::string> ProfileStore::names() const {
    std::vector<std::string> names;
    const QDir dir(qtPath(folder_));
    for (const QString& file :
         dir.entryList({QStringLiteral("*") + QLatin1String(kProfileExtension)}, QDir::Files)) {
        const QString name = file.chopped(static_cast<qsizetype>(sizeof kProfileExtension - 1));
        if (!name.isEmpty()) names.push_back(QFile::encodeName(name).toStdString());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ProfileStore::pathOf(const std::string& name) const {
    return folder_ + "/" + name + kProfileExtension;
}

std::optional<TargetProfile> ProfileStore::load(const std::string& name, std::string& error) const {
    const std::string path = pathOf(name);
    QFile file(qtPath(path));
    if (!profileNameProblem(name).empty() || !file.open(QIODevice::ReadOnly)) {
        error = "The profile '" + name + "' cannot be read (" + path + ").";
        return std::nullopt;
    }
    ProfileError fault;
    std::optional<TargetProfile> profile = parseProfile(file.readAll().toStdString(), fault);
    if (!profile) {
        error = "The profile " + path +
                (fault.line > 0 ? " line " + std::to_string(fault.line) : std::string()) + ": " +
                fault.reason + ".";
        return std::nullopt;
    }
    profile->name = name;
    return profile;
}

bool ProfileStore::save(const TargetProfile& profile, std::string& error) const {
    error = profileNameProblem(profile.name);
    if (!error.empty()) return false;
    const std::string path = pathOf(profile.name);
    QDir().mkpath(qtPath(folder_));
    QSaveFile file(qtPath(path));
    const std::string text = profileText(profile);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        error =
            "The profile could not be written to " + path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

bool ProfileStore::rename(const std::string& from, const std::string& to,
                          std::string& error) const {
    error = profileNameProblem(to);
    if (!error.empty()) return false;
    if (QFile::exists(qtPath(pathOf(to)))) {
        error = "A profile named '" + to + "' exists already.";
        return false;
    }
    if (!QFile::rename(qtPath(pathOf(from)), qtPath(pathOf(to)))) {
        error = "The profile '" + from + "' could not be renamed.";
        return false;
    }
    return true;
}

bool ProfileStore::remove(const std::string& name, std::string& error) const {
    if (!QFile::remove(qtPath(pathOf(name)))) {
        error = "The profile '" + name + "' could not be deleted.";
        return false;
    }
    return true;
}

std::string readLastProfile() {
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Capture"));
    const QVariant value = store->value(QStringLiteral("Profile"));
    return value.typeId() == QMetaType::QString ? value.toString().toStdString() : std::string();
}

bool writeLastProfile(const std::string& name) {
    auto store = openSettings();
    store->beginGroup(QStringLiteral("Capture"));
    store->setValue(QStringLiteral("Profile"), QString::fromStdString(name));
    store->endGroup();
    return flushSettings(*store);
}
