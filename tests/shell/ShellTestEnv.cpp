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
    ensureApp();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

TempConfig::~TempConfig() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, testenv::configDir());
}

QString TempConfig::iniPath() const {
    return openSettings()->fileName();
}

bool TempConfig::writeIni(const QByteArray& contents) const {
    const QString path = iniPath();
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(contents) == contents.size() && f.flush();
}

QByteArray TempConfig::readIni() const {
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
