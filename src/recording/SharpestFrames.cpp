#include "recording/SharpestFrames.h"

#include <algorithm>
#include <numeric>

#include "platform/Rounding.h"

SharpestFrames::SharpestFrames(int percent, uint64_t maxBytes)
    : percent_(std::clamp(percent, 1, 100)), maxBytes_(maxBytes) {}

int64_t SharpestFrames::keptOf(int64_t count, int percent) {
    if (count <= 0) return 0;
    const auto n = static_cast<int64_t>(
        roundEven(static_cast<double>(count) * std::clamp(percent, 1, 100) / 100.0));
    return std::clamp<int64_t>(n, 1, count);
}

void SharpestFrames::add(FramePtr frame, double quality, std::vector<Judged>& out) {
    if (!frame) return;
    const uint64_t bytes = frameDataSize(frame.get());
    if (!held_.empty()) {
        const int64_t since = frame->timeStamp.ticks() - held_.front().frame->timeStamp.ticks();
        if (since >= PreciseDateTime::kTicksPerSecond || heldBytes_ + bytes > maxBytes_) flush(out);
    }
    heldBytes_ += bytes;
    held_.push_back({std::move(frame), quality});
}

void SharpestFrames::flush(std::vector<Judged>& out) {
    if (held_.empty()) return;
    const auto count = static_cast<int64_t>(held_.size());
    const int64_t keep = keptOf(count, percent_);
    // The sharpest first; of equal figures the earlier frame.
    std::vector<size_t> order(held_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return held_[a].quality > held_[b].quality; });
    std::vector<bool> keeps(held_.size(), false);
    for (int64_t i = 0; i < keep; ++i) keeps[order[static_cast<size_t>(i)]] = true;
    for (size_t i = 0; i < held_.size(); ++i)
        if (keeps[i]) out.push_back(std::move(held_[i]));
    kept_ += keep;
    leftOut_ += count - keep;
    // The frames left out go now, their memory back to the budget.
    held_.clear();
    heldBytes_ = 0;
}
