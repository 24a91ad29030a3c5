#pragma once
// The main window. Its handlers are defined in several files by role:
//   Main.cpp           the window definition: controls, menus, status bar
//   Main_startup.cpp   start-up (FormCreate), the exit procedure, closing and minimising
//   Main_camera.cpp    exposure, gain, white balance, flip, colour, subframe, count field
//   Main_display.cpp   the frame hand-off (FrameReady), zoom, histogram, overlay, focus aid
//   Main_capture.cpp   capture commands, output format, capture folder and base name
// Further roles (capture commands, output names, subframe, zoom) add files of their own
// and connect their handlers from a Wire... function called by the constructor.
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "acquisition/ImageList.h"
#include "display/StampOverlay.h"
#include "shell/SettingsStore.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLCDNumber;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QSlider;
class QStatusBar;
class QTimer;
class QVBoxLayout;
class OverlayDialog;
class TFramePostTarget;
class TFocusForm;
class OutputNameDialog;
class THistogramChart;
class TPicture;
class SplashScreen;
class TTrackBar;
class TVideoCapture;
class TAVIExport;
class TExportView;

// The camera delivers a raw colour (Bayer) image: the "Color Camera" menu item.
extern bool ColorCamera;

// The recording gate of the frame hand-off: the pause between recorded frames in ms (from
// the Pause field), and the GetTickCount value before which no frame is recorded (0: at
// once). Defined in Main_capture.cpp.
extern int32_t FramePause;
extern uint32_t NextRecordTick;

