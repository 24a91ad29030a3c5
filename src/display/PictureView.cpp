#include "display/PictureView.h"

#include <QMouseEvent>
#include <QPainter>

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setAutoSize(bool on) {
    autoSize_ = on;
    if (on && !image_.isNull()) resize(pictureSize_);
}

void PictureView::setImage(const QImage& image) {
    image_ = image;
    updateImage();
}

void PictureView::updateImage() {
    updateRegion(QPoint(0, 0), image_.size());
}

void PictureView::updateRegion(QPoint origin, QSize pictureSize) {
    origin_ = origin;
    pictureSize_ = pictureSize;
    if (autoSize_ && !image_.isNull() && size() != pictureSize_) resize(pictureSize_);
    update();
}

QSize PictureView::sizeHint() const {
    return image_.isNull() ? QWidget::sizeHint() : pictureSize_;
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    if (image_.isNull()) {
        painter.fillRect(area, palette().window());
        return;
    }
    const QRect covered = image_.rect().translated(origin_);
    painter.drawImage(area.topLeft(), image_, area.translated(-origin_));
    // Whatever the image does not cover shows the background.
    const QRegion rest = QRegion(area).subtracted(QRegion(covered));
    for (const QRect& r : rest) painter.fillRect(r, palette().window());
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit clicked(event->button(), event->modifiers(), p.x(), p.y());
    QWidget::mousePressEvent(event);
}
