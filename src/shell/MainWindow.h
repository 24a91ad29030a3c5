#pragma once
// The main window: builds the panels, wires them to each other and to the capture
// thread, the preview and the recording controller, and runs start-up and shutdown.
//   MainWindow.cpp         the panels, menus, wiring, the frame hand-off and window events
//   MainWindowStartup.cpp  start-up (camera discovery, stored settings) and the exit procedure
#include <QMainWindow>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "analysis/SeeingHistory.h"
#include "display/PreviewRenderer.h"
#include "platform/DiskSpace.h"
#include "session/CaptureSession.h"
#include "session/PlanetTracker.h"
#include "session/SeeingMonitor.h"
#include "settings/CameraChoiceStore.h"
#include "settings/SettingsStore.h"
#include "settings/TargetProfile.h"
#include "shell/MainMenus.h"

class CapturePanel;
class CaptureStatusSource;
class CaptureThread;
class QTimer;
class CameraControlsPanel;
class RecoveryJournal;
class ExposurePanel;
class FocusWindow;
class FramePostTarget;
class HistogramPanel;
class PictureArea;
class PreviewControls;
class StretchControl;
class RecordingController;
class StatusPanels;
class SubframePanel;
class OnScreenKeyboard;
class OutputNameDialog;
class OverlayDialog;
class SplashScreen;
class SessionDetailsDialog;
class SeeingPanel;
class SequenceRunner;

