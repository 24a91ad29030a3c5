#pragma once
// One QApplication for the whole test program, and a private configuration folder so that
// no test reads or writes the user's real settings.
#include <QString>

namespace testenv {
// The temporary folder that stands for $XDG_CONFIG_HOME during the tests.
QString ConfigDir();
// The settings file of the program inside it.
QString SettingsFile();
// Removes every stored value.
void ClearSettings();
}  // namespace testenv