// The "Last Capture" summary template (the hint text of HTMLabel1); formatted with the
// duration in seconds and the frame rate.
inline constexpr char kLastCaptureTemplate[] =
    "<P align=\"center\"><FONT color=\"#FF0000\"><B>Last Capture</B></FONT><BR>"
    "<B>Duration:</B> %3.1f s<br><B>FPS:</B> %2.1f</P>";

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- start-up and shutdown (Main_startup.cpp)
    // The start-up sequence: settings, camera, acquisition, then the window is shown.
    // Without a camera it shows "NO CAMERA!" and halts.
    void FormCreate();
    // The exit procedure: closes an open recording, stops the acquisition loop, stores the
    // four settings, hides the auxiliary windows and waits (bounded) for the acquisition
    // thread to end its last exposure.
    void SaveAndStop();
    // File > Exit.
    void Exit1Click();
    // How long SaveAndStop waits at most for the acquisition thread, in milliseconds.
    uint32_t ExitWaitMs() const;

    // Settable before FormCreate: the splash to report to (may be null), how long the
    // "<camera> Found" line stays readable, and how the camera library is loaded.
    SplashScreen* Splash = nullptr;
    int SplashDelayMs = 2000;
    std::function<bool(std::string* error)> LoadCameraLib;

    // The acquisition thread, created (not started) with the window.
    std::unique_ptr<TVideoCapture> Capture;
    QString CameraName;
    int CameraWidth = 0, CameraHeight = 0;
    // The four texts SaveAndStop stores; the handlers keep them up to date.
    TStoredSettings Saved;
    // True once SaveAndStop has stored them (false also when the store failed).
    bool SettingsWritten = false;
    // Capture directory + "/" + base name, without extension; empty until both are known.
    QString CapturePath;

    // ---- frame hand-off (Main_display.cpp)
    // One frame from the acquisition thread; the window owns it from here on.
    void FrameReady(FrameNode* node);
    // Frames received since start (for diagnostics and tests).
    uint64_t FramesReceived = 0;

    // ---- display (Main_display.cpp): zoom, centring, histogram, overlay, focus aid
    void N251Click();
    void N501Click();
    void N1001Click();
    void N2001Click();
    void ZoomClick(int percent);  // the four above: the zoom, scroll bars back to 0
    void positionImage();         // centres the picture from the scroll box's outer size
    void ScrollBox1Resize();
    void Timer1Timer();  // frame rate (status panel 0) and camera state (panel 1)
    void Timer2Timer();  // centres the picture in the client area; hides the idle cancel
    void HGramClick();
    void Visible1Click();
    void Configure1Click();
    void Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    QTimer* Timer1 = nullptr;  // 1000 ms
    QTimer* Timer2 = nullptr;  // 500 ms

    // ---- camera controls (Main_camera.cpp)
    void GAINChange();
    void Col1Click();
    void balancePositionChanged();
    void exposChange();
    void _expotKeyUp();
    void _expotMouseUp();
    void MenuItem8Click(QAction* item);  // every exposure range preset
    void gainKeyUp();
    void gainMouseUp();
    void HorizontalFlip1Click();
    // subframe
    void SliderWidthChange();
    void SliderHeightChange();
    void SliderWidthKeyUp();
    void SliderWidthMouseUp();
    void SliderHeightKeyUp();
    void SliderHeightMouseUp();

    // ---- capture commands, output format and location (Main_capture.cpp)
    void butCaptureClick();  // start a SER or AVI recording
    void Button3Click();     // start a FIT or BMP series
    void CancelButtonClick();
    void pseChange();
    void pseUnitChanged();
    void N12Click(QAction* item);  // a CountPopup count into expos
    void SER8bit1Click();
    void AVI2Click();
    void FIT1Click();
    void BMP1Click();
    void IRAWClick();
    void Askwhenopening1Click();
    void SetCaptureLocation1Click();
    void SetCaptureFilename1Click();
    void SplitCapturePath();
    void JoinCapturePath();
    // While a recording runs the capture buttons and the format items are disabled.
    void SetCaptureLocked(bool locked);
    // Closes a recording still open (the exit procedure); false when it could not be
    // finished.
    bool CloseRecordingForExit();
    // The recording controller and the window parts it shows its state in (deleted in
    // Main_capture.cpp, where their types are complete).
    struct TCaptureDeleter {
        void operator()(TAVIExport* p) const;
        void operator()(TExportView* p) const;
    };
    std::unique_ptr<TAVIExport, TCaptureDeleter> AviExport;
    std::unique_ptr<TExportView, TCaptureDeleter> ExportView;
    // Called by the hand-off's recording gate for each due frame (the controller's
    // RecordStep).
    std::function<void()> RecordStepHook;
    // Folder for recordings, without a trailing "/"; empty until known.
    QString CaptureDirectory;
    // The folder dialog; returns the chosen folder, empty for Cancel. Tests replace it.
    std::function<QString(QWidget* owner)> ChooseFolder;

    // Status bar panels 0 (progress), 1, 2 (free memory).
    QLabel* StatusPanel(int index) const;

    // ---- auxiliary windows (null until their units create them)
    OverlayDialog* ConfText = nullptr;  // "Text Overlay Properties", owned by this window
    TFocusForm* FocusForm = nullptr;  // "FOCUS AID", created by the program block
    OutputNameDialog* Form5 = nullptr;  // "Output File Names", owned by this window

    // ---- controls of the left column, top to bottom
    QFrame* LeftPanel = nullptr;
    TTrackBar* _expot = nullptr;  // exposure, 1..100 ms, label "%d ms"
    QMenu* expopup = nullptr;     // range presets of _expot
    QAction *MenuItem3 = nullptr, *MenuItem4 = nullptr, *MenuItem5 = nullptr, *MenuItem6 = nullptr,
            *MenuItem7 = nullptr, *MenuItem8 = nullptr;
    TTrackBar* gain = nullptr;  // 0..100, label "%d %%"
    QFrame* Balance = nullptr;  // the three white-balance sliders
    TTrackBar *redbalance = nullptr, *greenbalance = nullptr, *bluebalance = nullptr;

    QFrame* Panel11 = nullptr;  // subframe
    QLCDNumber* HRES = nullptr;
    QLabel* Label8 = nullptr;
    QLCDNumber* VRES = nullptr;
    QFrame* full = nullptr;       // 106 x 85, the whole sensor
    QWidget* subframe = nullptr;  // sky-blue rectangle inside full
    TTrackBar* SliderWidth = nullptr;
    TTrackBar* SliderHeight = nullptr;

    QCheckBox* HGram = nullptr;
    QCheckBox* loga = nullptr;
    QFrame* Panel6 = nullptr;  // 183 x 95: chart and the two labels below it
    THistogramChart* H1 = nullptr;
    QLabel* sat = nullptr;
    QLabel* lAvg = nullptr;

    QFrame* CapturePanel = nullptr;
    QLabel* Label4 = nullptr;  // "Frame Count/Duration"
    QLineEdit* expos = nullptr;
    QComboBox* exposUnit = nullptr;  // " expo(s)", " sec(s)"
    QMenu* CountPopup = nullptr;
    QAction *N12 = nullptr, *N51 = nullptr, *N102 = nullptr, *N201 = nullptr, *MenuItem1 = nullptr,
            *MenuItem2 = nullptr;
    QLabel* Pause = nullptr;
    QLineEdit* pse = nullptr;
    QComboBox* pseUnit = nullptr;    // " ms", " sec"
    QWidget* ButtonPlace = nullptr;  // 165 x 35, holds the three buttons below
    QPushButton* butCapture = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* CancelButton = nullptr;
    QMenu* SERAVI = nullptr;
    QAction *SER8bit1 = nullptr, *AVI2 = nullptr, *FIT1 = nullptr, *BMP1 = nullptr;

    QFrame* Panel10 = nullptr;  // the "Last Capture" summary
    QLabel* HTMLabel1 = nullptr;

    // ---- picture and the hidden right column
    QScrollArea* ScrollBox1 = nullptr;
    TPicture* Image1 = nullptr;
    QFrame* RightPanel = nullptr;  // the level sliders, hidden
    QSlider* BlackLevelSlider = nullptr;
    QSlider* WhiteLevelSlider = nullptr;

    // ---- main menu
    QMenu* File1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* CaptureFiles1 = nullptr;
    QAction* SetCaptureLocation1 = nullptr;
    QAction* SetCaptureFilename1 = nullptr;
    QMenu* SetCaptureFormat1 = nullptr;  // hidden
    QAction *AVI1 = nullptr, *BMP2 = nullptr, *FIT2 = nullptr, *SER1 = nullptr;
    QMenu* Compression1 = nullptr;  // hidden
    QAction* IRAW = nullptr;
    QAction* Askwhenopening1 = nullptr;
    QMenu* CameraSetup1 = nullptr;
    QMenu* AddDateTime1 = nullptr;  // "TimeStamp Overlay"
    QAction* Visible1 = nullptr;
    StampOverlay Stamp;  // drawn into the preview while Visible1 is checked
    QAction* Configure1 = nullptr;
    QAction* PreviewDuringCapture1 = nullptr;
    QAction* HorizontalFlip1 = nullptr;
    QAction* Col1 = nullptr;
    QMenu* ZOOM1 = nullptr;
    QActionGroup* ZoomGroup = nullptr;
    QAction *N251 = nullptr, *N501 = nullptr, *N1001 = nullptr, *N2001 = nullptr, *N4001 = nullptr;

    static constexpr int kLeftColumnWidth = 185;
    static constexpr int kStatusWidths[3] = {200, 400, 50};

  protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildMenus();
    void BuildLeftColumn();
    void BuildExposureControls(QVBoxLayout* column);
    void BuildSubframeControls(QVBoxLayout* column);
    void BuildHistogramControls(QVBoxLayout* column);
    void BuildCaptureControls(QVBoxLayout* column);
    void BuildStatusBar();
    void WireCameraControls();
    void WireSubframeControls();
    void WireDisplayHandlers();
    void WireStartupHandlers();
    void WireCaptureHandlers();
    void SelectFormat(int32_t format);
    void EnableCaptureButtons();
    bool ReadCount(bool absolute, int32_t& count);
    void StartRecording(int32_t count);

    std::shared_ptr<TFramePostTarget> postTarget_;
    QLabel* statusPanels_[3] = {nullptr, nullptr, nullptr};
    bool exitProcInstalled_ = false;
    bool captureLocked_ = false;
};
