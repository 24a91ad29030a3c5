#pragma once
// The one way out of the program: hardExit() runs the installed exit procedure once,
// then ends the process.
#include <functional>

void setExitHandler(std::function<void()> proc);
[[noreturn]] void hardExit(int code = 0);
// Runs the exit procedure if it has not run yet (also used by Halt). A thread that arrives
// while another thread runs it waits until it has finished; the running thread itself
// (halting again from inside the procedure) goes straight on.
void runExitHandlerOnce();

namespace testexit {
// Replaces the final process exit, so that tests can observe a halt; the replacement
// must not return (throw or longjmp), or Halt aborts.
void setTerminate(std::function<void(int)> fn);
// Forgets that the exit procedure ran (tests only).
void reset();
}  // namespace testexit
