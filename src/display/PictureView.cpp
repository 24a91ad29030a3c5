#include "display/PictureView.h"

#include <QMouseEvent>
#include <QPainter>

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setAutoSize(bool on) {
    autoSize_ = on;
    if (on && !image_.isNull()) resize(image_.size());
}

void PictureView::setImage(const QImage& image) {
    image_ = image;
    updateImage();
}

void PictureView::updateImage() {
    if (autoSize_ && !image_.isNull() && size() != image_.size()) resize(image_.size());
    update();
}

QSize PictureView::sizeHint() const {
    return image_.isNull() ? QWidget::sizeHint() : image_.size();
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    if (image_.isNull()) {
        painter.fillRect(area, palette().window());
        return;
    }
    painter.drawImage(area.topLeft(), image_, area);
    // Whatever the image does not cover shows the background.
    const QRegion rest = QRegion(area).subtracted(QRegion(image_.rect()));
    for (const QRect& r : rest) painter.fillRect(r, palette().window());
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit clicked(event->button(), event->modifiers(), p.x(), p.y());
    QWidget::mousePressEvent(event);
}
