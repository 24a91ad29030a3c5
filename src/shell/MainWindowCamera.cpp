// The camera of the main window: its own controls in the "Camera Controls" dock, and a change
// of camera while the program runs ("Select Camera...").
#include <QAction>
#include <QStatusBar>
#include <QTimer>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "platform/AppInfo.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "shell/CameraControlsPanel.h"
#include "shell/CommandLine.h"
#include "shell/ExposurePanel.h"
#include "shell/Log.h"
#include "shell/MainWindow.h"
#include "shell/PictureArea.h"
#include "shell/SubframePanel.h"
#include "widgets/CameraDialog.h"

void MainWindow::buildControlsPanel() {
    controlsPanel_ = new CameraControlsPanel(
        [this](const CameraControl& control, double value) {
            capture_->setControl(control.id, value);
            // Changed while a recording runs: noted in its log.
            if (capture_->recording() && controlEnabled(control, true)) {
                CameraControl asked = control;
                asked.value = acceptedValue(control, value);
                recorder_->noteSettingChange(control.caption, controlValueText(asked));
            }
        },
        this);
    addDockWidget(Qt::RightDockWidgetArea, controlsPanel_);
    controlsPanel_->hide();
    // The dock is closed and opened with its menu item; a camera without controls of its own
    // has neither.
    connect(menus_.cameraControls, &QAction::triggered, this,
            [this](bool on) { controlsPanel_->setVisible(on && controlsPanel_->rowCount() > 0); });
    connect(controlsPanel_, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        // Only the user's closing counts: not a dock tabbed away, nor one hidden for a camera
        // without controls of its own.
        if (!visible && (!controlsPanel_->isHidden() || controlsPanel_->rowCount() == 0)) return;
        menus_.cameraControls->setChecked(visible);
    });
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("CameraControlsTimer"));
    timer->setInterval(kControlsRefreshMs);
    connect(timer, &QTimer::timeout, this, &MainWindow::refreshCameraControls);
    timer->start();
}

void MainWindow::refreshCameraControls() {
    const ControlSnapshot controls = capture_->controls();
    const bool hadRows = controlsPanel_->rowCount() > 0;
    controlsPanel_->showControls(controls, capture_->recording());
    const bool hasRows = controlsPanel_->rowCount() > 0;
    menus_.cameraControls->setEnabled(hasRows);
    // Shown once a camera brings controls of its own, unless the user closed the dock.
    if (hasRows != hadRows)
        controlsPanel_->setVisible(hasRows && menus_.cameraControls->isChecked());
    if (controls.refusals != refusalsShown_) {
        refusalsShown_ = controls.refusals;
        statusBar()->showMessage(QString::fromStdString(controls.lastRefusal), 8000);
    }
    // A control such as binning changed the sensor's size.
    const CaptureStatus camera = capture_->status();
    if (camera.cameraOpen && (camera.sensorWidth != sensorShown_.width() ||
                              camera.sensorHeight != sensorShown_.height()))
        showSensor(camera.sensorWidth, camera.sensorHeight);
}

void MainWindow::showSensor(int width, int height) {
    sensorShown_ = QSize(width, height);
    subframePanel_->setSensorSize(width, height);
    subframePanel_->setSliderPositions(width, height);
    capture_->setSubframe(subframePanel_->requestedWidth(), subframePanel_->requestedHeight());
    tracker_->setSensorSize(width, height);
    if (width > 0 && height > 0) pictureArea_->showBlank(width, height);
}

void MainWindow::cameraOpened() {
    const CaptureStatus camera = capture_->status();
    cameraName_ = QString::fromStdString(camera.cameraName);
    capture_->setGain(exposurePanel_->gain());
    capture_->sendGain();
    exposurePanel_->showCameraGain();
    showSensor(camera.sensorWidth, camera.sensorHeight);
    offerSampleDepths();
    setWindowTitle(QString::fromLatin1(kAppName) + QString::fromLatin1(kAppVersion) +
                   tr(" connected to %1").arg(cameraName_));
}

void MainWindow::selectCamera() {
    const CameraChoice current = readCameraChoice();
    CameraDialog dialog(
        availableCameras(), {current.name, current.options},
        [](const CameraSelection& chosen) {
            return writeCameraChoice({chosen.name, chosen.options});
        },
        this);
    if (dialog.exec() != QDialog::Accepted) return;
    CameraSelection chosen;
    if (dialog.selection(chosen)) switchCamera({chosen.name, chosen.options});
}

bool MainWindow::closeCamera() {
    capture_->setCloseAtEnd(true);
    if (!capture_->stop(exitWaitMs())) return false;
    releaseCameraLibrary(capture_->libraryClosed());
    capture_->reset();
    return true;
}

bool MainWindow::openChosenCamera(const CameraChoice& choice, std::string* error) {
    capture_->setCloseAtEnd(true);  // a camera that fails to open is closed at once
    bool opened = loadCameraChoice(choice, error);
    if (opened) {
        opened = capture_->openCamera();
        if (!opened) *error = cameraFailureReason();
    }
    if (!opened) {
        capture_->stop(exitWaitMs());
        releaseCameraLibrary(capture_->libraryClosed());
        capture_->reset();
        return false;
    }
    capture_->setCloseAtEnd(false);
    return true;
}

bool MainWindow::switchCamera(const CameraChoice& choice) {
    if (capture_->recording()) {
        showMessage(tr("The camera cannot be changed while a recording runs."));
        return false;
    }
    statusBar()->showMessage(tr("Opening the camera..."));
    if (!closeCamera()) {
        qCWarning(lcProgram, "the camera did not finish its exposure; it stays in use");
        showMessage(tr("The camera in use does not answer; it cannot be changed now."));
        return false;
    }
    std::string why, again;
    const bool opened = openChosenCamera(choice, &why);
    // The choice made in the program has been tried: the next start uses the camera running.
    forgetNextCameraChoice();
    if (opened) {
        camera_ = choice;
        if (!rememberWorkingCamera(choice))
            qCWarning(lcProgram, "the camera choice could not be stored");
    } else if (!openChosenCamera(camera_, &again)) {
        // The camera before cannot be opened again either: acquisition stays stopped.
        qCWarning(lcProgram, "the camera could not be opened again: %s", again.c_str());
    }
    const bool running = capture_->status().cameraOpen;
    if (running) {
        cameraOpened();
        capture_->start();
    }
    refreshCameraControls();  // the dock shows the controls of the camera now in use
    statusBar()->clearMessage();
    if (!opened) {
        qCWarning(lcProgram, "the camera did not open: %s", why.c_str());
        QString text = tr("The camera did not open.");
        if (!why.empty()) text += QStringLiteral("\n\n") + QString::fromStdString(why);
        text += running ? tr("\n\nThe camera before is in use again.")
                        : tr("\n\nThe camera before did not open again: %1")
                              .arg(QString::fromStdString(again));
        showMessage(text);
    }
    return opened;
}
