#include "display/PictureView.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

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
    if (reticle_ == Reticle::Off) return;
    // Over the picture, not into it: thin red lines, a dark edge beside each so that they
    // show on a bright disc as on the black sky.
    const QSizeF whole = pictureSize_;
    const QPointF centre(whole.width() / 2.0, whole.height() / 2.0);
    painter.setRenderHint(QPainter::Antialiasing, reticle_ == Reticle::Circles);
    for (const QPen& pen : {QPen(QColor(0, 0, 0, 160), 3), QPen(QColor(255, 40, 40, 220), 1)}) {
        painter.setPen(pen);
        painter.drawLine(QPointF(0, centre.y()), QPointF(whole.width(), centre.y()));
        painter.drawLine(QPointF(centre.x(), 0), QPointF(centre.x(), whole.height()));
        if (reticle_ != Reticle::Circles) continue;
        const double side = std::min(whole.width(), whole.height());
        for (int k = 1; k <= 4; ++k) painter.drawEllipse(centre, side * k / 10.0, side * k / 10.0);
    }
}

void PictureView::setReticle(Reticle reticle) {
    if (reticle == reticle_) return;
    reticle_ = reticle;
    update();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit clicked(event->button(), event->modifiers(), p.x(), p.y());
    QWidget::mousePressEvent(event);
}
