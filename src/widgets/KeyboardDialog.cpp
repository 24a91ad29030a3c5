#include "widgets/KeyboardDialog.h"

#include <QHideEvent>
#include <QLineEdit>
#include <QToolButton>

#include "widgets/OnScreenKeyboard.h"

void KeyboardDialog::attachKeyboard(OnScreenKeyboard* keyboard) {
    if (!keyboard) return;
    connect(this, &KeyboardDialog::keyboardToggleRequested, keyboard,
            &OnScreenKeyboard::toggleBelow);
    connect(this, &KeyboardDialog::keyboardHideRequested, keyboard, &QWidget::hide);
}

void KeyboardDialog::toggleKeyboard() {
    emit keyboardToggleRequested(this);
    // The keyboard's keys go to the focused widget: the edit field of this dialog.
    activateWindow();
    if (keyTarget_) keyTarget_->setFocus(Qt::OtherFocusReason);
}

QToolButton* KeyboardDialog::addKeyboardButton(const QString& objectName, const QRect& geometry,
                                               const QSize& iconSize, const QString& toolTip,
                                               QLineEdit* target) {
    keyTarget_ = target;
    auto* button = new QToolButton(this);
    button->setObjectName(objectName);
    button->setGeometry(geometry);
    button->setIcon(keyboardButtonIcon());
    button->setIconSize(iconSize);
    button->setToolTip(toolTip);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QToolButton::clicked, this, &KeyboardDialog::toggleKeyboard);
    return button;
}

void KeyboardDialog::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) emit keyboardHideRequested();  // not when only minimised
}
