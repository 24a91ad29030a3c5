#include "shell/ProgramBlock.h"

#include "controls/OnScreenKeyboard.h"
#include "controls/OutputNameDialog.h"
#include "display/FocusWindow.h"
#include "display/OverlayDialog.h"
#include "platform/InstanceLock.h"
#include "shell/Main.h"
#include "shell/SecondInstanceWindow.h"

bool CheckSingleInstance(const std::function<void()>& showError) {
    // A lock that cannot be created says nothing about other instances: go on.
    if (AcquireInstanceLock() != InstanceLockResult::HeldElsewhere) return true;
    if (showError) showError();
    return false;
}

AuxiliaryWindows CreateAuxiliaryWindows(TForm1& form) {
    AuxiliaryWindows w;
    w.keyboard = new OnScreenKeyboard;
    w.keyboard->hide();
    w.errorWindow = new SecondInstanceWindow;
    w.errorWindow->hide();
    w.focus = new TFocusForm;
    w.focus->hide();
    form.FocusForm = w.focus;

    // Both dialogs type with the same keyboard.
    if (form.Form5) form.Form5->attachKeyboard(w.keyboard);
    if (form.ConfText) form.ConfText->attachKeyboard(w.keyboard);
    return w;
}
