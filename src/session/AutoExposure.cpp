#include "session/AutoExposure.h"

#include "acquisition/Frame.h"

AutoExposure::AutoExposure(QObject* context, Hooks hooks)
    : hooks_(std::move(hooks)), worker_(context) {}

void AutoExposure::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    control_.reset();
    changes_ = 0;
}

void AutoExposure::setTarget(double percent) {
    control_.setTarget(percent);
    control_.reset();
}

void AutoExposure::setLimits(const ExposureLimits& limits) {
    control_.setLimits(limits);
    control_.reset();
}

void AutoExposure::offer(const Frame& frame) {
    if (!on_ || frame.rawImage.empty() || frame.exposureNumber < firstMeasured_) return;
    if (hooks_.recording && hooks_.recording()) return;
    cv::Mat samples = frame.rawImage;
    const int bits = frame.bitsPerSample;
    const bool mosaic = frame.pattern != ColorPattern::Mono;
    const uint64_t number = frame.exposureNumber;
    worker_.submit([this, samples, bits, mosaic, number]() -> AnalysisWorker::Result {
        const double level = brightLevelPercent(samples, bits, mosaic);
        return [this, level, number] { act(level, number); };
    });
}

void AutoExposure::act(double level, uint64_t exposureNumber) {
    // Off, recording, or a change made since this frame was handed over: nothing to do.
    if (!on_ || exposureNumber < firstMeasured_) return;
    if (hooks_.recording && hooks_.recording()) return;
    lastLevel_ = level;
    const ExposureSetting current = hooks_.current ? hooks_.current() : ExposureSetting{};
    const ExposureControl::Decision d = control_.step(level, current);
    if (d.step != ExposureControl::Step::Changed) return;
    if (hooks_.apply) hooks_.apply(d.setting);
    ++changes_;
    // The exposure running now may have started with the old setting; the next one takes
    // the new one.
    firstMeasured_ = (hooks_.exposuresStarted ? hooks_.exposuresStarted() : 0) + 2;
}
