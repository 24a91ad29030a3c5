#include "LiveForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include "acquisition/CaptureThread.h"
#include "display/ConfigOverlay.h"
#include "display/FocusWindow.h"
#include "display/Histogram.h"
#include "display/PreviewRenderer.h"
#include "platform/Halt.h"
#include "shell/FrameDispatch.h"
#include "shell/Main.h"

namespace {
struct HaltCalled {
    int code;
};
}  // namespace

bool StartForm(MainWindow& form) {
    testhalt::Reset();
    testhalt::SetTerminate([](int code) { throw HaltCalled{code}; });
    form.SplashDelayMs = 0;
    bool halted = false;
    try {
        form.FormCreate();
    } catch (const HaltCalled&) {
        halted = true;
    }
    testhalt::SetTerminate(nullptr);
    EXPECT_FALSE(halted) << "FormCreate halted";
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
    Reset();
}

DisplayStateGuard::~DisplayStateGuard() {
    Reset();
    testhalt::Reset();
}

void DisplayStateGuard::Reset() {
    testclock::SetMillis(nullptr);
    ZoomPercent = 100;
    CurrentStampText.Set(std::string());
    ColorCamera = false;
    FocusPointX = -1;
    FocusPointY = 0;
    NextPreviewTime = 0;
    NextHistogramTime = 0;
    NextRecordTick = 0;
    FramePause = 0;
}
