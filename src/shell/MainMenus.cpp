#include "shell/MainMenus.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

#include "display/PreviewRenderer.h"
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
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    m.exit = menuItem(file, QStringLiteral("Exit1"), QStringLiteral("Exit"));

    QMenu* captureFiles = bar->addMenu(QStringLiteral("Capture Files"));
    captureFiles->setObjectName(QStringLiteral("CaptureFiles1"));
    m.setCaptureLocation = menuItem(captureFiles, QStringLiteral("SetCaptureLocation1"),
                                    QStringLiteral("Set Capture Location"));
    m.setCaptureFilename = menuItem(captureFiles, QStringLiteral("SetCaptureFilename1"),
                                    QStringLiteral("Set Capture Filename"));
    m.sessionDetails = menuItem(captureFiles, QStringLiteral("SessionDetails1"),
                                QStringLiteral("Session Details..."));
    m.writeCaptureLog = checkItem(captureFiles, QStringLiteral("WriteCaptureLog1"),
                                  QStringLiteral("Write a capture log"), true);
    auto* naming = new QActionGroup(captureFiles);
    m.numberedNames = checkItem(captureFiles, QStringLiteral("NumberedNames1"),
                                QStringLiteral("Numbered Names"), true);
    m.observationNames =
        checkItem(captureFiles, QStringLiteral("ObservationNames1"),
                  QStringLiteral("Observation Names (UTC, target, filter)"), false);
    naming->addAction(m.numberedNames);
    naming->addAction(m.observationNames);
    m.captureFormat = captureFiles->addMenu(QStringLiteral("Set Capture Format"));
    m.captureFormat->setObjectName(QStringLiteral("SetCaptureFormat1"));
    m.captureFormat->menuAction()->setVisible(false);
    QMenu* compression = captureFiles->addMenu(QStringLiteral("Compression"));
    compression->setObjectName(QStringLiteral("Compression1"));
    m.codecIyuv = checkItem(compression, QStringLiteral("IRAW"),
                            QStringLiteral("IYUV codec (Registax)"), true);
    m.codecAsk = menuItem(compression, QStringLiteral("Askwhenopening1"),
                          QStringLiteral("Ask when opening"));
    compression->menuAction()->setVisible(false);
    captureFiles->addSeparator();
    auto* depths = new QActionGroup(captureFiles);
    m.depth8 = checkItem(captureFiles, QStringLiteral("Depth8bit1"), QStringLiteral("8 bit"), true);
    m.depth16 =
        checkItem(captureFiles, QStringLiteral("Depth16bit1"), QStringLiteral("16 bit"), false);
    depths->addAction(m.depth8);
    depths->addAction(m.depth16);

    QMenu* cameraSetup = bar->addMenu(QStringLiteral("Camera Setup"));
    cameraSetup->setObjectName(QStringLiteral("CameraSetup1"));
    QMenu* stamp = cameraSetup->addMenu(QStringLiteral("TimeStamp Overlay"));
    stamp->setObjectName(QStringLiteral("AddDateTime1"));
    m.stampVisible = checkItem(stamp, QStringLiteral("Visible1"), QStringLiteral("Visible"), false);
    m.stampConfigure = menuItem(stamp, QStringLiteral("Configure1"), QStringLiteral("Configure"));
    m.previewDuringCapture = checkItem(cameraSetup, QStringLiteral("PreviewDuringCapture1"),
                                       QStringLiteral("Preview During Capture"), false);
    m.horizontalFlip = checkItem(cameraSetup, QStringLiteral("HorizontalFlip1"),
                                 QStringLiteral("Horizontal Flip"), false);
    m.colorCamera =
        checkItem(cameraSetup, QStringLiteral("Col1"), QStringLiteral("Color Camera"), true);
    cameraSetup->addSeparator();
    m.selectCamera =
        menuItem(cameraSetup, QStringLiteral("SelectCamera1"), QStringLiteral("Select Camera..."));

    QMenu* zoom = bar->addMenu(QStringLiteral("ZOOM"));
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
    return m;
}
