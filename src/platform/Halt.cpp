#include "platform/Halt.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_mutex;
std::function<void()> g_exitProc;
std::function<void(int)> g_terminate;
std::atomic<bool> g_ran{false};
}  // namespace

void SetExitProc(std::function<void()> proc) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_exitProc = std::move(proc);
}

void RunExitProcOnce() {
    if (g_ran.exchange(true)) return;
    std::function<void()> proc;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        proc = g_exitProc;
    }
    if (proc) proc();
}

void Halt(int code) {
    RunExitProcOnce();
    std::function<void(int)> term;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        term = g_terminate;
    }
    if (term) {
        term(code);
        std::abort();
    }
    std::exit(code);
}

namespace testhalt {
void SetTerminate(std::function<void(int)> fn) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_terminate = std::move(fn);
}
void Reset() { g_ran = false; }
}  // namespace testhalt
