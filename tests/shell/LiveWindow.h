#pragma once
// A main window started against the fake camera, for the tests of its panels, and the
// process-wide state those tests change (clock, halt, settings folder).
#include <cstdint>
#include <functional>
#include <string>

#include "ShellTestEnv.h"

class MainWindow;

// Runs start() without the splash pause; false (and a test failure) when it halted.
bool startLiveWindow(MainWindow& mainWindow);

// Dispatches events until `done` or the timeout; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 15000);

// Puts the clock and the halt hooks back to their start values on construction and on
// destruction, and gives the test a private settings folder.
class DisplayStateGuard {
  public:
    DisplayStateGuard();
    ~DisplayStateGuard();

  private:
    TempConfig config_;
};
