#include "shell/CaptureBus.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QTextDocumentFragment>
#include <QTimer>

#include "acquisition/CaptureThread.h"
#include "recording/RecordingController.h"
#include "shell/CapturePanel.h"
#include "shell/ExposurePanel.h"
#include "shell/Log.h"
#include "shell/MainWindow.h"
#include "shell/SequenceRunner.h"
#include "shell/SubframePanel.h"

namespace {
// The summary's rich text as lines of plain text.
QString busPlainText(const QString& richText) {
    QString text = QTextDocumentFragment::fromHtml(richText).toPlainText();
    text.replace(QChar::LineSeparator, u'\n');
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text.trimmed();
}
}  // namespace

CaptureBus::CaptureBus(MainWindow& window) : QObject(&window), window_(window) {
    followRecordings();
}

bool CaptureBus::publish(QDBusConnection bus, QString& why) {
    if (!bus.isConnected()) {
        why = tr("no session bus (%1)").arg(bus.lastError().message());
        return false;
    }
    // The object first, so that it is there as soon as the name is seen.
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)) {
        why = tr("the object %1 could not be registered").arg(QString::fromLatin1(kObjectPath));
        return false;
    }
    if (!bus.registerService(QString::fromLatin1(kServiceName))) {
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
        const QString error = bus.lastError().message();
        why = tr("the name %1 is taken").arg(QString::fromLatin1(kServiceName)) +
              (error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(error));
        return false;
    }
    return true;
}

void CaptureBus::answer(const QString& refusal) {
    if (!refusal.isEmpty() && calledFromDBus())
        sendErrorReply(QString::fromLatin1(kRefusedError), refusal);
}

// ---- the commands

QVariantMap CaptureBus::Status() {
    const CaptureStatus camera = window_.capture().status();
    const RecordingController& recorder = window_.recorder();
    return {
        {QStringLiteral("camera"), window_.cameraName()},
        {QStringLiteral("recording"), recorder.busy()},
        {QStringLiteral("waiting"), recorder.waiting()},
        {QStringLiteral("frames"), recorder.framesDone()},
        {QStringLiteral("fps"), camera.framesPerSecond},
        {QStringLiteral("lastFile"), lastFile_},
        {QStringLiteral("exposureUs"),
         static_cast<qlonglong>(window_.exposurePanel().exposureUs())},
        {QStringLiteral("gain"), window_.exposurePanel().gain()},
        {QStringLiteral("filter"), QString::fromStdString(window_.recordingFacts().filter)},
        {QStringLiteral("width"), camera.width},
        {QStringLiteral("height"), camera.height},
        {QStringLiteral("sequence"),
         window_.sequence().running() ? window_.sequence().statusText() : QString()},
    };
}

void CaptureBus::SetExposure(double milliseconds) {
    answer(window_.exposurePanel().applyExposureMs(milliseconds));
}

void CaptureBus::SetGain(int gain) {
    answer(window_.exposurePanel().applyGain(gain));
}

void CaptureBus::SetSubframe(int width, int height) {
    answer(window_.subframePanel().applySize(width, height));
}

void CaptureBus::StartRecording(const QString& format, int count, const QString& unit) {
    answer(window_.capturePanel().startCaptureAs(format, count, unit));
}

void CaptureBus::CancelRecording() {
    answer(window_.capturePanel().cancelCaptureAs());
}

void CaptureBus::ApplyProfile(const QString& name) {
    answer(window_.applyProfile(name));
}

void CaptureBus::StartSequence(const QString& profile) {
    answer(window_.startSequence(profile));
}

void CaptureBus::StopSequence() {
    if (!window_.sequence().running()) return answer(QStringLiteral("No sequence runs"));
    window_.stopSequence();
}

// ---- the signals

void CaptureBus::followRecordings() {
    const RecordingController* recorder = &window_.recorder();
    connect(recorder, &RecordingController::recordingStarted, this, [this, recorder] {
        started_ = true;
        emit RecordingStarted(QString::fromStdString(recorder->openPath()));
    });
    // A capture command that waited and then did not start (cancelled, or its output could
    // not be opened) ends too, without a file, so that a script waiting for the end is told.
    connect(recorder, &RecordingController::waitingChanged, this, [this](bool waiting) {
        if (waiting) {
            started_ = false;
            return;
        }
        if (endPending_) return;
        endPending_ = true;
        QTimer::singleShot(0, this, &CaptureBus::reportEnd);
    });
    connect(&window_.capturePanel(), &CapturePanel::summaryShown, this,
            [this](const QString& text) {
                summary_ = busPlainText(text);
                if (endPending_) return;
                endPending_ = true;
                // The failure, when there is one, follows the summary in the same call.
                QTimer::singleShot(0, this, &CaptureBus::reportEnd);
            });
    connect(recorder, &RecordingController::failed, this,
            [this](const QString& text) { failure_ = text; });
}

void CaptureBus::reportEnd() {
    endPending_ = false;
    const RecordingController& recorder = window_.recorder();
    QString file;
    if (!summary_.isEmpty()) {
        // The recording that ran has ended.
        file = QString::fromStdString(recorder.lastFile());
        lastFile_ = file;
    } else if (started_ || recorder.waiting() || recorder.busy()) {
        return;  // a wait that ended in its recording's start: the end comes later
    }
    QString summary = summary_;
    if (!failure_.isEmpty())
        summary += (summary.isEmpty() ? QString() : QStringLiteral("\n")) + failure_;
    if (summary.isEmpty()) summary = tr("Cancelled before the recording started");
    summary_.clear();
    failure_.clear();
    emit RecordingFinished(file, summary);
}

void startCaptureBus(MainWindow& window) {
    auto* bus = new CaptureBus(window);
    QString why;
    if (!bus->publish(QDBusConnection::sessionBus(), why)) {
        qCWarning(lcProgram, "scripts cannot reach the program over D-Bus: %s", qPrintable(why));
        delete bus;
    }
}
