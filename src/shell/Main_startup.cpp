// Start-up, the exit procedure, and the ways out of the main window.
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "acquisition/CameraLib.h"
#include "acquisition/VideoCapture.h"
#include "controls/OutputNameDialog.h"
#include "display/OverlayDialog.h"
#include "display/FocusWindow.h"
#include "display/Measure.h"
#include "display/Picture.h"
#include "platform/Halt.h"
#include "platform/Message.h"
#include "platform/Settings.h"
#include "recording/AVIExport.h"
#include "shell/AppInfo.h"
#include "shell/FrameEvent.h"
#include "shell/Main.h"
#include "shell/SplashScreen.h"
#include "shell/TrackBar.h"

namespace {
// Dispatches what is pending (the splash gets painted), without user input.
void ProcessPending() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Keeps the window thread responsive (the splash repaints) for `ms` milliseconds.
void WaitProcessing(int ms) {
    if (ms <= 0) return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
}  // namespace

void TForm1::WireStartupHandlers() {
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
    LoadCameraLib = [](std::string* error) { return LoadCameraLibrary(error); };
    WireCaptureHandlers();
}

TForm1::~TForm1() {
    if (exitProcInstalled_) SetExitProc(nullptr);
    // No frame may be posted to this window once it is gone; frames still queued are
    // freed with their events.
    postTarget_->Detach();
    Capture->StopAndWait(ExitWaitMs());
    Capture.reset();
}

void TForm1::FormCreate() {
    // The frame receiver (this window) and the acquisition thread, not started, were
    // made with the window.

    // Display state to its start values.
    ZoomPercent = 100;

    // The recording controller (made with the window's capture handlers) starts idle.
    AviExport->InitExport();

    // The dialogs owned by the main window: overlay properties and output names.
    if (!ConfText) {
        ConfText = new OverlayDialog(this);
        connect(ConfText, &OverlayDialog::stampChanged, this, [](const QString& f, const QString& p) {
            StampFormat.Set(f.toStdString());
            StampPrefix.Set(p.toStdString());
        });
    }
    if (!Form5) Form5 = new OutputNameDialog(this);

    // 570 pixels high, as far as the size limits allow.
    resize(width(), 570);

    // Display levels and their (hidden) sliders.
    BlackLevel = 0;
    WhiteLevel = 255;
    SaturationLimit = 255;
    SaturationShade = 255;
    BlackLevelSlider->setValue(0);
    WhiteLevelSlider->setValue(255);

    FocusPointX = -1;

    // An 8-bit picture with the grey palette of the start levels; sized to the sensor
    // once the camera is known.
    Image1->Bitmap() = QImage(1, 1, QImage::Format_Indexed8);
    Image1->Bitmap().setColorTable(
        BuildLevelsPalette(BlackLevel, WhiteLevel, SaturationLimit, SaturationShade));
    Image1->Bitmap().fill(0);

    CapturePath.clear();
    Capture->ExposureMs = 100;

    // The controller reaches the cancel button, status panels 0 and 2 and the summary
    // through its view.
    AviExport->View = ExportView.get();
    AviExport->Capture = Capture.get();

    gain->SetPosition(10);

    if (Splash) Splash->setStatus(QStringLiteral("Searching..."));
    ProcessPending();

    pse->setText(QStringLiteral("0"));

    // The stored settings; anything that is not a decimal number counts as missing.
    const TStoredSettings stored = ReadStoredSettings();
    _expot->SetPosition(DecimalOr(stored.EXPOLENGTH, 100));  // clamped to 1..100
    Capture->ExposureMs = _expot->Position();
    expos->setText(QString::number(DecimalOr(stored.EXPOCOUNT, 1)));
    CapturePath = stored.FILENAME;

    // Output format FIT: the still-capture button is the one in view.
    FIT1->setChecked(true);
    FIT2->setChecked(true);
    Button3->setText(QStringLiteral("FIT"));
    butCapture->setText(QStringLiteral("SER"));
    Button3->show();
    butCapture->hide();
    AviExport->CaptureFormat = FormatFit;

    const bool havePath = !CapturePath.isEmpty();
    butCapture->setEnabled(havePath);
    Button3->setEnabled(havePath);
    if (havePath) Form5->setBaseName(CapturePath.mid(CapturePath.lastIndexOf(u'/') + 1));

    gain->SetPosition(DecimalOr(stored.GAIN, 10));  // clamped to 0..100
    GAINChange();

    Saved.FILENAME = CapturePath;
    Saved.EXPOLENGTH = QString::number(_expot->Position());
    Saved.EXPOCOUNT = expos->text();

    SetExitProc([this] { SaveAndStop(); });
    exitProcInstalled_ = true;

    SplitCapturePath();

    // Camera discovery: a library that cannot be loaded counts as no camera.
    std::string error;
    bool found = Camera().Complete() || (LoadCameraLib && LoadCameraLib(&error));
    if (found) found = Capture->OpenCamera();
    if (!found) {
        if (!error.empty()) std::fprintf(stderr, "%s: %s\n", AppName, error.c_str());
        ShowMessage("NO CAMERA!");
        Halt(1);
    }

    int w = 0, h = 0;
    const char* name = Camera().GetCameraInfo(&w, &h);
    CameraName = QString::fromUtf8(name ? name : "");
    CameraWidth = w;
    CameraHeight = h;
    Camera().SetGain(gain->Position());

    SliderHeight->SetMax(h);
    SliderWidth->SetMax(w);
    if (w > 0 && h > 0) {
        QImage picture(w, h, QImage::Format_Indexed8);
        picture.setColorTable(Image1->Bitmap().colorTable());
        picture.fill(0);
        Image1->Bitmap() = picture;
        Image1->Repaint();
    }

    setWindowTitle(QString::fromLatin1(AppName) + QString::fromLatin1(AppVersion) +
                   QStringLiteral(" connected to ") + CameraName);

    if (Splash) {
        Splash->setStatusColor(QColor(0, 128, 0));
        Splash->setStatus(CameraName + QStringLiteral(" Found"));
    }
    ProcessPending();
    WaitProcessing(SplashDelayMs);

    Col1Click();
    balancePositionChanged();
    GAINChange();

    N1001->setChecked(true);

    Capture->Start();

    if (Splash) Splash->hide();
    show();
    ProcessPending();
}

uint32_t TForm1::ExitWaitMs() const {
    // The exposure running at exit may be longer than the one now pending (a recording
    // keeps its length); the slider's maximum bounds every length the user can choose.
    const int32_t longest = std::max<int32_t>(Capture->ExposureMs.load(), _expot->Max());
    return static_cast<uint32_t>(std::max<int32_t>(longest, 0)) + Capture->StallMarginMs.load();
}

void TForm1::SaveAndStop() {
    // A recording still open is closed first, so that its file is complete.
    CloseRecordingForExit();

    Capture->Running = false;

    SettingsWritten = WriteStoredSettings(Saved);
    if (!SettingsWritten) {
        auto store = OpenSettings();
        std::fprintf(stderr, "%s: the settings could not be stored in %s\n", AppName,
                     store->fileName().toLocal8Bit().constData());
    }

    if (FocusForm) FocusForm->hide();
    if (ConfText) ConfText->hide();

    // The thread ends after the exposure in progress; a camera that never reports the
    // end of its exposure does not keep the program from ending.
    if (!Capture->StopAndWait(ExitWaitMs()))
        std::fprintf(stderr, "%s: the camera did not finish its exposure\n", AppName);
}

void TForm1::Exit1Click() {
    Halt(0);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The close box, Alt+F4 and the window menu's Close all halt the program.
    event->ignore();
    Halt(0);
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The main window is never minimised: a minimised state is undone at once.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized)
                setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        });
}

void TForm1::customEvent(QEvent* event) {
    if (event->type() == TFrameReadyEvent::kType) {
        FrameNode* node = static_cast<TFrameReadyEvent*>(event)->Take();
        if (node) FrameReady(node);
        return;
    }
    QMainWindow::customEvent(event);
}
