#include "widgets/PanelParts.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpressionValidator>

QLabel* smallLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setContentsMargins(0, 0, 0, 0);
    return label;
}

QFrame* raisedPanel(const QString& name, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(name);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    return frame;
}

QLineEdit* digitsEdit(const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaxLength(5);
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edit->setPlaceholderText(QStringLiteral("0"));
    edit->setFixedWidth(56);
    return edit;
}

QComboBox* unitBox(const QString& name, const QStringList& units, int index, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(units);
    box->setCurrentIndex(index);
    return box;
}

QAction* menuItem(QMenu* menu, const QString& name, const QString& caption, QActionGroup* group) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (group) {
        a->setCheckable(true);
        group->addAction(a);
    }
    return a;
}

void attachContextMenu(QWidget* widget, QMenu* menu) {
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(widget, &QWidget::customContextMenuRequested, menu,
                     [widget, menu](const QPoint& p) { menu->popup(widget->mapToGlobal(p)); });
}
