#include "display/PictureView.h"

#include <QMouseEvent>
#include <QPainter>

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::SetAutoSize(bool on) {
    autoSize_ = on;
    if (on && !bitmap_.isNull()) resize(bitmap_.size());
}

void PictureView::Repaint() {
    if (autoSize_ && !bitmap_.isNull() && size() != bitmap_.size()) resize(bitmap_.size());
    update();
}

QSize PictureView::sizeHint() const {
    return bitmap_.isNull() ? QWidget::sizeHint() : bitmap_.size();
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    if (bitmap_.isNull()) {
        painter.fillRect(area, palette().window());
        return;
    }
    painter.drawImage(area.topLeft(), bitmap_, area);
    // Whatever the image does not cover shows the background.
    const QRegion rest = QRegion(area).subtracted(QRegion(bitmap_.rect()));
    for (const QRect& r : rest) painter.fillRect(r, palette().window());
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit MouseDown(event->button(), event->modifiers(), p.x(), p.y());
    QWidget::mousePressEvent(event);
}
