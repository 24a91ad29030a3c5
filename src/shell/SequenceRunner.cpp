#include "shell/SequenceRunner.h"

#include <QTimer>
#include <algorithm>

#include "acquisition/CaptureThread.h"
#include "platform/Clock.h"
#include "settings/SequencePlan.h"

namespace {
// How often the status text follows the time left, and a pause's end is looked for.
constexpr int kTickMs = 250;

int32_t slotOf(const CaptureStatus& camera, const std::string& filter) {
    const auto& names = camera.filterNames;
    const auto it = std::find(names.begin(), names.end(), filter);
    return it == names.end() ? 0 : static_cast<int32_t>(it - names.begin()) + 1;
}
}  // namespace

SequenceRunner::SequenceRunner(CaptureThread& capture, RecordingController& recorder, Hooks hooks,
                               QObject* parent)
    : QObject(parent), capture_(capture), recorder_(recorder), hooks_(std::move(hooks)) {
    tick_ = new QTimer(this);
    tick_->setInterval(kTickMs);
    connect(tick_, &QTimer::timeout, this, [this] {
        if (phase_ == Phase::Pausing && static_cast<int32_t>(monotonicMs() - pauseEnd_) >= 0)
            nextStep();
        showStatus();
    });
    connect(&recorder_, &RecordingController::recordingClosed, this, [this] {
        if (phase_ == Phase::Recording) stepRecorded();
    });
    connect(&recorder_, &RecordingController::failed, this, [this](const QString& text) {
        if (running()) finish(text);
    });
}

QString SequenceRunner::startProblem(const TargetProfile& profile) const {
    if (running()) return tr("A sequence runs already.");
    if (recorder_.busy() || recorder_.waiting()) return tr("A recording runs.");
    const std::string problem = sequenceProblem(profile);
    if (!problem.empty()) return QString::fromStdString(problem);
    const CaptureStatus camera = capture_.status();
    if (camera.filterNames.empty()) return tr("The camera has no filter wheel to turn.");
    for (const SequenceStep& step : profile.steps)
        if (slotOf(camera, step.filter) == 0)
            return tr("The filter wheel has no filter '%1'.")
                .arg(QString::fromStdString(step.filter));
    if (hooks_.baseRequest && hooks_.baseRequest().capturePath.empty())
        return tr("Please set file parameters first");
    return {};
}

QString SequenceRunner::start(const TargetProfile& profile) {
    const QString problem = startProblem(profile);
    if (!problem.isEmpty()) return problem;
    const CaptureStatus camera = capture_.status();
    profile_ = profile;
    // The focuser's position now is in focus for the filter in the beam: every offset
    // counts from there.
    const FocuserStatus focus = capture_.focuser().status();
    focusing_ = focus.present;
    const std::string inBeam =
        camera.filterSlot >= 1 &&
                camera.filterSlot <= static_cast<int32_t>(camera.filterNames.size())
            ? camera.filterNames[static_cast<size_t>(camera.filterSlot) - 1]
            : std::string();
    focusBase_ = focus.position - profile_.focusOffsetFor(inBeam);
    wereObservationNames_ = recorder_.observationNames();
    recorder_.setObservationNames(true);
    loop_ = 1;
    step_ = 0;
    recordings_ = 0;
    lastError_.clear();
    cancelled_ = false;
    if (hooks_.holdControls) hooks_.holdControls(true);
    tick_->start();
    beginStep();
    return {};
}

void SequenceRunner::beginStep() {
    const SequenceStep& step = profile_.steps[step_];
    phase_ = Phase::Settling;
    capture_.setFilterSlot(slotOf(capture_.status(), step.filter));
    if (focusing_) capture_.focuser().moveTo(focusBase_ + profile_.focusOffsetFor(step.filter));
    const int32_t gain = profile_.gainFor(step.filter);
    if (hooks_.showSettings) hooks_.showSettings(profile_.exposureFor(step.filter), gain);
    capture_.setGain(gain);
    capture_.sendGain();
    showStatus();
}

void SequenceRunner::frameArrived() {
    if (phase_ != Phase::Settling) return;
    const CaptureStatus camera = capture_.status();
    if (camera.wheelMoving || (focusing_ && capture_.focuser().status().moving)) return;
    startRecording();
}

