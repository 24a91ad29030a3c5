#pragma once
// The main window's menu bar: File, Capture Files, Camera Setup and ZOOM. The main window
// connects the items; the output format items belong to the capture panel and are shown
// here too.
#include <QList>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;

struct MainMenus {
    QAction* exit = nullptr;
    QAction* setCaptureLocation = nullptr;
    QAction* setCaptureFilename = nullptr;
    QAction* codecIyuv = nullptr;       // "IYUV codec (Registax)"
    QAction* codecAsk = nullptr;        // "Ask when opening"
    QAction* depth8 = nullptr;          // "8 bit": samples of the files
    QAction* depth16 = nullptr;         // "16 bit": enabled for cameras of more than 8 bits
    QAction* stampVisible = nullptr;    // TimeStamp Overlay > "Visible"
    QAction* stampConfigure = nullptr;  // TimeStamp Overlay > "Configure"
    QAction* selectCamera = nullptr;    // "Select Camera..."
    QAction* previewDuringCapture = nullptr;
    QAction* horizontalFlip = nullptr;
    QAction* colorCamera = nullptr;
    QActionGroup* zoom = nullptr;  // the zoom items; each item's data is its percentage
};

// Builds the menus into `bar`; `formatItems` go into the (hidden) "Set Capture Format" menu.
MainMenus BuildMainMenus(QMenuBar* bar, const QList<QAction*>& formatItems);
