#include "ShellTestEnv.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <memory>

#include "platform/Settings.h"

namespace {
// Before anything reads a settings path: the whole test process works in its own
// configuration folder.
QTemporaryDir* ProcessConfig() {
    static QTemporaryDir* dir = [] {
        auto* d = new QTemporaryDir;
        qputenv("XDG_CONFIG_HOME", d->path().toLocal8Bit());
        return d;
    }();
    return dir;
}

std::unique_ptr<QApplication> g_app;

// Ends the application before the process does, so that it releases what it holds.
class AppEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { g_app.reset(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);
}  // namespace

void EnsureApp() {
    ProcessConfig();
    if (g_app) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_shell";
    static char* argv[] = {name, nullptr};
    g_app = std::make_unique<QApplication>(argc, argv);
}

TempConfig::TempConfig() {
    EnsureApp();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

TempConfig::~TempConfig() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, ProcessConfig()->path());
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
