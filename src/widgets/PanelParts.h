#pragma once
// Small building blocks shared by the main window's panels.
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
QLabel* SmallLabel(const QString& text, QWidget* parent);
// A raised frame named `name`.
QFrame* RaisedPanel(const QString& name, QWidget* parent);
// A numeric field: digits only, at most 5 of them, right-aligned, "0" as hint when empty.
QLineEdit* DigitsEdit(const QString& name, QWidget* parent);
// A unit selector with `units`, showing item `index`.
QComboBox* UnitBox(const QString& name, const QStringList& units, int index, QWidget* parent);
// A menu item named `name`; checkable and in `group` when a group is given.
QAction* MenuItem(QMenu* menu, const QString& name, const QString& caption,
                  QActionGroup* group = nullptr);
// Opens `menu` as the context menu of `widget` (right click).
void AttachContextMenu(QWidget* widget, QMenu* menu);
