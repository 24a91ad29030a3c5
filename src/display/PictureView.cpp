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
    const QPoint at = origin_ + shift_;
    const QRect covered = image_.rect().translated(at);
    painter.drawImage(covered.intersected(area).topLeft(), image_,
                      covered.intersected(area).translated(-at));
    // Whatever the image does not cover shows the background.
    const QRegion rest = QRegion(area).subtracted(QRegion(covered));
    for (const QRect& r : rest) painter.fillRect(r, palette().window());
    drawTrackMarks(painter);
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

void PictureView::drawTrackMarks(QPainter& painter) const {
    if (!disc_) return;
    const QPointF centre(pictureSize_.width() / 2.0, pictureSize_.height() / 2.0);
    const QPointF disc = *disc_ + QPointF(shift_);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Each mark with a dark edge, so that it shows on the bright disc and on the black sky.
    for (const bool edge : {true, false}) {
        const int width = edge ? 3 : 1;
        painter.setPen(QPen(edge ? QColor(0, 0, 0, 160) : QColor(60, 220, 90), width));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(disc, 6.0, 6.0);
        painter.drawLine(disc - QPointF(10, 0), disc + QPointF(10, 0));
        painter.drawLine(disc - QPointF(0, 10), disc + QPointF(0, 10));
        painter.setPen(QPen(edge ? QColor(0, 0, 0, 160) : QColor(250, 210, 40), width));
        painter.drawLine(centre - QPointF(6, 6), centre + QPointF(6, 6));
        painter.drawLine(centre - QPointF(6, -6), centre + QPointF(6, -6));
    }
    painter.restore();
}

void PictureView::setTrackMarks(std::optional<QPointF> disc, QPoint shift) {
    if (!disc) shift = QPoint();
    if (disc == disc_ && shift == shift_) return;
    disc_ = disc;
    shift_ = shift;
    update();
}

void PictureView::setReticle(Reticle reticle) {
    if (reticle == reticle_) return;
    reticle_ = reticle;
    update();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint() - shift_;
    emit clicked(event->button(), event->modifiers(), p.x(), p.y());
    QWidget::mousePressEvent(event);
}
