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
    testexit::reset();
    testexit::setTerminate([](int code) { throw HaltCalled{code}; });
    bool halted = false;
    try {
        mainWindow.start();
    } catch (const HaltCalled&) {
        halted = true;
    }
    testexit::setTerminate(nullptr);
    EXPECT_FALSE(halted) << "start() halted";
    return !halted;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return done();
}

DisplayStateGuard::DisplayStateGuard() {
    testclock::setMillis(nullptr);
}

DisplayStateGuard::~DisplayStateGuard() {
    testclock::setMillis(nullptr);
    testexit::reset();
}
