#include "shell/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "display/FocusWindow.h"
#include "platform/AppInfo.h"
#include "platform/Clock.h"
#include "platform/HardExit.h"
#include "recording/RecordingController.h"
#include "recording/RecoveryJournal.h"
#include "shell/CameraControlsPanel.h"
#include "shell/CapturePanel.h"
#include "shell/CaptureStatusSource.h"
#include "shell/CommandLine.h"
#include "shell/ExposurePanel.h"
#include "shell/FrameReadyEvent.h"
#include "shell/HistogramPanel.h"
#include "shell/Log.h"
#include "shell/PictureArea.h"
#include "shell/PreviewControls.h"
#include "shell/SeeingPanel.h"
#include "shell/SequenceRunner.h"
#include "shell/StatusPanels.h"
#include "shell/SubframePanel.h"
#include "widgets/CameraDialog.h"
#include "widgets/OnScreenKeyboard.h"
#include "widgets/OutputNameDialog.h"
#include "widgets/OverlayDialog.h"
#include "widgets/PanelParts.h"
#include "widgets/SessionDetailsDialog.h"
#include "widgets/SharpnessDialog.h"
#include "widgets/StretchControl.h"

MainWindow::MainWindow(StartOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
    setObjectName(QStringLiteral("Form1"));
    // System menu and maximise box, no minimise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("TarviVideo "));
    // Small enough for a laptop's 1366 x 768 screen with a panel: the left column scrolls
    // when the window is lower than it, and the picture area takes the rest.
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setMaximumSize(9999, 9999);
    resize(1024, 700);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setBold(true);
    setFont(font);

    // The acquisition thread exists as long as the window; it starts once the camera
    // has answered (start()).
    postTarget_ = std::make_shared<FramePostTarget>(this);
    capture_ = std::make_unique<CaptureThread>(makeFramePoster(postTarget_));
    journal_ = std::make_unique<RecoveryJournal>(defaultJournalFolder());
    recorder_ = std::make_unique<RecordingController>(capture_.get(), journal_.get(),
                                                      [this] { return recordingFacts(); });
    status_ = std::make_unique<StatusPanels>(statusBar());
    PlanetTracker::Hooks trackerHooks;
    trackerHooks.moveSubframe = [this](int left, int top) {
        capture_->setSubframeOrigin(left, top);
    };
    trackerHooks.noteMove = [this](const std::string& text) {
        recorder_->noteSettingChange("Planet tracking", text);
    };
    trackerHooks.showState = [this](PlanetTracker::State state) {
        trackingText_ = QString::fromStdString(PlanetTracker::stateText(state));
        showCameraState();
    };
    tracker_ = std::make_unique<PlanetTracker>(this, std::move(trackerHooks));
    seeing_ = std::make_unique<SeeingMonitor>(this, [this](const SeeingHistory& history) {
        if (sharpMoment_.step(history)) sharpReached_ = true;
        seeingPanel_->showHistory(history);
    });
    recorder_->setSharpSource([this] { return sharpReached_; },
                              [this] {
                                  sharpMoment_.reset();
                                  sharpReached_ = false;
                              });

    buildPanels();
    makeSequenceRunner();
    menus_ = buildMainMenus(menuBar());
    capturePanel_->addFormatItems(menus_.captureFormat);
    wireMenus();
    camera_ = options_.camera;
    buildControlsPanel();
    previewControls_ = new PreviewControls({&menus_, &renderer_, pictureArea_, histogramPanel_,
                                            stretchControl_, exposurePanel_, capture_.get()},
                                           this);
    connectSession();

    statusSource_ = new CaptureStatusSource(
        *capture_, [this] { return recorder_->framesQueued(); }, this);
    connect(statusSource_, &CaptureStatusSource::frameRateChanged, this, [this](int fps) {
        status_->setText(StatusPanels::Progress, QString::asprintf("%2d FPS", fps));
    });
    connect(statusSource_, &CaptureStatusSource::stateTextChanged, this,
            [this](const QString& text) {
                cameraStateText_ = text;
                showCameraState();
            });
    // A recording that has ended gives the progress panel back to the frame rate, at the
    // next reading.
    connect(recorder_.get(), &RecordingController::progressChanged, statusSource_,
            [this](const QString& text) {
                if (text.isEmpty()) statusSource_->forgetFrameRate();
            });
    auto* diskTimer = new QTimer(this);
    diskTimer->setObjectName(QStringLiteral("DiskTimer"));
    diskTimer->setInterval(2000);
    connect(diskTimer, &QTimer::timeout, this, &MainWindow::updateDiskStatus);
    diskTimer->start();
}

