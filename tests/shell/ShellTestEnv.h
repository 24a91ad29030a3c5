#pragma once
// Shared set-up of the shell tests: one QApplication (offscreen platform) and a fresh,
// private configuration folder per test, so no test touches the user's settings.
#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <QTemporaryDir>

void EnsureApp();

class TempConfig {
  public:
    TempConfig();   // points the settings file at a new temporary folder
    ~TempConfig();  // ... and back at a folder nobody uses
    QString Dir() const { return dir_.path(); }
    // The settings file the program uses while this object lives.
    QString IniPath() const;
    // Writes the settings file by hand.
    [[nodiscard]] bool WriteIni(const QByteArray& contents) const;
    QByteArray ReadIni() const;

  private:
    QTemporaryDir dir_;
};

// The child of `root` (a widget, action, menu, ...) with the Qt object name `name`; a test
// failure and nullptr when there is none.
template <class T>
T* Find(const QObject& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    if (!found) ADD_FAILURE() << "no child named " << name;
    return found;
}
