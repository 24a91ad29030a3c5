#include "TestApp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {
std::unique_ptr<QApplication> g_app;

// Ends the application before the process does, so that it releases what it holds.
class AppEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { g_app.reset(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);
}  // namespace

QApplication* EnsureApp() {
    static int argc = 1;
    static char name[] = "test_display";
    static char* argv[] = {name, nullptr};
    if (!g_app) g_app = std::make_unique<QApplication>(argc, argv);
    return g_app.get();
}
