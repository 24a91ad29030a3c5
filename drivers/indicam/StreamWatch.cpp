#include "StreamWatch.h"

#include <algorithm>
#include <cstdio>

namespace indicam {

void StreamWatch::started(Clock::time_point now) {
    watching_ = true;
    windowStart_ = now;
    frames_ = 0;
}

bool StreamWatch::due(Clock::time_point now, double expectedFps) {
    if (!watching_ || now - windowStart_ < kWindow) return false;
    const double seconds = std::chrono::duration<double>(now - windowStart_).count();
    seen_ = static_cast<double>(frames_) / seconds;
    expected_ = expectedFps;
    windowStart_ = now;
    frames_ = 0;
    slow_ = expectedFps > 0 && seen_ < kSlowShare * expectedFps;
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

std::string StreamWatch::stalledText() const {
    char text[80];
    std::snprintf(text, sizeof text, "INDI stream stalled: %.1f fps of %.0f", seen_, expected_);
    return text;
}

}  // namespace indicam