void MainWindow::buildPanels() {
    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    setCentralWidget(central);

    // The left column scrolls up and down when the window is lower than the column; its
    // width keeps room for the scroll bar, so nothing of it is ever covered.
    auto* leftScroll = new QScrollArea(central);
    leftScroll->setObjectName(QStringLiteral("LeftScroll"));
    leftScroll->setFrameShape(QFrame::NoFrame);
    leftScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    leftScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    leftScroll->setWidgetResizable(true);
    leftScroll->setFixedWidth(kLeftColumnWidth +
                              leftScroll->verticalScrollBar()->sizeHint().width());
    auto* left = new QFrame;
    left->setObjectName(QStringLiteral("LeftPanel"));
    left->setFixedWidth(kLeftColumnWidth);
    auto* column = new QVBoxLayout(left);
    column->setContentsMargins(1, 2, 1, 2);
    column->setSpacing(3);
    exposurePanel_ = new ExposurePanel(*capture_, left);
    subframePanel_ = new SubframePanel(*capture_, left);
    histogramPanel_ = new HistogramPanel(left);
    capturePanel_ = new CapturePanel(
        *capture_, *recorder_, *status_, [this] { return exposurePanel_->exposureUs(); }, left);
    column->addWidget(exposurePanel_);
    column->addWidget(subframePanel_);
    column->addWidget(histogramPanel_);
    seeingPanel_ = new SeeingPanel(left);
    column->addWidget(seeingPanel_);
    stretchControl_ = new StretchControl(left);
    column->addWidget(stretchControl_);
    column->addWidget(capturePanel_);
    column->addWidget(capturePanel_->summaryPanel());
    column->addStretch(1);
    leftScroll->setWidget(left);
    row->addWidget(leftScroll);

    pictureArea_ = new PictureArea(renderer_, central);
    pictureArea_->setRecordingQuery([this] { return capture_->recording(); });
    row->addWidget(pictureArea_, 1);

    // The level sliders: kept at the start levels, never shown.
    QFrame* levels = raisedPanel(QStringLiteral("RightPanel"), central);
    levels->setFixedWidth(60);
    auto* levelRow = new QHBoxLayout(levels);
    for (const char* name : {"BlackLevelSlider", "WhiteLevelSlider"}) {
        auto* s = new QSlider(Qt::Vertical, levels);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(0, 255);
        levelRow->addWidget(s);
    }
    levels->findChild<QSlider*>(QStringLiteral("WhiteLevelSlider"))->setValue(255);
    levels->hide();
    row->addWidget(levels);

    // The dialogs owned by the main window: overlay properties and output names.
    overlayDialog_ = new OverlayDialog(this);
    connect(overlayDialog_, &OverlayDialog::stampChanged, this,
            [this](const QString& format, const QString& prefix) {
                capture_->setStamp(format.toStdString(), prefix.toStdString());
            });
    nameDialog_ = new OutputNameDialog(this);
    capturePanel_->setOutputNameDialog(nameDialog_);
    sessionDialog_ = new SessionDetailsDialog(this);

    connect(exposurePanel_, &ExposurePanel::exposureCommitted, this,
            [this](qint64 us) { saved_.exposureUs = us; });
    connect(exposurePanel_, &ExposurePanel::gainChanged, this,
            [this](int gain) { saved_.gain = gain; });
    // What reaches the camera while a recording runs goes into its log.
    connect(exposurePanel_, &ExposurePanel::gainSent, this,
            [this](int gain) { recorder_->noteSettingChange("Gain", std::to_string(gain)); });
    connect(exposurePanel_, &ExposurePanel::whiteBalanceSent, this,
            [this](int red, int green, int blue) {
                recorder_->noteSettingChange("White balance", "R " + std::to_string(red) + ", G " +
                                                                  std::to_string(green) + ", B " +
                                                                  std::to_string(blue));
            });
    connect(capturePanel_, &CapturePanel::countChanged, this,
            [this](const QString& text) { saved_.frameCountText = text; });
    connect(capturePanel_, &CapturePanel::capturePathChanged, this,
            [this](const QString& path) { saved_.capturePath = path; });
    // The focus point belongs to the frame size and the live view: a new subframe or a
    // recording closes the focus aid.
    connect(capturePanel_, &CapturePanel::recordingStarted, this, [this] {
        if (focusWindow_) focusWindow_->hide();
    });
    connect(subframePanel_, &SubframePanel::subframeChanged, this, [this] {
        if (focusWindow_) focusWindow_->hide();
    });
    connect(subframePanel_, &SubframePanel::originChanged, this, [this](int32_t left, int32_t top) {
        saved_.subframeLeft = left;
        saved_.subframeTop = top;
    });
    connect(pictureArea_, &PictureArea::focusPointChosen, this, &MainWindow::showFocusWindow);
}

