// Start-up and the exit procedure of the main window.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "display/FocusWindow.h"
#include "platform/AppInfo.h"
#include "platform/HardExit.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "recording/RecoveryJournal.h"
#include "settings/PreviewSettings.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "shell/CapturePanel.h"
#include "shell/ExposurePanel.h"
#include "shell/Log.h"
#include "shell/MainWindow.h"
#include "shell/PictureArea.h"
#include "shell/PreviewControls.h"
#include "shell/SubframePanel.h"
#include "widgets/OverlayDialog.h"
#include "widgets/SplashScreen.h"

namespace {
// Dispatches what is pending (the splash gets painted before the camera is opened, which
// may take seconds), without user input.
void processPending() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
}  // namespace

void MainWindow::start() {
    // Where the window was last time, the first time as large as the screen allows up to
    // 1280 x 900; either way within the screen it is on now (a place stored on a larger
    // monitor shrinks to the laptop's), room left for the title bar.
    const bool restored = restoreGeometry(readWindowGeometry());
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 900);
    const QSize frame = restored ? QSize(0, 0) : QSize(16, 40);
    const QSize fits(std::clamp(restored ? width() : 1280, kMinimumWidth,
                                std::max(kMinimumWidth, room.width() - frame.width())),
                     std::clamp(restored ? height() : 900, kMinimumHeight,
                                std::max(kMinimumHeight, room.height() - frame.height())));
    if (!restored || fits != size() || !room.contains(geometry())) {
        resize(fits);
        // Centred a little below the middle (the title bar), never past the screen's edges.
        const QPoint centred = room.center() - QPoint(width() / 2, height() / 2 - 15);
        const QPoint at = restored && room.contains(geometry()) ? pos() : centred;
        move(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() + 1 - width())),
             std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() + 1 - height())));
    }
    // A grey picture with the palette of the start levels; sized to the sensor once the
    // camera is known.
    pictureArea_->showBlank(1, 1);
    capture_->setExposureMs(100);
    exposurePanel_->setGain(10);

    if (options_.splash) options_.splash->setStatus(tr("Searching..."));
    processPending();

    capturePanel_->setPauseText(QStringLiteral("0"));
    applyStoredSettings(readStoredSettings());
    session_ = readSessionDetails();
    menus_.writeCaptureLog->setChecked(readCaptureLogOn());
    recorder_->setWriteLog(menus_.writeCaptureLog->isChecked());
    (readObservationNames() ? menus_.observationNames : menus_.numberedNames)->setChecked(true);
    recorder_->setObservationNames(menus_.observationNames->isChecked());
    menus_.trackPlanet->setChecked(readTrackPlanet());
    menus_.steadyPreview->setChecked(readSteadyPreview());
    applySharpnessChoices(readSharpnessChoices(), false);
    previewControls_->restore();
    capture_->setFrameBudget(CaptureThread::kHandOffBudgetBytes, readWriterQueueBytes());
    finishInterruptedRecordings();

    setExitHandler([this] { saveAndStop(); });
    exitProcInstalled_ = true;

    openCamera();

    if (options_.splash) {
        options_.splash->setStatusColor(QColor(0, 128, 0));
        options_.splash->setStatus(tr("%1 Found").arg(cameraName_));
    }
    processPending();
    // The "<camera> Found" line stays readable for the splash delay while the event loop runs;
    // then the window opens.
    if (options_.splashDelayMs > 0)
        QTimer::singleShot(options_.splashDelayMs, this, &MainWindow::completeStart);
    else
        completeStart();
}

void MainWindow::completeStart() {
    setColorCamera(menus_.colorCamera->isChecked());
    exposurePanel_->sendWhiteBalance();
    exposurePanel_->setGain(exposurePanel_->gain());
    for (QAction* item : menus_.zoom->actions())
        if (item->data().toInt() == 100) item->setChecked(true);

    applyLastProfile();
    capture_->start();

    if (options_.splash) options_.splash->hide();
    show();
    processPending();
    emit started();
}

