#pragma once
// The base of the dialogs with an edit field that the on-screen keyboard types into: a
// button shows or hides the keyboard under the dialog, and hiding the dialog hides it.
#include <QDialog>

class QLineEdit;
class QToolButton;
class OnScreenKeyboard;

class KeyboardDialog : public QDialog {
    Q_OBJECT
  public:
    using QDialog::QDialog;

    // Lets `keyboard` serve this dialog: the keyboard button toggles it under the dialog and
    // hiding the dialog hides it. Several dialogs may share one keyboard.
    void attachKeyboard(OnScreenKeyboard* keyboard);

    // The keyboard button's action: asks for the keyboard under this dialog, then gives the
    // focus back to the edit field its keys type into.
    void toggleKeyboard();

  signals:
    void keyboardToggleRequested(QWidget* dialog);
    void keyboardHideRequested();

  protected:
    // Creates the keyboard button (no focus, the keyboard picture of `iconSize`) whose keys
    // type into `target`.
    QToolButton* addKeyboardButton(const QString& objectName, const QRect& geometry,
                                   const QSize& iconSize, const QString& toolTip,
                                   QLineEdit* target);
    void hideEvent(QHideEvent* event) override;
    // The edit field the keyboard's keys type into from now on.
    void setKeyTarget(QLineEdit* target) { keyTarget_ = target; }

  private:
    QLineEdit* keyTarget_ = nullptr;
};
