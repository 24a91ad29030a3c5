#pragma once
// Small building blocks shared by the main window's panels.
#include <QIcon>
#include <QString>
#include <QStringList>

class QAction;
class QActionGroup;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QWidget;

// A label without margins.
QLabel* smallLabel(const QString& text, QWidget* parent);
// A raised frame named `name`.
QFrame* raisedPanel(const QString& name, QWidget* parent);
// A numeric field: digits only, at most 5 of them, right-aligned, "0" as hint when empty.
QLineEdit* digitsEdit(const QString& name, QWidget* parent);
// A unit selector with `units`, showing item `index`.
QComboBox* unitBox(const QString& name, const QStringList& units, int index, QWidget* parent);
// A menu item named `name`; checkable and in `group` when a group is given.
QAction* menuItem(QMenu* menu, const QString& name, const QString& caption,
                  QActionGroup* group = nullptr);
// Opens `menu` as the context menu of `widget` (right click).
void attachContextMenu(QWidget* widget, QMenu* menu);
// The pictures of the output format items: a strip of film (SER, AVI) or a single frame
// (FIT, BMP); 25 x 25 pixels.
QIcon captureFormatIcon(bool sequence);
// The cancel button's picture: a stop sign, since the button has no caption.
QIcon stopIcon();