void MainWindow::wireMenus() {
    connect(menus_.exit, &QAction::triggered, this, &QWidget::close);
    connect(menus_.setCaptureLocation, &QAction::triggered, capturePanel_,
            &CapturePanel::chooseLocation);
    connect(menus_.setCaptureFilename, &QAction::triggered, capturePanel_,
            &CapturePanel::chooseFileName);
    connect(menus_.sessionDetails, &QAction::triggered, this, &MainWindow::editSessionDetails);
    connect(menus_.profiles, &QAction::triggered, this, &MainWindow::editProfiles);
    connect(menus_.writeCaptureLog, &QAction::toggled, this, [this](bool on) {
        recorder_->setWriteLog(on);
        if (!writeCaptureLogOn(on))
            qCWarning(lcProgram, "the capture log choice could not be stored");
    });
    connect(menus_.observationNames, &QAction::toggled, this, [this](bool on) {
        recorder_->setObservationNames(on);
        if (!writeObservationNames(on))
            qCWarning(lcProgram, "the naming choice could not be stored");
    });
    connect(menus_.codecIyuv, &QAction::triggered, this, [this] {
        recorder_->avi().setCodec(packFourCc('I', 'Y', 'U', 'V'));
        menus_.codecIyuv->setChecked(true);
    });
    connect(menus_.codecAsk, &QAction::triggered, this, [this] {
        recorder_->avi().setCodec(kCodecAsk);
        menus_.codecIyuv->setChecked(false);
    });
    connect(menus_.stampVisible, &QAction::toggled, this,
            [this](bool on) { captureSession_.setStampVisible(on); });
    connect(menus_.stampConfigure, &QAction::triggered, this, &MainWindow::configureOverlay);
    connect(menus_.horizontalFlip, &QAction::toggled, this,
            [this](bool on) { capture_->setFlip(on); });
    connect(menus_.colorCamera, &QAction::toggled, this, &MainWindow::setColorCamera);
    connect(menus_.trackPlanet, &QAction::toggled, this, [this](bool on) {
        tracker_->setOn(on);
        if (!writeTrackPlanet(on))
            qCWarning(lcProgram, "the planet tracking choice could not be stored");
    });
    connect(menus_.steadyPreview, &QAction::toggled, this, [](bool on) {
        if (!writeSteadyPreview(on))
            qCWarning(lcProgram, "the steady preview choice could not be stored");
    });
    connect(menus_.keepSharpest, &QAction::toggled, this, [this](bool on) {
        SharpnessChoices c = sharpness_;
        c.keepSharpest = on;
        applySharpnessChoices(c, true);
    });
    connect(menus_.startWhenSharp, &QAction::toggled, this, [this](bool on) {
        SharpnessChoices c = sharpness_;
        c.startWhenSharp = on;
        applySharpnessChoices(c, true);
    });
    connect(menus_.sharpnessSettings, &QAction::triggered, this,
            &MainWindow::editSharpnessSettings);
    connect(menus_.depth8, &QAction::triggered, this, [this] { chooseSampleDepth(8); });
    connect(menus_.depth16, &QAction::triggered, this, [this] { chooseSampleDepth(16); });
    // Each zoom item acts on its state, however it gets checked.
    for (QAction* item : menus_.zoom->actions())
        connect(item, &QAction::toggled, this, [this, item](bool on) {
            if (on) pictureArea_->setZoom(item->data().toInt());
        });
    connect(menus_.selectCamera, &QAction::triggered, this, &MainWindow::selectCamera);
    connect(menus_.about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, tr("About %1").arg(QString::fromLatin1(kAppName)),
                           aboutText(cameraName_, QString::fromStdString(cameraLibraryPath())));
    });
}

MainWindow::~MainWindow() {
    if (exitProcInstalled_) setExitHandler(nullptr);
    // No frame may be posted to this window once it is gone; frames still queued are
    // destroyed with their events.
    postTarget_->detach();
    capture_->stop(exitWaitMs());
    // The panels go with the window: a recording still open ends without telling them.
    recorder_->blockSignals(true);
    // The dock is hidden as the window's widgets go: its signals must not reach the window
    // that is already half destroyed.
    if (controlsPanel_) controlsPanel_->disconnect(this);
    sequence_.reset();
}

