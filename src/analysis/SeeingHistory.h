#pragma once
// The seeing figures of the last minute (frameQuality of the frames analysed, at the times
// they were measured): the current one, the best, a percentile for the threshold of a
// capture that waits for sharp seeing, and the samples a graph draws. Plain arithmetic on a
// wrapping millisecond clock; no window, no threads.
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class SeeingHistory {
  public:
    struct Sample {
        uint32_t atMs = 0;  // monotonicMs
        double value = 0;
    };
    // Samples older than this behind the newest are dropped.
    static constexpr uint32_t kKeepMs = 60000;

    // A figure measured at `atMs` (not earlier than the last one's time).
    void add(uint32_t atMs, double value);
    void clear() { samples_.clear(); }

    const std::deque<Sample>& samples() const { return samples_; }  // oldest first
    std::optional<double> current() const;
    std::optional<double> best() const;  // of the samples held
    // The figure `percent` (0..100) of the samples held rank above (nearest rank); none
    // while they span less than `minSpanMs`.
    std::optional<double> percentile(double percent, uint32_t minSpanMs = 0) const;
    // From the oldest sample held to the newest.
    uint32_t spanMs() const;

  private:
    std::deque<Sample> samples_;
};

// The median and the best of a set of figures; 0 for none.
double medianOf(std::vector<double> values);

// Whether the seeing is sharp enough to start a capture that waits for it: the figures have
// stayed above a threshold, the given percentile of the last minute's figures, for at least
// kHoldMs without a break. Needs kMinHistoryMs of figures first, so that a threshold means
// something.
class SharpMoment {
  public:
    static constexpr uint32_t kHoldMs = 500;
    static constexpr uint32_t kMinHistoryMs = 3000;

    explicit SharpMoment(double percent = 75) : percent_(percent) {}
    void setPercent(double percent) { percent_ = percent; }
    double percent() const { return percent_; }

    // The newest figure of `history` (added to it already): true once the moment has come.
    bool step(const SeeingHistory& history);
    // Starts waiting afresh.
    void reset() { aboveSince_.reset(); }
    // The threshold the last step compared with (none before there was history enough).
    std::optional<double> threshold() const { return threshold_; }

  private:
    double percent_;
    std::optional<uint32_t> aboveSince_;
    std::optional<double> threshold_;
};
