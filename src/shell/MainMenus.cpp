#include "shell/MainMenus.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>

#include "display/PreviewRenderer.h"
#include "platform/AppInfo.h"
#include "widgets/PanelParts.h"

namespace {
QAction* checkItem(QMenu* menu, const QString& name, const QString& caption, bool checked) {
    QAction* a = menuItem(menu, name, caption);
    a->setCheckable(true);
    a->setChecked(checked);
    return a;
}
}  // namespace

MainMenus buildMainMenus(QMenuBar* bar) {
    MainMenus m;
    QMenu* file = bar->addMenu(QCoreApplication::translate("MainMenus", "File"));
    file->setObjectName(QStringLiteral("File1"));
    m.exit =
        menuItem(file, QStringLiteral("Exit1"), QCoreApplication::translate("MainMenus", "Exit"));

    QMenu* captureFiles = bar->addMenu(QCoreApplication::translate("MainMenus", "Capture Files"));
    captureFiles->setObjectName(QStringLiteral("CaptureFiles1"));
    m.setCaptureLocation =
        menuItem(captureFiles, QStringLiteral("SetCaptureLocation1"),
                 QCoreApplication::translate("MainMenus", "Set Capture Location"));
    m.setCaptureFilename =
        menuItem(captureFiles, QStringLiteral("SetCaptureFilename1"),
                 QCoreApplication::translate("MainMenus", "Set Capture Filename"));
    m.sessionDetails = menuItem(captureFiles, QStringLiteral("SessionDetails1"),
                                QCoreApplication::translate("MainMenus", "Session Details..."));
    m.profiles = menuItem(captureFiles, QStringLiteral("Profiles1"),
                          QCoreApplication::translate("MainMenus", "Profiles..."));
    m.writeCaptureLog =
        checkItem(captureFiles, QStringLiteral("WriteCaptureLog1"),
                  QCoreApplication::translate("MainMenus", "Write a capture log"), true);
    auto* naming = new QActionGroup(captureFiles);
    m.numberedNames = checkItem(captureFiles, QStringLiteral("NumberedNames1"),
                                QCoreApplication::translate("MainMenus", "Numbered Names"), true);
    m.observationNames = checkItem(
        captureFiles, QStringLiteral("ObservationNames1"),
        QCoreApplication::translate("MainMenus", "Observation Names (UTC, target, filter)"), false);
    naming->addAction(m.numberedNames);
    naming->addAction(m.observationNames);
    m.captureFormat =
        captureFiles->addMenu(QCoreApplication::translate("MainMenus", "Set Capture Format"));
    m.captureFormat->setObjectName(QStringLiteral("SetCaptureFormat1"));
    m.captureFormat->menuAction()->setVisible(false);
    QMenu* compression =
        captureFiles->addMenu(QCoreApplication::translate("MainMenus", "Compression"));
    compression->setObjectName(QStringLiteral("Compression1"));
    m.codecIyuv =
        checkItem(compression, QStringLiteral("IRAW"),
                  QCoreApplication::translate("MainMenus", "IYUV codec (Registax)"), true);
    m.codecAsk = menuItem(compression, QStringLiteral("Askwhenopening1"),
                          QCoreApplication::translate("MainMenus", "Ask when opening"));
    compression->menuAction()->setVisible(false);
    captureFiles->addSeparator();
    m.keepSharpest =
        checkItem(captureFiles, QStringLiteral("KeepSharpestFrames1"),
                  QCoreApplication::translate("MainMenus", "Keep Sharpest Frames"), false);
    m.startWhenSharp =
        checkItem(captureFiles, QStringLiteral("StartWhenSharp1"),
                  QCoreApplication::translate("MainMenus", "Start When Sharp"), false);
    m.sharpnessSettings =
        menuItem(captureFiles, QStringLiteral("SharpnessSettings1"),
                 QCoreApplication::translate("MainMenus", "Sharpness Settings..."));
    captureFiles->addSeparator();
    auto* depths = new QActionGroup(captureFiles);
    m.depth8 = checkItem(captureFiles, QStringLiteral("Depth8bit1"),
                         QCoreApplication::translate("MainMenus", "8 bit"), true);
    m.depth16 = checkItem(captureFiles, QStringLiteral("Depth16bit1"),
                          QCoreApplication::translate("MainMenus", "16 bit"), false);
    depths->addAction(m.depth8);
    depths->addAction(m.depth16);

    QMenu* cameraSetup = bar->addMenu(QCoreApplication::translate("MainMenus", "Camera Setup"));
    cameraSetup->setObjectName(QStringLiteral("CameraSetup1"));
    QMenu* stamp =
        cameraSetup->addMenu(QCoreApplication::translate("MainMenus", "TimeStamp Overlay"));
    stamp->setObjectName(QStringLiteral("AddDateTime1"));
    m.stampVisible = checkItem(stamp, QStringLiteral("Visible1"),
                               QCoreApplication::translate("MainMenus", "Visible"), false);
    m.stampConfigure = menuItem(stamp, QStringLiteral("Configure1"),
                                QCoreApplication::translate("MainMenus", "Configure"));
    m.previewDuringCapture =
        checkItem(cameraSetup, QStringLiteral("PreviewDuringCapture1"),
                  QCoreApplication::translate("MainMenus", "Preview During Capture"), false);
    m.horizontalFlip =
        checkItem(cameraSetup, QStringLiteral("HorizontalFlip1"),
                  QCoreApplication::translate("MainMenus", "Horizontal Flip"), false);
    m.colorCamera = checkItem(cameraSetup, QStringLiteral("Col1"),
                              QCoreApplication::translate("MainMenus", "Color Camera"), true);
    m.trackPlanet = checkItem(cameraSetup, QStringLiteral("TrackPlanet1"),
                              QCoreApplication::translate("MainMenus", "Track Planet"), false);
    m.steadyPreview = checkItem(cameraSetup, QStringLiteral("SteadyPreview1"),
                                QCoreApplication::translate("MainMenus", "Steady Preview"), false);
    cameraSetup->addSeparator();
    m.autoStretch = checkItem(cameraSetup, QStringLiteral("AutoStretch1"),
                              QCoreApplication::translate("MainMenus", "Auto Stretch"), false);
    m.showClipped =
        checkItem(cameraSetup, QStringLiteral("ShowClipped1"),
                  QCoreApplication::translate("MainMenus", "Show Clipped Pixels"), false);
    QMenu* reticle = cameraSetup->addMenu(QCoreApplication::translate("MainMenus", "Reticle"));
    reticle->setObjectName(QStringLiteral("Reticle1"));
    m.reticle = new QActionGroup(reticle);
    const char* reticles[] = {QT_TRANSLATE_NOOP("MainMenus", "Off"),
                              QT_TRANSLATE_NOOP("MainMenus", "Cross"),
                              QT_TRANSLATE_NOOP("MainMenus", "Circles")};
    for (int i = 0; i < 3; ++i) {
        QAction* item = menuItem(reticle, QStringLiteral("Reticle%1").arg(reticles[i]),
                                 QCoreApplication::translate("MainMenus", reticles[i]), m.reticle);
        item->setData(i);
        item->setChecked(i == 0);
    }
    m.autoExposure = checkItem(cameraSetup, QStringLiteral("AutoExposure1"),
                               QCoreApplication::translate("MainMenus", "Auto Exposure"), false);
    m.autoExposureSettings =
        menuItem(cameraSetup, QStringLiteral("AutoExposureSettings1"),
                 QCoreApplication::translate("MainMenus", "Auto Exposure Settings..."));
    cameraSetup->addSeparator();
    m.selectCamera = menuItem(cameraSetup, QStringLiteral("SelectCamera1"),
                              QCoreApplication::translate("MainMenus", "Select Camera..."));
    m.cameraControls = checkItem(cameraSetup, QStringLiteral("CameraControls1"),
                                 QCoreApplication::translate("MainMenus", "Camera Controls"), true);

    QMenu* zoom = bar->addMenu(QCoreApplication::translate("MainMenus", "ZOOM"));
    zoom->setObjectName(QStringLiteral("ZOOM1"));
    m.zoom = new QActionGroup(zoom);
    for (const ZoomChoice& c : kZoomChoices) {
        QAction* item =
            menuItem(zoom, QString::fromLatin1(c.item), QString::fromLatin1(c.caption), m.zoom);
        item->setData(c.percent);
    }
    // Listed, never offered.
    QAction* hidden = menuItem(zoom, QStringLiteral("N4001"), QStringLiteral("400%"), m.zoom);
    hidden->setVisible(false);

    QMenu* help = bar->addMenu(QCoreApplication::translate("MainMenus", "Help"));
    help->setObjectName(QStringLiteral("Help1"));
    m.about = menuItem(help, QStringLiteral("About1"),
                       QCoreApplication::translate("MainMenus", "About TarviVideo5X"));
    return m;
}

QString aboutText(const QString& cameraName, const QString& cameraLibrary) {
    return QCoreApplication::translate("MainMenus",
                                       "%1 %2\n\nCamera: %3\nCamera library: %4\n\nShows a video "
                                       "camera's picture live and records SER, AVI, FITS and BMP.")
        .arg(QString::fromLatin1(kAppName), QString::fromLatin1(kAppVersion),
             cameraName.isEmpty() ? QCoreApplication::translate("MainMenus", "none") : cameraName,
             cameraLibrary.isEmpty() ? QCoreApplication::translate("MainMenus", "none")
                                     : cameraLibrary);
}
