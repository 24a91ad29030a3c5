#pragma once
// One QApplication for a whole test program (offscreen platform) and a private
// configuration folder, so that no test reads or writes the user's real settings.
#include <gtest/gtest.h>

#include <QObject>
#include <QString>

class QApplication;

// Makes the application on the first call (the test environment makes it before the
// first test) (and points $XDG_CONFIG_HOME and Qt's settings
// path at the private folder before it); returns it on every call. A test environment
// ends the application and removes the folder when the program's tests are done.
QApplication* ensureApp();

namespace testenv {
// The temporary folder that stands for $XDG_CONFIG_HOME during the tests.
QString configDir();
// The settings file of the program inside it.
QString settingsFile();
// Removes every stored value.
void clearSettings();
}  // namespace testenv

// The child of `root` (a widget, action, menu, ...) with the Qt object name `name`; a test
// failure and nullptr when there is none.
template <class T>
T* find(const QObject& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    if (!found) ADD_FAILURE() << "no child named " << name;
    return found;
}
