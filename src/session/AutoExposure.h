#pragma once
// The automatic exposure: while it is on and no recording runs, the newest frame's level
// (the brightest 0.5 % of the planet's disc, or of the frame) is measured on a thread of its
// own, and the exposure and gain are stepped until it is near the target, then held. Only
// frames exposed after its last change are measured. During a recording it changes nothing,
// so every frame of a recording keeps the same settings.
#include <QObject>
#include <cstdint>
#include <functional>

#include "analysis/ExposureControl.h"
#include "session/AnalysisWorker.h"

struct Frame;

class AutoExposure {
  public:
    struct Hooks {
        // The setting in force as the controls show it.
        std::function<ExposureSetting()> current;
        // Makes a setting: the controls show it and the capture thread takes it.
        std::function<void(const ExposureSetting& setting)> apply;
        // The exposures the capture thread has started so far.
        std::function<uint64_t()> exposuresStarted;
        // A recording runs.
        std::function<bool()> recording;
    };

    AutoExposure(QObject* context, Hooks hooks);

    void setOn(bool on);
    bool on() const { return on_; }
    void setTarget(double percent);
    void setLimits(const ExposureLimits& limits);
    const ExposureControl& control() const { return control_; }

    // Hands the frame's samples to the measurement (shared, not copied); does nothing while
    // off, during a recording and for frames exposed before the last change.
    void offer(const Frame& frame);

    // The last level measured (percent of full scale) and the changes made since it was on.
    double lastLevel() const { return lastLevel_; }
    uint64_t changes() const { return changes_; }
    // Until the measurements handed over so far have run; true when done within `timeoutMs`.
    bool waitIdle(int timeoutMs) const { return worker_.waitIdle(timeoutMs); }

  private:
    void act(double level, uint64_t exposureNumber);

    Hooks hooks_;
    bool on_ = false;
    ExposureControl control_;
    // Frames of lower exposure numbers were (or may have been) exposed before the last change.
    uint64_t firstMeasured_ = 0;
    double lastLevel_ = 0;
    uint64_t changes_ = 0;
    AnalysisWorker worker_;  // last: its thread ends before the members its results use
};
