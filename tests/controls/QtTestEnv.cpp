#include "QtTestEnv.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>

#include "platform/Settings.h"

namespace {
QTemporaryDir* g_configDir = nullptr;
QApplication* g_app = nullptr;
int g_argc = 1;
char g_arg0[] = "test_controls";
char* g_argv[] = {g_arg0, nullptr};

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        g_configDir = new QTemporaryDir(QDir::tempPath() + "/tv-controls-XXXXXX");
        ASSERT_TRUE(g_configDir->isValid());
        // Before the first settings object: both the environment and Qt's cached path.
        setenv("XDG_CONFIG_HOME", g_configDir->path().toLocal8Bit().constData(), 1);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, g_configDir->path());
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        g_app = new QApplication(g_argc, g_argv);
    }
    void TearDown() override {
        delete g_app;
        g_app = nullptr;
        delete g_configDir;
        g_configDir = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace

namespace testenv {
QString ConfigDir() {
    return g_configDir->path();
}
QString SettingsFile() {
    return OpenSettings()->fileName();
}
void ClearSettings() {
    auto s = OpenSettings();
    s->clear();
    s->sync();
}
}  // namespace testenv
