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

SubframeTracking::Decision SubframeTracking::step(const FramePlacement& at, const DiscFound& disc) {
    Decision d;
    const cv::Rect& f = at.frame;
    if (asked_) {
        if (f.tl() != *asked_ && ++staleFrames_ <= kStaleLimit) return d;
        asked_.reset();
    }
    const bool canMove =
        f.x >= 0 && f.y >= 0 && (f.width < at.sensor.width || f.height < at.sensor.height);
    if (!disc.found) {
        d.step = canMove ? Step::Lost : Step::Fixed;
        return d;
    }
    const double column = at.mirrored ? f.width - 1 - disc.centre.x : disc.centre.x;
    d.discOnSensor = {f.x + column, f.y + disc.centre.y};
    if (!canMove) {
        d.step = Step::Fixed;
        return d;
    }
    const double offX = column - (f.width - 1) / 2.0;
    const double offY = disc.centre.y - (f.height - 1) / 2.0;
    const cv::Point origin = centredOrigin(d.discOnSensor, f.size(), at.sensor);
    const bool far =
        std::abs(offX) > kMoveShare * f.width || std::abs(offY) > kMoveShare * f.height;
    if (!far || origin == f.tl()) {
        d.step = Step::Held;
        return d;
    }
    d.step = Step::Moved;
    d.origin = origin;
    asked_ = origin;
    staleFrames_ = 0;
    return d;
}
