#include "QtTestEnv.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "settings/Settings.h"

QApplication* ensureApp();

namespace {
std::unique_ptr<QTemporaryDir> g_configDir;
std::unique_ptr<QApplication> g_app;

// Before anything reads a settings path: the whole test program works in its own
// configuration folder, both for the environment and for Qt's cached path.
QTemporaryDir& processConfig() {
    if (!g_configDir) {
        g_configDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", g_configDir->path().toLocal8Bit());
        // The recovery journal too: notes of the tests' recordings stay with the tests.
        qputenv("XDG_STATE_HOME", (g_configDir->path() + "/state").toLocal8Bit());
        qputenv("XDG_DATA_HOME", (g_configDir->path() + "/data").toLocal8Bit());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, g_configDir->path());
    }
    return *g_configDir;
}

// Ends the application before the process does, so that it releases what it holds, then
// removes the configuration folder.
class AppEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ensureApp(); }
    void TearDown() override {
        g_app.reset();
        g_configDir.reset();
    }
};
const auto* const kGEnvironment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);
}  // namespace

QApplication* ensureApp() {
    processConfig();
    if (!g_app) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tv_test";
        static char* argv[] = {name, nullptr};
        g_app = std::make_unique<QApplication>(argc, argv);
    }
    return g_app.get();
}

namespace testenv {
QString configDir() {
    return processConfig().path();
}
QString settingsFile() {
    processConfig();
    return openSettings()->fileName();
}
void clearSettings() {
    processConfig();
    auto s = openSettings();
    s->clear();
    s->sync();
}
}  // namespace testenv
