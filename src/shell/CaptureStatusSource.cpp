#include "shell/CaptureStatusSource.h"

#include <QCoreApplication>
#include <QTimer>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"

CaptureStatusSource::CaptureStatusSource(CaptureThread& capture, std::function<int()> framesQueued,
                                         QObject* parent)
    : QObject(parent), capture_(capture), framesQueued_(std::move(framesQueued)) {
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &CaptureStatusSource::poll);
    timer_->start();
}

void CaptureStatusSource::poll() {
    const CaptureStatus camera = capture_.status();
    // While a recording runs, the progress panel is the recording's.
    if (camera.recording) {
        frameRate_.reset();
    } else if (frameRate_ != camera.framesPerSecond) {
        frameRate_ = camera.framesPerSecond;
        emit frameRateChanged(camera.framesPerSecond);
    }

    QString state = QCoreApplication::translate("CaptureThread", cameraStateText(camera.state));
    // A recording whose writer queue is full (the camera waits) or holds more than a
    // quarter of its budget says how far the disk is behind.
    const FrameBudget& budget = capture_.frameBudget();
    const int queued = framesQueued_ ? framesQueued_() : 0;
    if (camera.state == CameraState::DiskBehind ||
        (queued > 0 && budget.bytesQueued() > budget.queueLimit() / 4))
        state = tr("Disk behind: %1 frames queued").arg(queued);
    // A camera that stopped answering says why when its library can tell (a lost server).
    if (camera.state == CameraState::Stalled) {
        const std::string reason = cameraFailureReason();
        if (!reason.empty()) state += QStringLiteral(": ") + QString::fromStdString(reason);
    } else if (state.isEmpty() && !camera.cameraTrouble.empty()) {
        // Frames still come, but the library sees trouble (a stream far below the camera's
        // rate): its own words.
        state = QString::fromStdString(camera.cameraTrouble);
    }
    if (stateText_ != state) {
        stateText_ = state;
        emit stateTextChanged(state);
    }
}