void MainWindow::chooseSampleDepth(int32_t bits) {
    capture_->setDepth(bits);
    if (!writeSampleDepth(bits)) qCWarning(lcProgram, "the sample depth could not be stored");
}

void MainWindow::offerSampleDepths() {
    // 16-bit frames only from a camera that delivers more than 8 bits; the stored choice
    // holds for such a camera.
    const bool deep = capture_->status().cameraBits > 8;
    menus_.depth16->setEnabled(deep);
    const bool sixteen = deep && readSampleDepth() == 16;
    (sixteen ? menus_.depth16 : menus_.depth8)->setChecked(true);
    capture_->setDepth(sixteen ? 16 : 8);
}

void MainWindow::setColorCamera(bool color) {
    colorCamera_ = color;
    capture_->setColorCamera(color);
    exposurePanel_->setBalanceVisible(color);
    capturePanel_->setColorCamera(color);
}

void MainWindow::showFocusWindow() {
    if (focusWindow_) focusWindow_->showOver(this);
}

void MainWindow::configureOverlay() {
    // Returns once the dialog is closed again; frames keep arriving meanwhile.
    overlayDialog_->execOver(this);
}

void MainWindow::editSessionDetails() {
    sessionDialog_->setDetails(session_);
    if (!sessionDialog_->execOver(this)) return;
    session_ = sessionDialog_->details();
    if (!writeSessionDetails(session_))
        qCWarning(lcProgram, "the session details could not be stored");
}

RecordingFacts MainWindow::recordingFacts() const {
    RecordingFacts f;
    const CaptureStatus camera = capture_->status();
    const CaptureSettings asked = capture_->settings();
    const WhiteBalance balance = capture_->whiteBalance();
    f.program = std::string(kAppName) + " " + kAppVersion;
    f.camera = camera.cameraName;
    f.cameraLibrary = cameraLibraryPath();
    f.sensorWidth = camera.sensorWidth;
    f.sensorHeight = camera.sensorHeight;
    f.width = camera.width;
    f.height = camera.height;
    f.depth = camera.depth;
    f.cameraBits = camera.cameraBits;
    f.flip = camera.flip;
    // The length the recording's exposures take: the capture command sets it first.
    f.exposureMs = static_cast<double>(exposureTakenUs(asked.exposureUs)) / 1000.0;
    f.gain = asked.gain;
    f.cameraGain = cameraGainAt(camera, asked.gain);
    f.pixelWidthUm = camera.pixelWidthUm;
    f.pixelHeightUm = camera.pixelHeightUm;
    f.balanceRed = balance.red;
    f.balanceGreen = balance.green;
    f.balanceBlue = balance.blue;
    f.colorCamera = colorCamera_;
    f.session = session_;
    // The filter in the beam when the camera has a wheel, else the one the user typed.
    f.filter = session_.filter;
    if (camera.filterSlot >= 1 &&
        camera.filterSlot <= static_cast<int32_t>(camera.filterNames.size()))
        f.filter = camera.filterNames[static_cast<size_t>(camera.filterSlot) - 1];
    takeControlFacts(f, capture_->controls().controls);
    f.utcOffsetSeconds = utcOffsetSeconds();
    f.startLocal = localNow();
    const QString folder = capturePanel_->captureDirectory();
    if (!folder.isEmpty()) f.freeDiskBytes = freeDiskBytes(QFile::encodeName(folder).toStdString());
    return f;
}

void MainWindow::applySharpnessChoices(const SharpnessChoices& choices, bool store) {
    sharpness_ = choices;
    recorder_->setKeepSharpest(choices.keepSharpest, choices.keepPercent);
    recorder_->setStartWhenSharp(choices.startWhenSharp);
    sharpMoment_.setPercent(choices.sharpPercentile);
    const QSignalBlocker keep(menus_.keepSharpest), start(menus_.startWhenSharp);
    menus_.keepSharpest->setChecked(choices.keepSharpest);
    menus_.startWhenSharp->setChecked(choices.startWhenSharp);
    if (store && !writeSharpnessChoices(choices))
        qCWarning(lcProgram, "the sharpness choices could not be stored");
}

void MainWindow::editSharpnessSettings() {
    SharpnessDialog dialog(this);
    if (const auto edited = dialog.edit(sharpness_)) applySharpnessChoices(*edited, true);
}

void MainWindow::attachKeyboard(OnScreenKeyboard* keyboard) {
    sessionDialog_->attachKeyboard(keyboard);
    nameDialog_->attachKeyboard(keyboard);
    overlayDialog_->attachKeyboard(keyboard);
}

