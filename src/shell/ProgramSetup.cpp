#include "shell/ProgramSetup.h"

#include "display/FocusWindow.h"
#include "platform/InstanceLock.h"
#include "shell/MainWindow.h"
#include "widgets/OnScreenKeyboard.h"
#include "widgets/OutputNameDialog.h"
#include "widgets/OverlayDialog.h"
#include "widgets/SecondInstanceWindow.h"

bool checkSingleInstance(const std::function<void()>& showError) {
    // A lock that cannot be created says nothing about other instances: go on.
    if (acquireInstanceLock() != InstanceLockResult::HeldElsewhere) return true;
    if (showError) showError();
    return false;
}

AuxiliaryWindows createAuxiliaryWindows(MainWindow& mainWindow) {
    AuxiliaryWindows w;
    w.keyboard = new OnScreenKeyboard;
    w.keyboard->hide();
    w.errorWindow = new SecondInstanceWindow;
    w.errorWindow->hide();
    w.focus = new FocusWindow;
    w.focus->hide();
    mainWindow.setFocusWindow(w.focus);

    // Both dialogs type with the same keyboard.
    mainWindow.attachKeyboard(w.keyboard);
    return w;
}
