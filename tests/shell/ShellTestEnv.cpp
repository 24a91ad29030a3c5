#include "ShellTestEnv.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <memory>

#include "settings/Settings.h"

TempConfig::TempConfig() {
    EnsureApp();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

TempConfig::~TempConfig() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, testenv::ConfigDir());
}

QString TempConfig::IniPath() const {
    return OpenSettings()->fileName();
}

bool TempConfig::WriteIni(const QByteArray& contents) const {
    const QString path = IniPath();
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(contents) == contents.size() && f.flush();
}

QByteArray TempConfig::ReadIni() const {
    QFile f(IniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