// ---- the frame hand-off

void MainWindow::showTrackMarks(const Frame& frame) {
    const std::optional<cv::Point2d> disc = tracker_->discInFrame(frame);
    if (!disc) {
        pictureArea_->setTrackMarks(std::nullopt, QPoint());
        return;
    }
    const int zoom = renderer_.zoomPercent();
    const QSize picture = zoomedSize(frame.rawImage.cols, frame.rawImage.rows, zoom);
    const QPointF mark((disc->x + 0.5) * zoom / 100.0, (disc->y + 0.5) * zoom / 100.0);
    const QPointF centre(picture.width() / 2.0, picture.height() / 2.0);
    pictureArea_->setTrackMarks(
        mark, menus_.steadyPreview->isChecked() ? (centre - mark).toPoint() : QPoint());
}

void MainWindow::connectSession() {
    FrameActions consumers;
    consumers.previewFrame = [this](const Frame& f, bool colour) {
        showTrackMarks(f);
        return pictureArea_->showDirect(f, colour, focusWindow_);
    };
    consumers.preview = [this](cv::Mat& image) { pictureArea_->showFrame(image, focusWindow_); };
    consumers.histogramDue = [this] { return histogramPanel_->takeFrame(); };
    consumers.histogram = [this](const Frame& f) {
        histogramPanel_->countFrame(f, renderer_.levels());
    };
    consumers.track = [this](const Frame& f) {
        tracker_->offer(f);
        previewControls_->offer(f);
    };
    consumers.seeing = [this](const Frame& f) { seeing_->offer(f, tracker_->qualityRegion(f)); };
    consumers.record = [this](FramePtr f) {
        // The recording measures each frame where the live figure does.
        f->qualityRegion = tracker_->qualityRegion(*f);
        recorder_->recordFrame(std::move(f));
    };
    captureSession_.setConsumers(std::move(consumers), [this] {
        FrameFlags flags;
        flags.recording = capture_->recording();
        flags.previewDuringCapture = menus_.previewDuringCapture->isChecked();
        flags.colorCamera = colorCamera_;
        flags.histogram = histogramPanel_->enabled();
        return flags;
    });
}

void MainWindow::frameReady(FramePtr frame) {
    receiveFrame(std::move(frame), false, 0);
}

void MainWindow::receiveFrame(FramePtr frame, bool paced, int newerWaiting) {
    ++framesReceived_;
    subframePanel_->showPlacement(frame->sensorLeft, frame->sensorTop);
    captureSession_.frameArrived(std::move(frame), paced, newerWaiting);
    sequence_->frameArrived();
}

void MainWindow::showCameraState() {
    // The tracker's state and the sequence's share the camera's panel: they all say what the
    // camera is doing.
    QStringList parts;
    for (const QString* part : {&sequenceText_, &cameraStateText_, &trackingText_})
        if (!part->isEmpty()) parts << *part;
    status_->setText(StatusPanels::CameraState, parts.join(QStringLiteral(" | ")));
}

void MainWindow::updateStatus() {
    statusSource_->poll();
}

void MainWindow::updateDiskStatus() {
    const QString folder = capturePanel_->captureDirectory();
    std::optional<double> rate;
    if (recorder_->busy()) {
        const uint64_t written = recorder_->bytesWritten();
        if (written < bytesCounted_) bytesCounted_ = 0;  // a new recording
        diskRate_.add(monotonicMs(), written - bytesCounted_);
        bytesCounted_ = written;
        rate = diskRate_.bytesPerSecond(monotonicMs());
    } else {
        diskRate_.reset();
        bytesCounted_ = 0;
    }
    const DiskStatus disk = folder.isEmpty()
                                ? DiskStatus{}
                                : diskStatusOf(QFile::encodeName(folder).toStdString(), rate);
    status_->setDisk(QString::fromStdString(disk.text), disk.low);
}

// ---- window events

void MainWindow::customEvent(QEvent* event) {
    if (event->type() == FrameReadyEvent::eventType()) {
        FramePtr frame = static_cast<FrameReadyEvent*>(event)->take();
        const int newerWaiting = postTarget_->takeOne();
        if (frame) receiveFrame(std::move(frame), true, newerWaiting);
        return;
    }
    QMainWindow::customEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close box, Alt+F4, the window menu's Close, File > Exit and the signals that end
    // the program: a recording is closed, the settings stored and the camera stopped (once),
    // then the event loop ends.
    runExitHandlerOnce();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The main window is never minimised: a minimised state is undone at once.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized)
                setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        });
}
