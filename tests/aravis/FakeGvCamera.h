#pragma once
// Aravis' simulated GigE Vision camera on the loopback interface, started in its own process
// and stopped by its PID. Run the test program inside a private network namespace
// (indi_test::runInPrivateNetwork) so that it is reachable from nowhere else.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

class FakeGvCamera {
  public:
    FakeGvCamera() = default;
    FakeGvCamera(const FakeGvCamera&) = delete;
    FakeGvCamera& operator=(const FakeGvCamera&) = delete;
    ~FakeGvCamera() { stop(); }

    // Starts it; true while it runs half a second later (it binds at once).
    bool start() {
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // also ends with a test that crashes
            if (!freopen("/dev/null", "w", stdout)) _exit(126);
            execlp("arv-fake-gv-camera-0.8", "arv-fake-gv-camera-0.8", "-i", "127.0.0.1",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
        return pid_ > 0;
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    static constexpr const char* kAddress = "127.0.0.1";

  private:
    pid_t pid_ = -1;
};
