#include "widgets/PanelParts.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
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

QIcon captureFormatIcon(bool sequence) {
    QPixmap pm(25, 25);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (sequence) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 40, 40));
        p.drawRect(2, 5, 21, 15);
        p.setBrush(Qt::white);
        for (int x = 4; x < 22; x += 4) {
            p.drawRect(x, 6, 2, 2);
            p.drawRect(x, 17, 2, 2);
        }
        p.setBrush(QColor(120, 170, 230));
        p.drawRect(5, 9, 6, 7);
        p.drawRect(14, 9, 6, 7);
    } else {
        p.setPen(QPen(QColor(40, 40, 40), 1.5));
        p.setBrush(QColor(20, 20, 60));
        p.drawRect(QRectF(3.5, 4.5, 18, 16));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 250, 200));
        p.drawEllipse(QPointF(12.5, 12.5), 3, 3);
    }
    return QIcon(pm);
}

QIcon stopIcon() {
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    p.drawRect(3, 3, 14, 14);
    return QIcon(pm);
}
