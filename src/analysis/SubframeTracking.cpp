#include "analysis/SubframeTracking.h"

#include <algorithm>
#include <cmath>

namespace {
int centredStart(double centre, int length, int sensorLength) {
    const int start = static_cast<int>(std::lround(centre - length / 2.0));
    return std::clamp(start, 0, std::max(0, sensorLength - length)) & ~1;
}
}  // namespace

cv::Point centredOrigin(cv::Point2d centre, cv::Size subframe, cv::Size sensor) {
    return {centredStart(centre.x, subframe.width, sensor.width),
            centredStart(centre.y, subframe.height, sensor.height)};
}

void SubframeTracking::reset() {
    asked_.reset();
    path_.clear();
    drift_ = {};
    moveDelay_ = 0;
}

// Keeps the last kPathSeconds of the disc's path and fits a straight line to each axis: its
// slope is the drift. The seeing's random tilts average out over a few seconds.
void SubframeTracking::notePath(double seconds, cv::Point2d onSensor) {
    path_.emplace_back(seconds, onSensor);
    while (!path_.empty() && path_.front().first < seconds - kPathSeconds) path_.pop_front();
    const double span = path_.back().first - path_.front().first;
    if (path_.size() < 5 || span < kPathSeconds / 3) return;
    double mt = 0, mx = 0, my = 0;
    for (const auto& [t, p] : path_) {
        mt += t;
        mx += p.x;
        my += p.y;
    }
    const double n = static_cast<double>(path_.size());
    mt /= n;
    mx /= n;
    my /= n;
    double tt = 0, tx = 0, ty = 0;
    for (const auto& [t, p] : path_) {
        tt += (t - mt) * (t - mt);
        tx += (t - mt) * (p.x - mx);
        ty += (t - mt) * (p.y - my);
    }
    if (tt > 0) drift_ = {tx / tt, ty / tt};
}

SubframeTracking::Decision SubframeTracking::step(const FramePlacement& at, const DiscFound& disc,
                                                  double seconds) {
    Decision d;
    const cv::Rect& f = at.frame;
    const bool placed = f.x >= 0 && f.y >= 0;
    const double column = at.mirrored ? f.width - 1 - disc.centre.x : disc.centre.x;
    if (disc.found) d.discOnSensor = {f.x + column, f.y + disc.centre.y};
    // Every frame with a disc tells where it is on the sensor, also one from before a move.
    if (disc.found && placed) notePath(seconds, d.discOnSensor);
    if (asked_) {
        if (f.tl() != *asked_ && ++staleFrames_ <= kStaleLimit) return d;
        if (f.tl() == *asked_) {
            // The first frame at the new place: how long the move took, smoothed.
            const double delay = std::clamp(seconds - askedAt_, 0.0, kMaxLead);
            moveDelay_ = moveDelay_ > 0 ? 0.5 * (moveDelay_ + delay) : delay;
        }
        asked_.reset();
    }
    const bool canMove = placed && (f.width < at.sensor.width || f.height < at.sensor.height);
    if (!disc.found) {
        d.step = canMove ? Step::Lost : Step::Fixed;
        return d;
    }
    if (!canMove) {
        d.step = Step::Fixed;
        return d;
    }
    // Where the disc will be when a move asked for now shows (a frame later than the last
    // move took), against the subframe's centre.
    const double frameGap =
        path_.size() < 2 ? 0.0 : path_.back().first - path_[path_.size() - 2].first;
    const double lead = std::min(kMaxLead, moveDelay_ + frameGap);
    const cv::Point2d ahead = d.discOnSensor + drift_ * lead;
    const double offX = ahead.x - (f.x + (f.width - 1) / 2.0);
    const double offY = ahead.y - (f.y + (f.height - 1) / 2.0);
    const double limitX = kMoveShare * f.width, limitY = kMoveShare * f.height;
    const bool far =
        std::abs(offX) > kTriggerShare * limitX || std::abs(offY) > kTriggerShare * limitY;
    // The disc starts on the side it drifts from, on each axis it drifts along by more than
    // a pixel a second, and crosses the centre on its way.
    const auto backOff = [](double rate, double limit) {
        return std::abs(rate) < 1.0 ? 0.0 : (rate > 0 ? -kStartShare : kStartShare) * limit;
    };
    const cv::Point2d aim{ahead.x - backOff(drift_.x, limitX), ahead.y - backOff(drift_.y, limitY)};
    const cv::Point origin = centredOrigin(aim, f.size(), at.sensor);
    if (!far || origin == f.tl()) {
        d.step = Step::Held;
        return d;
    }
    d.step = Step::Moved;
    d.origin = origin;
    asked_ = origin;
    askedAt_ = seconds;
    staleFrames_ = 0;
    return d;
}
