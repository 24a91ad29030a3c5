#pragma once
// Runs a profile's sequence: for each step it turns the filter wheel, moves the focuser by the
// filter's offset, sets the filter's exposure and gain, and once wheel and focuser are still
// (looked at as frames arrive) records the step through the recording controller under
// observation names; then the step's pause, the next step, the next loop. It ends after its
// loops, on stop(), or when a recording fails. A Cancel of the capture panel ends the step
// with its file complete and asks whether to end the sequence.
//
// Window thread only. It needs no window: what it shows and asks goes through its hooks.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "recording/RecordingController.h"
#include "settings/TargetProfile.h"

class CaptureThread;
class QTimer;

class SequenceRunner : public QObject {
    Q_OBJECT
  public:
    struct Hooks {
        // Shows the filter's exposure and gain on the window's controls (the recording sets
        // the exposure itself).
        std::function<void(int64_t exposureUs, int32_t gain)> showSettings;
        // A capture request with the window's capture path and colour choice.
        std::function<CaptureRequest()> baseRequest;
        // Holds the capture controls (true) while the sequence runs, Cancel in view.
        std::function<void(bool running)> holdControls;
        // The status text ("" once the sequence has ended).
        std::function<void(const QString& text)> showStatus;
        // A yes/no question; true for yes.
        std::function<bool(const QString& question)> ask;
    };

    enum class Phase { Idle, Settling, Recording, Pausing, Asking };

    SequenceRunner(CaptureThread& capture, RecordingController& recorder, Hooks hooks,
                   QObject* parent = nullptr);

    // Starts the profile's sequence; "" when it started, else why not (no steps, a loop
    // over its budget, a filter the wheel lacks, a recording running).
    QString start(const TargetProfile& profile);
    // Why start() would refuse the profile now; "" when it would not.
    QString startProblem(const TargetProfile& profile) const;
    // Ends the sequence now: a recording of it running is ended with its file complete.
    void stop();
    // The capture panel's Cancel while the sequence runs: ends the step (a recording with its
    // file complete) and asks whether to end the sequence.
    void cancelStep();
    // A frame arrived: the moment to look whether wheel and focuser have settled.
    void frameArrived();

    bool running() const { return phase_ != Phase::Idle; }
    Phase phase() const { return phase_; }
    const TargetProfile& profile() const { return profile_; }
    int32_t loop() const { return loop_; }  // from 1
    int32_t loops() const { return profile_.loops; }
    // The step under way (from 0) and its filter; the seconds left of it (pause included).
    int32_t stepIndex() const { return static_cast<int32_t>(step_); }
    std::string stepFilter() const;
    double secondsLeft() const;
    // "Sequence: loop 2/5, step G, 0:42 left"; "" while none runs.
    QString statusText() const;
    // Recordings made by the running (or last) sequence, and why the last one ended early
    // ("" when it ran to its end or was stopped).
    int32_t recordingsMade() const { return recordings_; }
    const QString& lastError() const { return lastError_; }

  signals:
    void finished(const QString& error);

  private:
    void beginStep();
    void startRecording();
    void stepRecorded();
    void nextStep();
    void finish(const QString& error);
    // After a Cancel: true when the user chose to go on.
    bool askToGoOn();
    void showStatus();

    CaptureThread& capture_;
    RecordingController& recorder_;
    Hooks hooks_;
    QTimer* tick_ = nullptr;  // the status text and the end of a pause
    TargetProfile profile_;
    Phase phase_ = Phase::Idle;
    int32_t loop_ = 0;
    size_t step_ = 0;
    int32_t focusBase_ = 0;  // the focuser position of offset 0
    bool focusing_ = false;  // the sequence moves a focuser
    bool cancelled_ = false;
    bool wereObservationNames_ = false;
    uint32_t pauseEnd_ = 0;  // monotonicMs
    int32_t recordings_ = 0;
    QString lastError_;
};
