#include "shell/CapturePanel.h"

#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "platform/Message.h"
#include "shell/CapturePath.h"
#include "shell/Log.h"
#include "shell/StatusPanels.h"
#include "widgets/OutputNameDialog.h"
#include "widgets/PanelParts.h"

namespace {
// How often the filter row follows the wheel.
constexpr int kWheelCheckMs = 100;

// A path as the file system spells it (the locale's encoding of file names).
std::string fileSystemName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
}  // namespace

CapturePanel::CapturePanel(CaptureThread& capture, RecordingController& recorder,
                           StatusPanels& status, std::function<int64_t()> exposureUs,
                           QWidget* parent)
    : QFrame(parent),
      capture_(capture),
      recorder_(recorder),
      status_(status),
      exposureUs_(std::move(exposureUs)) {
    setObjectName(QStringLiteral("CapturePanel"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    buildControls();
    connect(&recorder_, &RecordingController::progressChanged, this,
            [this](const QString& text) { status_.setText(StatusPanels::Progress, text); });
    connect(&recorder_, &RecordingController::memoryChanged, this,
            [this](const QString& text) { status_.setText(StatusPanels::Memory, text); });
    connect(&recorder_, &RecordingController::waitingChanged, this, [this](bool waiting) {
        if (waiting)
            showRecordingControls();
        else if (!recorder_.busy())
            endRecordingControls();
    });
    connect(&recorder_, &RecordingController::recordingStarted, this, [this] {
        showRecordingControls();
        summaryText_->hide();
        emit recordingStarted();
    });
    connect(&recorder_, &RecordingController::recordingClosed, this,
            &CapturePanel::endRecordingControls);
    connect(&recorder_, &RecordingController::summaryReady, this, &CapturePanel::showSummary);
    connect(&recorder_, &RecordingController::failed, this, &CapturePanel::reportFailure);
    wheelTimer_ = new QTimer(this);
    wheelTimer_->setInterval(kWheelCheckMs);
    connect(wheelTimer_, &QTimer::timeout, this, &CapturePanel::updateWheel);
    wheelTimer_->start();
    chooseFolder_ = [](QWidget* owner) {
        return QFileDialog::getExistingDirectory(owner, CapturePanel::tr("Select save directory"),
                                                 QString(), QFileDialog::ShowDirsOnly);
    };
}

void CapturePanel::buildControls() {
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(3, 2, 3, 3);
    box->setSpacing(2);

    QLabel* countLabel = smallLabel(tr("Frame Count/Duration"), this);
    countLabel->setObjectName(QStringLiteral("Label4"));
    box->addWidget(countLabel);
    auto* countRow = new QHBoxLayout;
    count_ = digitsEdit(QStringLiteral("expos"), this);
    count_->setText(QStringLiteral("1"));
    countUnit_ = unitBox(QStringLiteral("exposUnit"), {tr(" expo(s)"), tr(" sec(s)")}, 0, this);
    countRow->addWidget(count_);
    countRow->addWidget(countUnit_, 1);
    box->addLayout(countRow);
    connect(count_, &QLineEdit::textChanged, this, &CapturePanel::countChanged);

    auto* counts = new QMenu(this);
    counts->setObjectName(QStringLiteral("CountPopup"));
    const char* names[] = {"N12", "N51", "N102", "N201", "MenuItem1", "MenuItem2"};
    const char* captions[] = {"1", "5", "10", "20", "50", "100"};
    for (int i = 0; i < 6; ++i)
        menuItem(counts, QString::fromLatin1(names[i]), QString::fromLatin1(captions[i]));
    attachContextMenu(count_, counts);
    connect(counts, &QMenu::triggered, this, [this](QAction* item) {
        QString caption = item->text();
        const qsizetype amp = caption.indexOf(u'&');
        if (amp >= 0) caption.remove(amp, 1);
        count_->setText(caption);
    });

    auto* pauseRow = new QHBoxLayout;
    QLabel* pauseLabel = smallLabel(tr("Pause"), this);
    pauseLabel->setObjectName(QStringLiteral("Pause"));
    pause_ = digitsEdit(QStringLiteral("pse"), this);
    pause_->setFixedWidth(48);
    pauseUnit_ = unitBox(QStringLiteral("pseUnit"), {tr(" ms"), tr(" sec")}, 1, this);
    pauseRow->addWidget(pauseLabel);
    pauseRow->addWidget(pause_);
    pauseRow->addWidget(pauseUnit_, 1);
    box->addLayout(pauseRow);
    // The pause takes effect at once, during a recording too.
    connect(pause_, &QLineEdit::textChanged, this, &CapturePanel::applyPause);
    connect(pauseUnit_, &QComboBox::currentIndexChanged, this, &CapturePanel::applyPause);

    // The filter wheel's filters; shown only for a camera with a wheel.
    filterRow_ = new QWidget(this);
    auto* filterRow = new QHBoxLayout(filterRow_);
    filterRow->setContentsMargins(0, 0, 0, 0);
    filterLabel_ = smallLabel(tr("Filter"), filterRow_);
    filterLabel_->setObjectName(QStringLiteral("FilterLabel"));
    filter_ = new QComboBox(filterRow_);
    filter_->setObjectName(QStringLiteral("FilterWheel"));
    filterRow->addWidget(filterLabel_);
    filterRow->addWidget(filter_, 1);
    box->addWidget(filterRow_);
    filterRow_->hide();
    connect(filter_, &QComboBox::activated, this, &CapturePanel::chooseFilter);

    // The two capture buttons and the cancel button share one place; the cancel button,
    // when shown, lies over both.
    auto* place = new QWidget(this);
    place->setObjectName(QStringLiteral("ButtonPlace"));
    place->setFixedSize(165, 35);
    sequenceButton_ = new QPushButton(QStringLiteral("SER"), place);
    sequenceButton_->setObjectName(QStringLiteral("butCapture"));
    stillButton_ = new QPushButton(QStringLiteral("FIT"), place);
    stillButton_->setObjectName(QStringLiteral("Button3"));
    cancelButton_ = new QPushButton(place);
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    cancelButton_->setIcon(stopIcon());
    cancelButton_->setToolTip(tr("Cancel"));
    for (QPushButton* b : {sequenceButton_, stillButton_, cancelButton_}) {
        b->setGeometry(0, 0, 165, 35);
        b->raise();
    }
    cancelButton_->hide();
    box->addWidget(place, 0, Qt::AlignHCenter);
    describeControls();
    connect(sequenceButton_, &QPushButton::clicked, this, &CapturePanel::startSequence);
    connect(stillButton_, &QPushButton::clicked, this, &CapturePanel::startStillSeries);
    connect(cancelButton_, &QPushButton::clicked, this, &CapturePanel::cancelRecording);

    // The format items of both capture buttons' pop-up menu.
    formatMenu_ = new QMenu(this);
    formatMenu_->setObjectName(QStringLiteral("SERAVI"));
    formats_ = new QActionGroup(this);
    for (const FormatInfo& f : captureFormats()) {
        QAction* item = menuItem(formatMenu_, QString::fromLatin1(f.popupObjectName),
                                 QString::fromLatin1(f.popupCaption), formats_);
        item->setIcon(captureFormatIcon(f.sequence));
        item->setData(static_cast<int>(f.format));
        connect(item, &QAction::toggled, this, [this, format = f.format](bool on) {
            if (on) selectFormat(format);
        });
    }
    menuFormats_ = new QActionGroup(this);
    attachContextMenu(sequenceButton_, formatMenu_);
    attachContextMenu(stillButton_, formatMenu_);
    selectFormat(CaptureFormat::Fit);

    summary_ = raisedPanel(QStringLiteral("Panel10"), nullptr);
    auto* summaryBox = new QVBoxLayout(summary_);
    summaryBox->setContentsMargins(2, 2, 2, 2);
    summaryText_ = new QLabel(summary_);
    summaryText_->setObjectName(QStringLiteral("HTMLabel1"));
    summaryText_->setTextFormat(Qt::RichText);
    summaryText_->setWordWrap(true);
    summaryText_->setText(QString::fromLatin1(kLastCaptureTemplate));
    summaryBox->addWidget(summaryText_);
    summary_->hide();  // shown with the summary of the first finished recording
    updateButtons();
}

void CapturePanel::describeControls() {
    // What each control does, for the eye (a tooltip) and for assistive tools (its name).
    const struct {
        QWidget* control;
        QString name, tip;
    } controls[] = {
        {count_, tr("Frame count or duration"),
         tr("How many frames, or how many seconds, a recording takes; 0 records until "
            "cancelled (right button: common counts)")},
        {countUnit_, tr("Unit of the count"), tr("Frames or seconds")},
        {pause_, tr("Pause between recorded frames"),
         tr("The time between recorded frames; the frames between are shown, not recorded")},
        {pauseUnit_, tr("Unit of the pause"), tr("Milliseconds or seconds")},
        {filter_, tr("Filter"), tr("The filter wheel's filter in the beam")},
        {cancelButton_, tr("Cancel"), tr("Ends the recording; every frame taken is kept")},
    };
    for (const auto& c : controls) {
        c.control->setAccessibleName(c.name);
        c.control->setToolTip(c.tip);
    }
}

QList<QAction*> CapturePanel::formatItems() const {
    return formats_->actions();
}

QList<QAction*> CapturePanel::allFormatItems() const {
    return formats_->actions() + menuFormats_->actions();
}

void CapturePanel::addFormatItems(QMenu* menu) {
    // The menu bar lists the formats by name.
    std::vector<FormatInfo> byName(captureFormats().begin(), captureFormats().end());
    std::sort(byName.begin(), byName.end(), [](const FormatInfo& a, const FormatInfo& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    for (const FormatInfo& f : byName) {
        QAction* item = menuItem(menu, QString::fromLatin1(f.menuObjectName),
                                 QString::fromLatin1(f.name), menuFormats_);
        item->setData(static_cast<int>(f.format));
        item->setChecked(f.format == format_);
        item->setEnabled(!locked_);
        connect(item, &QAction::toggled, this, [this, format = f.format](bool on) {
            if (on) selectFormat(format);
        });
    }
}

void CapturePanel::selectFormat(CaptureFormat format) {
    // The output of a running recording must be finished by the writer that began it.
    if (recorder_.busy()) {
        for (QAction* item : allFormatItems())
            if (item->data().toInt() == static_cast<int>(format_)) item->setChecked(true);
        return;
    }
    format_ = format;
    (isSequence(format) ? sequenceButton_ : stillButton_)
        ->setText(QString::fromLatin1(formatName(format)));
    for (QAction* item : allFormatItems())
        if (item->data().toInt() == static_cast<int>(format)) item->setChecked(true);
    sequenceButton_->setVisible(isSequence(format));
    stillButton_->setVisible(!isSequence(format));
}

QString CapturePanel::countText() const {
    return count_->text();
}

void CapturePanel::setCountText(const QString& text) {
    count_->setText(text);
}

void CapturePanel::setPauseText(const QString& text) {
    pause_->setText(text);
}

// ---- the capture path

void CapturePanel::setCapturePath(const QString& path) {
    capturePath_ = trimBlanks(path);
    if (!capturePath_.isEmpty()) {
        splitPath(capturePath_, captureDirectory_, baseName_);
        if (nameDialog_) nameDialog_->setBaseName(baseName_);
    }
    updateButtons();
}

void CapturePanel::storePath(const QString& path) {
    if (path.isEmpty()) return;
    capturePath_ = path;
    emit capturePathChanged(capturePath_);
    updateButtons();
}

void CapturePanel::chooseLocation() {
    const QString chosen = chooseFolder_ ? chooseFolder_(window()) : QString();
    if (chosen.isEmpty()) return;  // cancelled
    captureDirectory_ = folderOf(chosen);
    storePath(joinPath(captureDirectory_, baseName_));
}

void CapturePanel::chooseFileName() {
    if (!nameDialog_) return;
    setCapturePath(capturePath_);
    nameDialog_->setBaseName(baseName_);
    nameDialog_->execOver(window());
    baseName_ = nameDialog_->baseName();
    storePath(joinPath(captureDirectory_, baseName_));
}

// ---- starting and ending recordings

void CapturePanel::setLocked(bool locked) {
    locked_ = locked;
    // A recording keeps the filter it started with.
    filter_->setEnabled(!locked);
    for (QAction* item : allFormatItems()) item->setEnabled(!locked);
    updateButtons();
}

CapturePanel::CaptureOutcome CapturePanel::captureRefusal() const {
    using Kind = CaptureOutcome::Kind;
    if (locked_ || recorder_.busy() || waiting()) return {Kind::Running, tr("A recording runs")};
    if (capturePath_.isEmpty())
        return {Kind::NoPath, tr("Choose a capture folder and a file name first")};
    return {};
}

void CapturePanel::updateButtons() {
    // Why a button is grey, or what it does (its format is chosen with the right button).
    const QString why = captureRefusal().reason;
    sequenceButton_->setEnabled(why.isEmpty());
    stillButton_->setEnabled(why.isEmpty());
    sequenceButton_->setToolTip(
        why.isEmpty() ? tr("Record a sequence (right button: choose the format)") : why);
    stillButton_->setToolTip(
        why.isEmpty() ? tr("Record a series of still frames (right button: choose the format)")
                      : why);
}

bool CapturePanel::readCount(bool absolute, int32_t& count, std::string& error) const {
    if (!parseCount(count_->text().toStdString(), count, error)) return false;
    if (absolute && count < 0)
        count = count == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max()
                                                             : -count;
    return true;
}

int32_t CapturePanel::pauseMs() const {
    return pauseMsFromText(pause_->text().toStdString(), pauseUnit_->currentIndex() == 1);
}

void CapturePanel::applyPause() {
    recorder_.setPause(pauseMs());
}

// ---- the filter wheel

void CapturePanel::updateWheel() {
    const CaptureStatus camera = capture_.status();
    if (camera.filterNames != shownFilters_) {
        shownFilters_ = camera.filterNames;
        const QSignalBlocker quiet(filter_);
        filter_->clear();
        for (const std::string& name : shownFilters_)
            filter_->addItem(QString::fromStdString(name));
        filterRow_->setVisible(!shownFilters_.empty());
    }
    if (shownFilters_.empty()) return;
    // While it turns the choice stays as made; then it shows where the wheel is, also after
    // another program turned it.
    filterLabel_->setText(camera.wheelMoving ? tr("Moving") : tr("Filter"));
    if (!camera.wheelMoving && camera.filterSlot >= 1 &&
        camera.filterSlot <= static_cast<int32_t>(shownFilters_.size())) {
        const QSignalBlocker quiet(filter_);
        filter_->setCurrentIndex(camera.filterSlot - 1);
        recorder_.noteFilterInBeam(camera.filterSlot, shownFilters_[camera.filterSlot - 1]);
    }
}

void CapturePanel::chooseFilter(int index) {
    if (index >= 0) capture_.setFilterSlot(index + 1);
}

void CapturePanel::showRecordingControls() {
    setLocked(true);
    cancelButton_->show();
    cancelButton_->raise();
}

void CapturePanel::startSequence() {
    showRefusal(requestCapture(true, true), true);
}

void CapturePanel::startStillSeries() {
    showRefusal(requestCapture(false, true), false);
}

void CapturePanel::showRefusal(const CaptureOutcome& outcome, bool sequence) {
    switch (outcome.kind) {
        case CaptureOutcome::Kind::Accepted:
        case CaptureOutcome::Kind::Running:  // its cancel button is in view
            return;
        case CaptureOutcome::Kind::NoPath:
            showMessage(sequence ? tr("Error opening AVI/SER file")
                                 : tr("Please set file parameters first"));
            return;
        case CaptureOutcome::Kind::Refused:
            if (!outcome.reason.isEmpty()) showMessage(outcome.reason);
            return;
    }
}

CapturePanel::CaptureOutcome CapturePanel::requestCapture(bool sequence, bool interactive) {
    const CaptureOutcome refusal = captureRefusal();  // one recording at a time
    if (refusal.kind != CaptureOutcome::Kind::Accepted) return refusal;
    // The count is read before anything is set up, so a field that cannot be converted
    // leaves nothing half prepared.
    int32_t count = 0;
    std::string error;
    if (!readCount(true, count, error))
        return {CaptureOutcome::Kind::Refused, QString::fromStdString(error)};
    // Said before the recording starts, not found out after a crash.
    const std::string unsafe = sequence ? recorder_.crashSafetyProblem() : std::string();
    if (!unsafe.empty() && !interactive)
        qCWarning(lcProgram, "this recording cannot be made crash-safe: %s", unsafe.c_str());
    if (!unsafe.empty() && interactive &&
        !askQuestion(tr("This recording cannot be made crash-safe: %1\n\nA crash or power cut "
                        "would leave it unfinished. Record anyway?")
                         .arg(QString::fromStdString(unsafe))))
        return {CaptureOutcome::Kind::Refused, QString()};
    status_.clear(StatusPanels::Memory);
    CaptureRequest request;
    request.format = format_;
    request.capturePath = fileSystemName(capturePath_);
    request.length = {count, countUnit_->currentIndex() == 1};
    request.pauseMs = pauseMs();
    request.colorCamera = colorCamera_;
    request.exposureUs = exposureUs_ ? exposureUs_() : 0;
    if (recorder_.requestCapture(request) != CaptureStart::Failed) return {};
    const QString failure = QString::fromStdString(recorder_.lastError());
    return {CaptureOutcome::Kind::Refused,
            failure.isEmpty() ? tr("The recording could not be started") : failure};
}

QString CapturePanel::startCaptureAs(const QString& format, int64_t count, const QString& unit) {
    const CaptureOutcome refusal = captureRefusal();
    if (refusal.kind != CaptureOutcome::Kind::Accepted) return refusal.reason;
    const FormatInfo* chosen = nullptr;
    for (const FormatInfo& f : captureFormats())
        if (format.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0) chosen = &f;
    if (!chosen) return tr("Unknown format \"%1\": SER, AVI, FIT or BMP").arg(format);
    int unitIndex = countUnit_->count() - 1;
    while (unitIndex >= 0 && trimBlanks(countUnit_->itemText(unitIndex)) != trimBlanks(unit))
        --unitIndex;
    if (unitIndex < 0)
        return tr("Unknown unit \"%1\": \"%2\" or \"%3\"")
            .arg(unit, countUnit_->itemText(0), countUnit_->itemText(1));
    // What the count field takes.
    const int64_t largest = static_cast<int64_t>(std::pow(10, count_->maxLength())) - 1;
    if (count < 0 || count > largest)
        return tr("The frame count or duration must be 0 to %1").arg(largest);
    selectFormat(chosen->format);
    setCountText(QString::number(count));
    countUnit_->setCurrentIndex(unitIndex);
    return requestCapture(chosen->sequence, false).reason;
}

void CapturePanel::cancelRecording() {
    if (sequenceCancel_)
        sequenceCancel_();
    else
        recorder_.cancel();
}

void CapturePanel::holdForSequence(std::function<void()> cancel) {
    sequenceCancel_ = std::move(cancel);
    if (sequenceCancel_)
        showRecordingControls();
    else if (!recorder_.busy() && !waiting())
        endRecordingControls();
}

QString CapturePanel::cancelCaptureAs() {
    if (!recorder_.busy() && !waiting()) return tr("No recording runs");
    cancelRecording();
    return QString();
}

bool CapturePanel::closeForExit() {
    if (!recorder_.busy()) return true;
    // Every frame still queued is written before the file is closed; what could not be
    // written is reported.
    if (recorder_.close()) return true;
    qCWarning(lcProgram, "%s", recorder_.lastError().c_str());
    return false;
}

// ---- what the recording controller shows

void CapturePanel::endRecordingControls() {
    if (sequenceCancel_) return;  // between two recordings of a sequence
    cancelButton_->hide();
    setLocked(false);
}

void CapturePanel::showSummary(double durationSeconds, double framesPerSecond) {
    summaryText_->clear();
    summaryText_->setText(
        lastCaptureText(durationSeconds, framesPerSecond, gapText(recorder_.lastGaps())));
    summary_->show();
    summaryText_->show();
    emit summaryShown(summaryText_->text());
}

void CapturePanel::reportFailure(const QString& text) {
    // Shown once the frame hand-off that found the failure has returned: the message box
    // runs an event loop of its own.
    QTimer::singleShot(0, this, [text] { showMessage(text); });
}
