#include "shell/ProgramBlock.h"

#include <QLineEdit>

#include "controls/FileName.h"
#include "controls/VKEY.h"
#include "display/ConfigOverlay.h"
#include "display/FocusWindow.h"
#include "platform/InstanceLock.h"
#include "shell/DoubleInst.h"
#include "shell/MainWindow.h"

bool CheckSingleInstance(const std::function<void()>& showError) {
    // A lock that cannot be created says nothing about other instances: go on.
    if (AcquireInstanceLock() != InstanceLockResult::HeldElsewhere) return true;
    if (showError) showError();
    return false;
}

TAuxWindows CreateAuxiliaryWindows(MainWindow& form) {
    TAuxWindows w;
    w.Keyboard = new TForm4;
    w.Keyboard->hide();
    w.ErrorWindow = new TForm6;
    w.ErrorWindow->hide();
    Form6 = w.ErrorWindow;
    w.Focus = new FocusWindow;
    w.Focus->hide();
    form.setFocusWindow(w.Focus);

    if (form.outputNameDialog()) form.outputNameDialog()->AttachKeyboard(w.Keyboard);
    QPointer<TForm4> keyboard(w.Keyboard);
    OverlayKeyboardToggle = [keyboard](QWidget* dialog, QLineEdit* edit) {
        if (!keyboard) return;
        keyboard->ShowBelow(dialog);
        if (edit) edit->setFocus();
    };
    OverlayKeyboardHide = [keyboard] {
        if (keyboard) keyboard->hide();
    };
    return w;
}
