#include "LiveWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include "platform/Clock.h"
#include "platform/HardExit.h"
#include "shell/MainWindow.h"

namespace {
struct HaltCalled {
    int code;
};
}  // namespace

bool startLiveWindow(MainWindow& mainWindow) {
    testexit::Reset();
    testexit::SetTerminate([](int code) { throw HaltCalled{code}; });
    mainWindow.splashDelayMs = 0;
    bool halted = false;
    try {
        mainWindow.start();
    } catch (const HaltCalled&) {
        halted = true;
    }
    testexit::SetTerminate(nullptr);
    EXPECT_FALSE(halted) << "start() halted";
    return !halted;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return done();
}

DisplayStateGuard::DisplayStateGuard() {
    testclock::SetMillis(nullptr);
}

DisplayStateGuard::~DisplayStateGuard() {
    testclock::SetMillis(nullptr);
    testexit::Reset();
}
