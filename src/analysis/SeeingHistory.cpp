#include "analysis/SeeingHistory.h"

#include <algorithm>
#include <cmath>

void SeeingHistory::add(uint32_t atMs, double value) {
    samples_.push_back({atMs, value});
    // Wrap-safe: the age is the difference of the two counts.
    while (!samples_.empty() && atMs - samples_.front().atMs > kKeepMs) samples_.pop_front();
}

std::optional<double> SeeingHistory::current() const {
    if (samples_.empty()) return std::nullopt;
    return samples_.back().value;
}

std::optional<double> SeeingHistory::best() const {
    if (samples_.empty()) return std::nullopt;
    double best = samples_.front().value;
    for (const Sample& s : samples_) best = std::max(best, s.value);
    return best;
}

uint32_t SeeingHistory::spanMs() const {
    return samples_.empty() ? 0 : samples_.back().atMs - samples_.front().atMs;
}

std::optional<double> SeeingHistory::percentile(double percent, uint32_t minSpanMs) const {
    if (samples_.empty() || spanMs() < minSpanMs) return std::nullopt;
    std::vector<double> values;
    values.reserve(samples_.size());
    for (const Sample& s : samples_) values.push_back(s.value);
    const double share = std::clamp(percent, 0.0, 100.0) / 100.0;
    const auto rank =
        static_cast<size_t>(std::clamp(std::ceil(share * static_cast<double>(values.size())) - 1,
                                       0.0, static_cast<double>(values.size() - 1)));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank),
                     values.end());
    return values[rank];
}

double medianOf(std::vector<double> values) {
    if (values.empty()) return 0;
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half),
                     values.end());
    const double upper = values[half];
    if (values.size() % 2 == 1) return upper;
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
    return (lower + upper) / 2;
}

bool SharpMoment::step(const SeeingHistory& history) {
    const auto current = history.current();
    threshold_ = history.percentile(percent_, kMinHistoryMs);
    if (!current || !threshold_ || *current <= *threshold_) {
        aboveSince_.reset();
        return false;
    }
    const uint32_t now = history.samples().back().atMs;
    if (!aboveSince_) aboveSince_ = now;
    return now - *aboveSince_ >= kHoldMs;
}