void MainWindow::finishInterruptedRecordings() {
    // Recordings that a crash cut short are finished through the journal of the files the
    // program had open, wherever they were written; nothing else is touched. A recording on a
    // disk that is not there is finished once it is back: the journal is looked at again
    // every few seconds while one waits.
    QStringList lines;
    bool waiting = false;
    for (const RecoveryOutcome& outcome : recoverInterruptedRecordings(*journal_)) {
        if (outcome.waiting) {
            waiting = true;
            // Said once, not at every look (the status panels stay in view meanwhile).
            if (waitingShown_.insert(outcome.path).second) {
                qCInfo(lcProgram, "%s", outcome.text.c_str());
                lines << QString::fromStdString(outcome.text);
            }
            continue;
        }
        waitingShown_.erase(outcome.path);
        qCInfo(lcProgram, "%s", outcome.text.c_str());
        lines << QString::fromStdString(outcome.text);
    }
    if (waiting) {
        if (!recoveryRetry_) {
            recoveryRetry_ = new QTimer(this);
            recoveryRetry_->setInterval(kRecoveryRetryMs);
            connect(recoveryRetry_, &QTimer::timeout, this,
                    &MainWindow::finishInterruptedRecordings);
        }
        recoveryRetry_->start();
    } else if (recoveryRetry_) {
        recoveryRetry_->stop();
    }
    // At start-up the window is not shown yet: a message shown before would be drawn over
    // the status panels once they appear, so it waits for the window.
    if (lines.isEmpty()) return;
    const QString text = lines.join(QStringLiteral("; "));
    const int ms = 30000;
    if (isVisible())
        statusBar()->showMessage(text, ms);
    else
        connect(
            this, &MainWindow::started, this,
            [this, text, ms] { statusBar()->showMessage(text, ms); }, Qt::SingleShotConnection);
}

void MainWindow::applyStoredSettings(const StoredSettings& stored) {
    exposurePanel_->setExposureUs(stored.exposureUs);  // clamped to 0.01..100 ms
    capture_->setExposureUs(exposurePanel_->exposureUs());
    capturePanel_->setCountText(QString::number(decimalOr(stored.frameCountText, 1)));
    // Output format FIT: the still-capture button is the one in view.
    capturePanel_->selectFormat(CaptureFormat::Fit);
    capturePanel_->setCapturePath(stored.capturePath);
    exposurePanel_->setGain(stored.gain);  // clamped to 0..100
    subframePanel_->setOrigin(stored.subframeLeft, stored.subframeTop);

    saved_.capturePath = capturePanel_->capturePath();
    saved_.exposureUs = exposurePanel_->exposureUs();
    saved_.frameCountText = capturePanel_->countText();
    saved_.subframeLeft = stored.subframeLeft;
    saved_.subframeTop = stored.subframeTop;
}

void MainWindow::openCamera() {
    // Camera discovery: a library that cannot be loaded counts as no camera.
    std::string error;
    bool found =
        camera().complete() || (options_.loadCameraLibrary && options_.loadCameraLibrary(&error));
    if (found) {
        found = capture_->openCamera();
        if (!found) error = cameraFailureReason();
    }
    if (!found) {
        // Below the fixed text: the library's reason, when it gives one, and the way to
        // another camera.
        std::string details = error;
        if (!options_.noCameraHint.empty())
            details += (details.empty() ? "" : "\n\n") + options_.noCameraHint;
        if (!details.empty()) qCWarning(lcProgram, "%s", details.c_str());
        const QString noCamera = tr("NO CAMERA!");
        showMessage(details.empty()
                        ? noCamera
                        : noCamera + QStringLiteral("\n\n") + QString::fromStdString(details));
        hardExit(1);
    }

    cameraOpened();
}

uint32_t MainWindow::exitWaitMs() const {
    // The exposure running at exit may be longer than the one now pending (a recording
    // keeps its length); the slider's maximum bounds every length the user can choose.
    const int32_t longest =
        std::max<int32_t>(static_cast<int32_t>((capture_->settings().exposureUs + 999) / 1000),
                          exposurePanel_->exposureMax());
    return static_cast<uint32_t>(std::max<int32_t>(longest, 0)) + capture_->stallMarginMs();
}

void MainWindow::saveAndStop() {
    // A recording still open is closed first, so that its file is complete.
    capturePanel_->closeForExit();

    capture_->requestStop();

    settingsWritten_ = writeStoredSettings(saved_);
    if (!settingsWritten_) {
        auto store = openSettings();
        qCWarning(lcProgram, "the settings could not be stored in %s",
                  store->fileName().toLocal8Bit().constData());
    }

    // The window's place only once it was shown: a start that halted keeps the last one.
    if (isVisible() && !writeWindowGeometry(saveGeometry()))
        qCWarning(lcProgram, "the window's size and place could not be stored");

    if (focusWindow_) focusWindow_->hide();
    if (overlayDialog_) overlayDialog_->hide();

    // The thread ends after the exposure in progress; a camera that never reports the
    // end of its exposure does not keep the program from ending.
    if (!capture_->stop(exitWaitMs()))
        qCWarning(lcProgram, "the camera did not finish its exposure");
}
