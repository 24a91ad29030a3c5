#include "platform/HardExit.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {
std::mutex g_exitMutex;
std::function<void()> g_exitProc;
std::function<void(int)> g_terminate;

// Progress of the exit procedure. A second thread that halts while the procedure runs
// waits for it to finish instead of ending the process under its feet; the thread that
// runs it may halt again from inside it and then goes straight on.
enum class ExitState { NotRun, Running, Done };
std::mutex g_runMutex;
std::condition_variable g_runDone;
ExitState g_state = ExitState::NotRun;
std::thread::id g_runner;
}  // namespace

void setExitHandler(std::function<void()> proc) {
    std::lock_guard<std::mutex> lock(g_exitMutex);
    g_exitProc = std::move(proc);
}

void runExitHandlerOnce() {
    std::unique_lock<std::mutex> run(g_runMutex);
    if (g_state == ExitState::Done) return;
    if (g_state == ExitState::Running) {
        if (g_runner != std::this_thread::get_id())
            g_runDone.wait(run, [] { return g_state == ExitState::Done; });
        return;
    }
    g_state = ExitState::Running;
    g_runner = std::this_thread::get_id();
    run.unlock();

    std::function<void()> proc;
    {
        std::lock_guard<std::mutex> lock(g_exitMutex);
        proc = g_exitProc;
    }
    // Marks the procedure done however it leaves (tests may leave it by an exception).
    struct MarkDone {
        ~MarkDone() {
            std::lock_guard<std::mutex> lock(g_runMutex);
            g_state = ExitState::Done;
            g_runDone.notify_all();
        }
    } markDone;
    if (proc) proc();
}

void hardExit(int code) {
    runExitHandlerOnce();
    std::function<void(int)> term;
    {
        std::lock_guard<std::mutex> lock(g_exitMutex);
        term = g_terminate;
    }
    if (term) {
        term(code);
        std::abort();
    }
    // Without the static destructors: a camera library's threads may still run (see main).
    std::fflush(nullptr);
    std::_Exit(code);
}

namespace testexit {
void setTerminate(std::function<void(int)> fn) {
    std::lock_guard<std::mutex> lock(g_exitMutex);
    g_terminate = std::move(fn);
}
void reset() {
    std::lock_guard<std::mutex> lock(g_runMutex);
    g_state = ExitState::NotRun;
}
}  // namespace testexit
