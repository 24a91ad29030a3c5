// The tracker's decisions against a disc that drifts steadily across the sensor, with a
// camera that places the subframe a fixed delay after each move is asked for: the disc must
// stay within a tenth of the subframe's centre, and a lead must need fewer moves than
// recentring would.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>

#include "analysis/SubframeTracking.h"

namespace {

struct DriftRun {
    double withinTenth = 0;  // share of frames
    int moves = 0;
};

// 20 s of frames every `frameS` seconds of a 640 x 480 subframe on a 4096 x 3000 sensor, the
// disc drifting by `vx`, `vy` pixels a second; a move shows `delayS` seconds after it was asked.
DriftRun drift(double vx, double vy, double frameS, double delayS) {
    SubframeTracking tracking;
    const cv::Size sensor{4096, 3000}, sub{640, 480};
    cv::Point origin = centredOrigin({2048, 1500}, sub, sensor);
    std::deque<std::pair<double, cv::Point>> pending;
    DriftRun run;
    int frames = 0, within = 0;
    for (double t = 0; t < 20; t += frameS, ++frames) {
        while (!pending.empty() && pending.front().first <= t) {
            origin = pending.front().second;
            pending.pop_front();
        }
        const cv::Point2d disc{2048 + vx * t, 1500 + vy * t};
        const cv::Point2d inFrame = disc - cv::Point2d(origin);
        within += std::abs(inFrame.x - (sub.width - 1) / 2.0) <= sub.width / 10.0 &&
                  std::abs(inFrame.y - (sub.height - 1) / 2.0) <= sub.height / 10.0;
        DiscFound found;
        found.found = true;
        found.centre = inFrame;
        const auto d = tracking.step({{origin, sub}, sensor, false}, found, t);
        if (d.step == SubframeTracking::Step::Moved) {
            ++run.moves;
            pending.emplace_back(t + delayS, d.origin);
        }
    }
    run.withinTenth = static_cast<double>(within) / frames;
    return run;
}

TEST(TrackingLead, ADriftingDiscStaysWithinATenthOfTheCentreWithFewMoves) {
    struct Case {
        double vx, vy, frameS, delayS;
        int maxMoves;
    };
    // Slow and fast drifts, short and long exposures, a slow camera; recentring without a
    // lead needs a move per tenth of the subframe crossed (20 s x 50 px/s / 64 px: 15).
    for (const Case& c : {Case{5, 3, 0.05, 0.1, 2}, Case{20, 12, 0.05, 0.15, 5},
                          Case{50, -30, 0.05, 0.15, 12}, Case{-50, 30, 0.2, 0.6, 12}}) {
        const DriftRun run = drift(c.vx, c.vy, c.frameS, c.delayS);
        EXPECT_GE(run.withinTenth, 0.95) << c.vx << ", " << c.vy << " every " << c.frameS << " s";
        EXPECT_LE(run.moves, c.maxMoves) << c.vx << ", " << c.vy << " every " << c.frameS << " s";
        EXPECT_GE(run.moves, 1);
    }
}

}  // namespace
