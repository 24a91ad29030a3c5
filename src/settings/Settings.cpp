#include "settings/Settings.h"

std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("TarviVideo5X"),
                                       QStringLiteral("TarviVideo5X"));
}
