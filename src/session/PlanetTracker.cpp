#include "session/PlanetTracker.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "acquisition/Frame.h"
#include "analysis/FrameQuality.h"
#include "platform/Clock.h"

namespace {
// The clear level halves in this time without a disc as bright.
constexpr double kClearHalfLifeMs = 2000;
}  // namespace

PlanetTracker::PlanetTracker(QObject* context, Hooks hooks)
    : hooks_(std::move(hooks)), worker_(context) {}

void PlanetTracker::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    tracking_.reset();
    clearBright_ = 0;
    discArea_ = 0;
    setState(on ? State::Searching : State::Off);
}

void PlanetTracker::offer(const Frame& frame) {
    if (!on_ || frame.sensorLeft < 0 || frame.sensorTop < 0 || frame.rawImage.empty()) return;
    const FramePlacement at{
        {frame.sensorLeft, frame.sensorTop, frame.rawImage.cols, frame.rawImage.rows},
        sensor_,
        frame.flipped};
    const uint32_t nowMs = monotonicMs();
    const double fade =
        std::exp2(-static_cast<double>(nowMs - clearBrightAtMs_) / kClearHalfLifeMs);
    const DiscSearch search{.mosaic = frame.pattern != ColorPattern::Mono,
                            .bitsPerSample = frame.bitsPerSample,
                            .clearBright = clearBright_ * fade};
    cv::Mat samples = frame.rawImage;
    worker_.submit([this, samples, search, at, nowMs]() -> AnalysisWorker::Result {
        const DiscFound disc = findDisc(samples, search);
        return [this, at, disc, nowMs] { act(at, disc, nowMs); };
    });
}

void PlanetTracker::act(const FramePlacement& at, const DiscFound& disc, uint32_t atMs) {
    if (!on_) return;
    discArea_ = disc.found ? disc.area : 0;
    if (disc.found) {
        const double x = at.mirrored ? at.frame.width - 1 - disc.centre.x : disc.centre.x;
        discOnSensor_ = {at.frame.x + x, at.frame.y + disc.centre.y};
        const double fade =
            std::exp2(-static_cast<double>(atMs - clearBrightAtMs_) / kClearHalfLifeMs);
        if (disc.bright >= clearBright_ * fade) {
            clearBright_ = disc.bright;
            clearBrightAtMs_ = atMs;
        }
    }
    const SubframeTracking::Decision d = tracking_.step(at, disc, atMs / 1000.0);
    switch (d.step) {
        case SubframeTracking::Step::Stale:
            return;
        case SubframeTracking::Step::Fixed:
            setState(State::Fixed);
            return;
        case SubframeTracking::Step::Lost:
            setState(State::Lost);
            return;
        case SubframeTracking::Step::Held:
            setState(State::Tracking);
            return;
        case SubframeTracking::Step::Moved:
            break;
    }
    setState(State::Tracking);
    ++moves_;
    if (hooks_.moveSubframe) hooks_.moveSubframe(d.origin.x, d.origin.y);
    if (hooks_.noteMove) {
        char text[96];
        std::snprintf(text, sizeof text, "moved to %d, %d (disc at %.1f, %.1f)", d.origin.x,
                      d.origin.y, d.discOnSensor.x, d.discOnSensor.y);
        hooks_.noteMove(text);
    }
}

std::optional<cv::Point2d> PlanetTracker::discInFrame(const Frame& frame) const {
    if (!on_ || discArea_ <= 0 || frame.sensorLeft < 0 || frame.sensorTop < 0) return {};
    double x = discOnSensor_.x - frame.sensorLeft;
    if (frame.flipped) x = frame.rawImage.cols - 1 - x;
    return cv::Point2d(x, discOnSensor_.y - frame.sensorTop);
}

cv::Rect PlanetTracker::qualityRegion(const Frame& frame) const {
    const std::optional<cv::Point2d> centre = discInFrame(frame);
    if (!centre) return {};
    return discPatch(*centre, discArea_, {frame.rawImage.cols, frame.rawImage.rows});
}

void PlanetTracker::setState(State state) {
    if (state == state_) return;
    state_ = state;
    if (hooks_.showState) hooks_.showState(state);
}

std::string PlanetTracker::stateText(State state) {
    switch (state) {
        case State::Off:
            return "";
        case State::Searching:
            return "Tracking: looking for the planet";
        case State::Tracking:
            return "Tracking the planet";
        case State::Lost:
            return "Tracking: planet lost";
        case State::Fixed:
            return "Tracking: the subframe fills the sensor";
    }
    return "";
}
