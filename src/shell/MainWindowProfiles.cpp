// The target profiles and their sequences in the main window: applying a profile, the
// profiles dialog, and the sequence runner's hooks into the panels.
#include <QAction>
#include <QFile>
#include <QScrollArea>
#include <QStatusBar>

#include "acquisition/CaptureThread.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "settings/ProfileStore.h"
#include "shell/CapturePanel.h"
#include "shell/ExposurePanel.h"
#include "shell/Log.h"
#include "shell/MainWindow.h"
#include "shell/SequenceRunner.h"
#include "shell/SubframePanel.h"
#include "widgets/ProfilesDialog.h"

void MainWindow::makeSequenceRunner() {
    SequenceRunner::Hooks hooks;
    hooks.showSettings = [this](int64_t exposureUs, int32_t gain) {
        exposurePanel_->setExposureUs(exposureUs);
        exposurePanel_->setGain(gain);
    };
    hooks.baseRequest = [this] {
        CaptureRequest request;
        request.capturePath = QFile::encodeName(capturePanel_->capturePath()).toStdString();
        request.colorCamera = colorCamera_;
        return request;
    };
    hooks.holdControls = [this](bool running) {
        capturePanel_->holdForSequence(
            running ? std::function<void()>([this] { sequence_->cancelStep(); })
                    : std::function<void()>());
        // The capture buttons and Cancel in view for the whole sequence.
        if (running)
            if (auto* scroll = findChild<QScrollArea*>(QStringLiteral("LeftScroll")))
                scroll->ensureWidgetVisible(capturePanel_);
    };
    hooks.showStatus = [this](const QString& text) {
        sequenceText_ = text;
        showCameraState();
    };
    hooks.ask = [](const QString& question) { return askQuestion(question); };
    sequence_ = std::make_unique<SequenceRunner>(*capture_, *recorder_, std::move(hooks));
    connect(sequence_.get(), &SequenceRunner::finished, this, [this](const QString& error) {
        const QString done = tr("Sequence ended: %1 recording(s)").arg(sequence_->recordingsMade());
        statusBar()->showMessage(error.isEmpty() ? done : done + QStringLiteral(" - ") + error,
                                 30000);
    });
}

TargetProfile MainWindow::currentProfile(const std::string& name) const {
    TargetProfile p;
    p.name = name;
    p.session = session_;
    p.exposureUs = exposurePanel_->exposureUs();
    p.gain = exposurePanel_->gain();
    const WhiteBalance balance = capture_->whiteBalance();
    p.balanceRed = balance.red;
    p.balanceGreen = balance.green;
    p.balanceBlue = balance.blue;
    const CaptureSettings asked = capture_->settings();
    const CaptureStatus camera = capture_->status();
    // The full sensor is kept as 0 x 0, so that the profile fits another camera too.
    const bool full = asked.width <= 0 ||
                      (asked.width >= camera.sensorWidth && asked.height >= camera.sensorHeight);
    p.width = full ? 0 : asked.width;
    p.height = full ? 0 : asked.height;
    p.depth = menus_.depth16->isChecked() ? 16 : 8;
    p.format = capturePanel_->format();
    return p;
}

QString MainWindow::applyProfile(const QString& name) {
    if (sequence_->running()) return tr("A sequence runs.");
    if (recorder_->busy() || recorder_->waiting()) return tr("A recording runs.");
    std::string error;
    const std::optional<TargetProfile> profile =
        ProfileStore().load(QFile::encodeName(name).toStdString(), error);
    if (!profile) return QString::fromStdString(error);
    const TargetProfile& p = *profile;
    session_ = p.session;
    if (!writeSessionDetails(session_))
        qCWarning(lcProgram, "the session details could not be stored");
    exposurePanel_->setExposureUs(p.exposureUs);
    exposurePanel_->commitExposure();
    exposurePanel_->setGain(p.gain);
    exposurePanel_->sendGain();
    exposurePanel_->setWhiteBalance(p.balanceRed, p.balanceGreen, p.balanceBlue);
    // 0 x 0, or more than the sensor: the sliders end at the full sensor.
    const CaptureStatus camera = capture_->status();
    subframePanel_->setSliderPositions(p.width > 0 ? p.width : camera.sensorWidth,
                                       p.height > 0 ? p.height : camera.sensorHeight);
    // 16 bits only from a camera that delivers them.
    const int32_t depth = p.depth == 16 && menus_.depth16->isEnabled() ? 16 : 8;
    (depth == 16 ? menus_.depth16 : menus_.depth8)->setChecked(true);
    chooseSampleDepth(depth);
    capturePanel_->selectFormat(p.format);
    if (!writeLastProfile(p.name)) qCWarning(lcProgram, "the profile in use could not be stored");
    return {};
}

QString MainWindow::startSequence(const QString& profile) {
    if (sequence_->running()) return tr("A sequence runs already.");
    // Read first, so that a sequence refused for its budget leaves the settings as they are.
    std::string error;
    const std::optional<TargetProfile> plan =
        ProfileStore().load(QFile::encodeName(profile).toStdString(), error);
    if (!plan) return QString::fromStdString(error);
    const QString refused = sequence_->startProblem(*plan);
    if (!refused.isEmpty()) return refused;
    const QString applied = applyProfile(profile);
    if (!applied.isEmpty()) return applied;
    return sequence_->start(*plan);
}

void MainWindow::stopSequence() {
    sequence_->stop();
}

void MainWindow::editProfiles() {
    ProfilesDialog::Actions actions;
    actions.current = [this](const std::string& name) { return currentProfile(name); };
    actions.apply = [this](const QString& name) { return applyProfile(name); };
    actions.startSequence = [this](const QString& name) { return startSequence(name); };
    actions.wheelFilters = [this] {
        QStringList names;
        for (const std::string& f : capture_->status().filterNames)
            names << QString::fromStdString(f);
        return names;
    };
    ProfilesDialog dialog(ProfileStore(), std::move(actions), this);
    dialog.choose(QString::fromStdString(readLastProfile()));
    dialog.exec();
}

void MainWindow::applyLastProfile() {
    const std::string name = readLastProfile();
    if (name.empty()) return;
    const QString error = applyProfile(QString::fromStdString(name));
    if (error.isEmpty()) return;
    qCWarning(lcProgram, "%s", error.toLocal8Bit().constData());
    connect(
        this, &MainWindow::started, this, [this, error] { statusBar()->showMessage(error, 30000); },
        Qt::SingleShotConnection);
}
