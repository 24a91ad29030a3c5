#pragma once
// A main window started against the fake camera, for the tests of its handlers, and the
// process-wide display and hand-off state those tests change.
#include <cstdint>
#include <functional>
#include <string>

#include "ShellTestEnv.h"

class MainWindow;

// Runs FormCreate without the splash pause; false (and a test failure) when it halted.
bool StartForm(MainWindow& form);

// Dispatches events until `done` or the timeout; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 15000);

// Puts the display and hand-off globals back to their start values on construction and
// on destruction: zoom, overlay, colour, focus point, throttles, recording gate, clock.
class DisplayStateGuard {
  public:
    DisplayStateGuard();
    ~DisplayStateGuard();

  private:
    void Reset();
    TempConfig config_;
};