void SequenceRunner::startRecording() {
    const SequenceStep& step = profile_.steps[step_];
    CaptureRequest request = hooks_.baseRequest ? hooks_.baseRequest() : CaptureRequest{};
    request.format = profile_.format;
    request.length = step.seconds > 0 ? RecordingLength{step.seconds, true}
                                      : RecordingLength{step.frames, false};
    request.pauseMs = 0;
    request.exposureUs = profile_.exposureFor(step.filter);
    phase_ = Phase::Recording;
    if (recorder_.requestCapture(request) == CaptureStart::Failed) {
        const std::string why = recorder_.lastError();
        finish(why.empty() ? tr("A recording of the sequence could not start.")
                           : QString::fromStdString(why));
        return;
    }
    showStatus();
}

void SequenceRunner::stepRecorded() {
    ++recordings_;
    if (cancelled_ && !askToGoOn()) {
        finish({});
        return;
    }
    const int32_t pause = profile_.steps[step_].pauseSeconds;
    if (pause > 0) {
        phase_ = Phase::Pausing;
        pauseEnd_ = monotonicMs() + static_cast<uint32_t>(pause) * 1000u;
        showStatus();
        return;
    }
    nextStep();
}

void SequenceRunner::nextStep() {
    if (++step_ >= profile_.steps.size()) {
        step_ = 0;
        if (profile_.loops > 0 && ++loop_ > profile_.loops) {
            loop_ = profile_.loops;
            finish({});
            return;
        }
        if (profile_.loops == 0) ++loop_;
    }
    beginStep();
}

void SequenceRunner::cancelStep() {
    if (!running() || phase_ == Phase::Asking) return;
    if (phase_ == Phase::Recording && recorder_.busy()) {
        // The recording ends with its file complete; the question follows its close.
        cancelled_ = true;
        recorder_.cancel();
        return;
    }
    // Nothing records (the wheel turns, a pause, a capture waiting for the wheel): the step
    // is given up.
    if (recorder_.waiting()) recorder_.cancel();
    if (!askToGoOn()) {
        finish({});
        return;
    }
    nextStep();
}

bool SequenceRunner::askToGoOn() {
    cancelled_ = false;
    const Phase was = phase_;
    phase_ = Phase::Asking;
    const bool end =
        !hooks_.ask || hooks_.ask(tr("The step is cancelled. End the sequence as well?"));
    if (phase_ != Phase::Asking) return false;  // stopped meanwhile
    phase_ = was;
    return !end;
}

void SequenceRunner::stop() {
    if (running()) finish({});
}

void SequenceRunner::finish(const QString& error) {
    phase_ = Phase::Idle;
    tick_->stop();
    lastError_ = error;
    if (recorder_.waiting() || recorder_.busy()) recorder_.cancel();
    recorder_.setObservationNames(wereObservationNames_);
    if (hooks_.holdControls) hooks_.holdControls(false);
    if (hooks_.showStatus) hooks_.showStatus(QString());
    emit finished(error);
}

std::string SequenceRunner::stepFilter() const {
    return running() ? profile_.steps[step_].filter : std::string();
}

double SequenceRunner::secondsLeft() const {
    if (!running()) return 0;
    const SequenceStep& step = profile_.steps[step_];
    const double pause = step.pauseSeconds;
    const auto msUntil = [](uint32_t end) {
        return std::max(0, static_cast<int32_t>(end - monotonicMs())) / 1000.0;
    };
    switch (phase_) {
        case Phase::Pausing:
            return msUntil(pauseEnd_);
        case Phase::Recording:
            if (recorder_.busy()) {
                if (recorder_.framesToGo() == kCountTimed)
                    return msUntil(recorder_.endTime()) + pause;
                if (recorder_.framesToGo() > 0)
                    return recorder_.framesToGo() *
                               static_cast<double>(profile_.exposureFor(step.filter)) / 1e6 +
                           pause;
            }
            [[fallthrough]];
        default:
            return stepSeconds(profile_, step) + pause;
    }
}

QString SequenceRunner::statusText() const {
    if (!running()) return {};
    return QString::fromStdString(
        sequenceStatusText(loop_, profile_.loops, stepFilter(), secondsLeft()));
}

void SequenceRunner::showStatus() {
    if (running() && hooks_.showStatus) hooks_.showStatus(statusText());
}
