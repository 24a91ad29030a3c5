#pragma once
#include <QString>
// The main window's menu bar: File, Capture Files, Camera Setup and ZOOM. The main window
// connects the items; the capture panel fills the output format menu with items of its own.
class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;

struct MainMenus {
    QAction* exit = nullptr;
    QAction* setCaptureLocation = nullptr;
    QAction* setCaptureFilename = nullptr;
    QAction* sessionDetails = nullptr;     // "Session Details..."
    QAction* profiles = nullptr;           // "Profiles...": the target profiles and sequences
    QAction* writeCaptureLog = nullptr;    // "Write a capture log" (checkable)
    QAction* numberedNames = nullptr;      // "Numbered Names" (radio, the default)
    QAction* observationNames = nullptr;   // "Observation Names" (radio)
    QMenu* captureFormat = nullptr;        // "Set Capture Format" (hidden), filled by the panel
    QAction* codecIyuv = nullptr;          // "IYUV codec (Registax)"
    QAction* codecAsk = nullptr;           // "Ask when opening"
    QAction* keepSharpest = nullptr;       // "Keep Sharpest Frames" (checkable)
    QAction* startWhenSharp = nullptr;     // "Start When Sharp" (checkable)
    QAction* sharpnessSettings = nullptr;  // "Sharpness Settings..."
    QAction* depth8 = nullptr;             // "8 bit": samples of the files
    QAction* depth16 = nullptr;            // "16 bit": enabled for cameras of more than 8 bits
    QAction* stampVisible = nullptr;       // TimeStamp Overlay > "Visible"
    QAction* stampConfigure = nullptr;     // TimeStamp Overlay > "Configure"
    QAction* selectCamera = nullptr;       // "Select Camera..."
    QAction* cameraControls = nullptr;     // "Camera Controls" (checkable): the dock shown
    QAction* previewDuringCapture = nullptr;
    QAction* horizontalFlip = nullptr;
    QAction* colorCamera = nullptr;
    QAction* trackPlanet = nullptr;  // "Track Planet": the subframe follows the planet
    // "Steady Preview": while tracking, the preview holds the planet still on screen.
    QAction* steadyPreview = nullptr;
    // The live picture and the automatic exposure (PreviewControls wires them).
    QAction* autoStretch = nullptr;           // "Auto Stretch" (checkable)
    QAction* showClipped = nullptr;           // "Show Clipped Pixels" (checkable)
    QActionGroup* reticle = nullptr;          // "Reticle" > Off, Cross, Circles; data 0, 1, 2
    QAction* autoExposure = nullptr;          // "Auto Exposure" (checkable)
    QAction* autoExposureSettings = nullptr;  // "Auto Exposure Settings..."
    QActionGroup* zoom = nullptr;             // the zoom items; each item's data is its percentage
    QAction* about = nullptr;                 // Help > "About TarviVideo5X"
};

// Builds the menus into `bar`.
MainMenus buildMainMenus(QMenuBar* bar);

// The text of Help > About: the program and its version, the camera and the camera library
// in use.
QString aboutText(const QString& cameraName, const QString& cameraLibrary);
