#pragma once
// The program's persistent key-value store: one INI file in the user's configuration
// folder ($XDG_CONFIG_HOME or ~/.config, then TarviVideo5X/TarviVideo5X.ini). The
// stored settings live in group "TarviVideo2R", the keyboard layout in group "Palvid".
#include <QSettings>
#include <memory>

std::unique_ptr<QSettings> openSettings();
