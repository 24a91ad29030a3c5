#pragma once
// Shared set-up of the shell tests: a fresh, private configuration folder per test, so no
// test touches the user's settings (the application comes from QtTestEnv).
#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include "QtTestEnv.h"

class TempConfig {
  public:
    TempConfig();   // points the settings file at a new temporary folder
    ~TempConfig();  // ... and back at a folder nobody uses
    QString dir() const { return dir_.path(); }
    // The settings file the program uses while this object lives.
    QString iniPath() const;
    // Writes the settings file by hand.
    [[nodiscard]] bool writeIni(const QByteArray& contents) const;
    QByteArray readIni() const;

  private:
    QTemporaryDir dir_;
};