// What the main window's start() works with: the splash to report to (may be null), how long
// the "<camera> Found" line stays readable (the program gives 2000 ms; 0 shows the window at
// once), how the camera library is loaded, and the hint shown below "NO CAMERA!" and its
// reason (how to choose another camera).
struct MainWindowStartOptions {
    SplashScreen* splash = nullptr;
    int splashDelayMs = 0;
    std::function<bool(std::string* error)> loadCameraLibrary;
    std::string noCameraHint;
    // The camera chosen at the start: the one a change of camera that fails opens again.
    CameraChoice camera;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    using StartOptions = MainWindowStartOptions;
    explicit MainWindow(StartOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // ---- start-up and shutdown (MainWindowStartup.cpp)
    // The start-up sequence: settings, camera, acquisition, then the window is shown
    // (after splashDelayMs, from the event loop; at once without a delay) and started()
    // is emitted. Without a camera it shows "NO CAMERA!" and halts.
    void start();
    // The exit procedure: closes an open recording, stops the acquisition loop, stores the
    // four settings, hides the auxiliary windows and waits (bounded) for the acquisition
    // thread to end its last exposure.
    void saveAndStop();
    // How long saveAndStop waits at most for the acquisition thread, in milliseconds.
    uint32_t exitWaitMs() const;
    // Closes the camera in use and opens `choice` in its place, the acquisition started again;
    // a camera that fails to open says why, and the camera before is opened again. Refused
    // while a recording runs. True when `choice` runs.
    bool switchCamera(const CameraChoice& choice);
    CameraControlsPanel& controlsPanel() { return *controlsPanel_; }

    // The focus aid, made by the program block after the window.
    void setFocusWindow(FocusWindow* window) { focusWindow_ = window; }
    FocusWindow* focusWindow() const { return focusWindow_; }
    OutputNameDialog* outputNameDialog() const { return nameDialog_; }
    OverlayDialog* overlayDialog() const { return overlayDialog_; }
    SessionDetailsDialog* sessionDialog() const { return sessionDialog_; }
    const MainMenus& menus() const { return menus_; }
    // "Session Details...": the dialog; the details are stored when confirmed.
    void editSessionDetails();
    // The facts a recording starts with: camera, settings, session details, the disk.
    RecordingFacts recordingFacts() const;
    // The dialogs type with the on-screen keyboard.
    void attachKeyboard(OnScreenKeyboard* keyboard);

    // ---- target profiles and their sequences (MainWindowProfiles.cpp)
    // Brings the stored profile of that name into force, whole (a profile that does not parse
    // changes nothing), and keeps it as the one applied at the next start. "" when applied,
    // else why not: the file's line and reason, a recording or a sequence running.
    QString applyProfile(const QString& name);
    // Applies the profile and starts its sequence; "" when it started, else why not (also a
    // loop longer than the profile's budget).
    QString startSequence(const QString& profile);
    // Ends the running sequence; a recording of it ends with its file complete.
    void stopSequence();
    // The running sequence: running(), loop(), loops(), stepFilter(), secondsLeft(),
    // statusText(), profile().name; its finished(error) signal.
    const SequenceRunner& sequence() const { return *sequence_; }
    SequenceRunner& sequence() { return *sequence_; }
    // The settings in force as a profile of that name (the sequence left empty).
    TargetProfile currentProfile(const std::string& name) const;
    // "Profiles...": the profiles dialog.
    void editProfiles();

    // The parts of the window, for the program block, the tests and the benchmarks.
    CaptureThread& capture() { return *capture_; }
    PlanetTracker& tracker() { return *tracker_; }
    SeeingMonitor& seeing() { return *seeing_; }
    SeeingPanel& seeingPanel() { return *seeingPanel_; }
    PreviewControls& previewControls() { return *previewControls_; }
    RecordingController& recorder() { return *recorder_; }
    CapturePanel& capturePanel() { return *capturePanel_; }
    ExposurePanel& exposurePanel() { return *exposurePanel_; }
    SubframePanel& subframePanel() { return *subframePanel_; }
    const PreviewRenderer& preview() const { return renderer_; }
    const CaptureSession& captureSession() const { return captureSession_; }
    const FrameHandoff& handoff() const { return captureSession_.handoff(); }
    const QString& cameraName() const { return cameraName_; }
    // The four texts saveAndStop stores, kept up to date by the panels.
    const StoredSettings& storedSettings() const { return saved_; }
    // True once saveAndStop has stored them (false also when the store failed).
    bool settingsWritten() const { return settingsWritten_; }

    // One frame handed in directly (tests, benchmarks); the window owns it from here on, and
    // hands it to the capture session. Frames of the acquisition thread come as events.
    void frameReady(FramePtr frame);
    // Frames received since start (for diagnostics and tests).
    uint64_t framesReceived() const { return framesReceived_; }
    // The frame rate (status panel 0) and the camera state (panel 1) read now; the status
    // source reads them every second.
    void updateStatus();
    // The free space of the capture folder (status panel 3), with the recording time left
    // at the rate the recording writes; every few seconds.
    void updateDiskStatus();

    static constexpr int kLeftColumnWidth = 185;
    static constexpr int kMinimumWidth = 800;
    static constexpr int kMinimumHeight = 520;

  signals:
    // The window is shown and the camera runs.
    void started();

  protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // The second half of start(): the camera's settings, acquisition, the window shown.
    void completeStart();
    void buildPanels();
    // Registers the preview, histogram and recorder with the capture session, once.
    void connectSession();
    // Counts a frame and hands it to the capture session (see CaptureSession::frameArrived).
    void receiveFrame(FramePtr frame, bool paced, int newerWaiting);
    void wireMenus();
    void setColorCamera(bool color);
    // The "8 bit" / "16 bit" items: the depth asked of the capture thread, stored.
    void chooseSampleDepth(int32_t bits);
    // Enables "16 bit" for a camera of more than 8 bits and applies the stored choice.
    void offerSampleDepths();
    void showFocusWindow();
    // The tracked disc's marks on the picture of `frame` and, with "Steady Preview", the
    // shift that holds the disc at the picture's centre.
    void showTrackMarks(const Frame& frame);
    void configureOverlay();
    // "Select Camera...": the camera chosen replaces the one in use (MainWindowCamera.cpp).
    void selectCamera();
    // The "Camera Controls" dock, kept up to date from the acquisition thread's snapshot.
    void buildControlsPanel();
    void refreshCameraControls();
    // The subframe sliders, the tracker and the blank picture sized to a sensor.
    void showSensor(int width, int height);
    // What the window takes from a camera just opened: name, gain units, sensor, depths.
    void cameraOpened();
    // Stops acquisition and has the library close the camera (unloaded when it can be);
    // false when the camera did not finish its exposure (it then stays in use).
    bool closeCamera();
    // Loads and opens a camera; false with the reason, the library closed again.
    bool openChosenCamera(const CameraChoice& choice, std::string* error);
    void applyStoredSettings(const StoredSettings& stored);
    // Completes SER and AVI recordings a crash left unfinished; says so on stderr and in the
    // status bar. While a recording waits for its disk, it looks again every few seconds.
    void finishInterruptedRecordings();
    void openCamera();
    // Status panel 1: the camera's state, then the tracker's while it is on.
    void showCameraState();
    // The sharp-seeing choices of the menu and the dialog, given to the recorder and stored.
    void applySharpnessChoices(const SharpnessChoices& choices, bool store);
    // "Sharpness Settings...".
    void editSharpnessSettings();
    void makeSequenceRunner();
    // The profile applied last, at start; a broken one is named in the status bar.
    void applyLastProfile();

    StartOptions options_;
    std::shared_ptr<FramePostTarget> postTarget_;
    std::unique_ptr<CaptureThread> capture_;
    std::unique_ptr<RecordingController> recorder_;
    std::unique_ptr<RecoveryJournal> journal_;  // the notes of the recording files open
    PreviewRenderer renderer_;
    CaptureSession captureSession_;
    std::unique_ptr<StatusPanels> status_;
    // Moves the subframe through capture_, notes moves in recorder_'s log and shows its state
    // in status_: made after them and gone before them.
    std::unique_ptr<PlanetTracker> tracker_;
    // The live seeing figure, its graph and the moment a capture that waits for sharp
    // seeing starts.
    std::unique_ptr<SeeingMonitor> seeing_;
    SharpMoment sharpMoment_;
    bool sharpReached_ = false;
    SharpnessChoices sharpness_;
    // The camera panel's two parts: the camera's state and the tracker's ("" while off).
    QString cameraStateText_;
    QString trackingText_;
    QString sequenceText_;  // the running sequence's, "" while none runs
    std::unique_ptr<SequenceRunner> sequence_;
    CaptureStatusSource* statusSource_ = nullptr;
    MainMenus menus_;

    ExposurePanel* exposurePanel_ = nullptr;
    SubframePanel* subframePanel_ = nullptr;
    HistogramPanel* histogramPanel_ = nullptr;
    SeeingPanel* seeingPanel_ = nullptr;
    CapturePanel* capturePanel_ = nullptr;
    PictureArea* pictureArea_ = nullptr;
    StretchControl* stretchControl_ = nullptr;
    PreviewControls* previewControls_ = nullptr;
    FocusWindow* focusWindow_ = nullptr;
    OverlayDialog* overlayDialog_ = nullptr;
    OutputNameDialog* nameDialog_ = nullptr;
    SessionDetailsDialog* sessionDialog_ = nullptr;
    SessionDetails session_;

    CameraControlsPanel* controlsPanel_ = nullptr;
    uint64_t refusalsShown_ = 0;  // the control refusals already shown
    QSize sensorShown_;           // the sensor the subframe controls are sized to
    static constexpr int kControlsRefreshMs = 500;
    CameraChoice camera_;  // the camera in use, as chosen

    QString cameraName_;
    StoredSettings saved_;
    bool settingsWritten_ = false;
    bool colorCamera_ = true;
    uint64_t framesReceived_ = 0;
    WriteRateMeter diskRate_;
    uint64_t bytesCounted_ = 0;  // the recording's bytes already given to diskRate_
    bool exitProcInstalled_ = false;
    static constexpr int kRecoveryRetryMs = 5000;
    QTimer* recoveryRetry_ = nullptr;     // while a recording waits for its disk
    std::set<std::string> waitingShown_;  // the waiting recordings already logged
};
