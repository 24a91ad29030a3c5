#pragma once
// Watches a video stream's arrival rate against the rate its driver reports making, and says
// when to restart it. A stream can stall behind the library's back (another client lowers the
// preview rate or stops the stream, the driver's stream thread oversleeps after a quick
// restart) while the driver still reports it on: only the arrival rate tells. A stream that
// is slower than the driver because this client cannot read it faster (on a loaded machine
// the server drops the stream frames of a client that falls behind) is no stall: a restart
// would only cost frames. That one is told by the thread reading the images, which then
// runs or waits for a processor nearly all the time. Nothing here talks to the server.
#include <chrono>
#include <string>

namespace indicam {

class StreamWatch {
  public:
    using Clock = std::chrono::steady_clock;

    // The rate is judged over windows of this length; a window whose rate is below
    // kSlowShare of the driver's counts as slow.
    static constexpr auto kWindow = std::chrono::seconds(3);
    static constexpr double kSlowShare = 0.6;
    // A slow window in which the reading thread was busy (running or ready to run) for at
    // least this share of the time is limited by this client, not stalled.
    static constexpr double kReaderBusyShare = 0.7;
    // A restart that did not help is tried again after a pause doubling from kFirstPause
    // up to kLongestPause, so that a stream that stays slow never floods the server.
    static constexpr auto kFirstPause = std::chrono::seconds(3);
    static constexpr auto kLongestPause = std::chrono::seconds(30);

    // The stream was (re)started by the library: a new window begins now.
    void started(Clock::time_point now);
    // The stream was turned off by the library: nothing to watch until it starts again.
    void stopped() { watching_ = false; }
    void frame() { ++frames_; }

    // Ends the window when it is over and judges it against `expectedFps`, the driver's rate
    // (0 when unknown: never slow). `readerBusyNs` is threadBusyNs() of the reading thread
    // (negative when unknown). True when the stream should be restarted now; the caller
    // restarts it and calls started() again.
    bool due(Clock::time_point now, double expectedFps, long long readerBusyNs = -1);

    // How long a thread of this process has run and waited to run since it began, in
    // nanoseconds (its scheduler statistics); -1 when the system does not tell.
    static long long threadBusyNs(int tid);

    // After a restart that did not help: the stream stays far below the driver's rate.
    bool stalled() const { return stalled_; }
    // Whether the last window judged was slow, and its figures.
    bool slow() const { return slow_; }
    double seenFps() const { return seen_; }
    // Whether the last window judged was below the driver's rate because the reader was busy.
    bool readerLimited() const { return readerLimited_; }
    double expectedFps() const { return expected_; }
    unsigned restarts() const { return restarts_; }
    // "INDI stream stalled: 0.1 fps of 23"
    std::string stalledText() const;

  private:
    bool watching_ = false;
    Clock::time_point windowStart_{}, nextRestart_{};
    Clock::duration pause_ = kFirstPause;
    long frames_ = 0;
    bool slow_ = false, stalled_ = false, readerLimited_ = false;
    // The reader's busy time when the window's reading began, and when that was (-1: not yet).
    long long busyAtStart_ = -1;
    Clock::time_point busyStart_{};
    int slowWindows_ = 0;  // in a row
    unsigned restarts_ = 0;
    double seen_ = 0, expected_ = 0;
};

}  // namespace indicam
