#pragma once
// The capture thread's status as Qt signals. The thread itself knows no Qt and keeps one
// status snapshot; this adapter reads it every second ("Timer1") and says what changed:
// the frame rate (while no recording owns the progress panel) and the camera's state text.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class CaptureThread;
class QTimer;

class CaptureStatusSource : public QObject {
    Q_OBJECT
  public:
    // `framesQueued`: the frames the recording's writer queue holds now.
    CaptureStatusSource(CaptureThread& capture, std::function<int()> framesQueued,
                        QObject* parent = nullptr);

    // Reads the snapshot now and signals what changed since the last reading.
    void poll();
    // The progress panel showed another text: the next reading signals the frame rate even
    // when it is unchanged.
    void forgetFrameRate() { frameRate_.reset(); }

  signals:
    // The frame rate in frames per second; again when a recording has given the panel back.
    void frameRateChanged(int framesPerSecond);
    // "Camera not responding" (with the library's reason when it gives one), "Disk behind:
    // N frames queued", the library's trouble while frames still come ("INDI stream stalled:
    // 0.1 fps of 23"), or "" while all is well.
    void stateTextChanged(const QString& text);

  private:
    CaptureThread& capture_;
    std::function<int()> framesQueued_;
    QTimer* timer_ = nullptr;
    std::optional<int> frameRate_;  // the rate last signalled; none while recording
    std::optional<QString> stateText_;
};
