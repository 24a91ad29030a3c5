#include "StreamWatch.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace indicam {

void StreamWatch::started(Clock::time_point now) {
    watching_ = true;
    windowStart_ = now;
    frames_ = 0;
    busyAtStart_ = -1;
}

bool StreamWatch::due(Clock::time_point now, double expectedFps, long long readerBusyNs) {
    if (!watching_) return false;
    if (busyAtStart_ < 0 && readerBusyNs >= 0) {
        busyAtStart_ = readerBusyNs;
        busyStart_ = now;
    }
    if (now - windowStart_ < kWindow) return false;
    const double seconds = std::chrono::duration<double>(now - windowStart_).count();
    seen_ = static_cast<double>(frames_) / seconds;
    expected_ = expectedFps;
    const double busySeconds = std::chrono::duration<double>(now - busyStart_).count();
    readerLimited_ =
        busyAtStart_ >= 0 && readerBusyNs >= busyAtStart_ && busySeconds > 0 &&
        static_cast<double>(readerBusyNs - busyAtStart_) / 1e9 >= kReaderBusyShare * busySeconds;
    windowStart_ = now;
    frames_ = 0;
    busyAtStart_ = readerBusyNs;
    busyStart_ = now;
    slow_ = expectedFps > 0 && seen_ < kSlowShare * expectedFps && !readerLimited_;
    if (!slow_) {
        slowWindows_ = 0;
        stalled_ = false;
        pause_ = kFirstPause;
        return false;
    }
    // The first slow window is restarted at once; a second one in a row means the restart
    // did not help.
    stalled_ = ++slowWindows_ >= 2;
    if (now < nextRestart_) return false;
    nextRestart_ = now + pause_;
    if (slowWindows_ >= 2) pause_ = std::min<Clock::duration>(pause_ * 2, kLongestPause);
    ++restarts_;
    return true;
}

long long StreamWatch::threadBusyNs(int tid) {
    if (tid <= 0) return -1;
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/schedstat";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return -1;
    long long running = 0, waiting = 0;
    const bool read = std::fscanf(f, "%lld %lld", &running, &waiting) == 2;
    std::fclose(f);
    return read ? running + waiting : -1;
}

std::string StreamWatch::stalledText() const {
    char text[80];
    std::snprintf(text, sizeof text, "INDI stream stalled: %.1f fps of %.0f", seen_, expected_);
    return text;
}

}  // namespace indicam
