#include "shell/PictureArea.h"

#include <QEvent>
#include <QScrollBar>

#include "display/FocusWindow.h"
#include "display/PictureView.h"
#include "display/PreviewRenderer.h"
#include "platform/Clock.h"

PictureArea::PictureArea(PreviewRenderer& renderer, QWidget* parent)
    : QScrollArea(parent), renderer_(renderer) {
    setObjectName(QStringLiteral("ScrollBox1"));
    setWidgetResizable(false);
    setBackgroundRole(QPalette::Dark);
    // The scroll area itself centres a picture that is smaller than its view, whenever
    // either of them changes size.
    setAlignment(Qt::AlignCenter);
    picture_ = new PictureView;
    picture_->setObjectName(QStringLiteral("Image1"));
    picture_->setAutoSize(true);
    picture_->setCursor(Qt::CrossCursor);
    setWidget(picture_);
    connect(picture_, &PictureView::clicked, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
                pictureClicked(button, x, y);
            });
    // A picture drawn in parts draws the part that scrolls into view.
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] { drawMoreOfRegion(); });
}

bool PictureArea::viewportEvent(QEvent* event) {
    const bool handled = QScrollArea::viewportEvent(event);
    if (event->type() == QEvent::Resize) drawMoreOfRegion();
    return handled;
}

void PictureArea::drawMoreOfRegion() {
    // At the zoom it was drawn at: a new zoom takes effect with the next frame.
    if (!regionSource_.empty() && renderer_.zoomPercent() == regionZoom_) drawRegion();
}

QRect PictureArea::visibleArea(QSize picture) const {
    const QRect whole(QPoint(0, 0), picture);
    if (!isVisible()) return whole;
    // The steady preview draws the picture shifted: the pixels in view are those the shift
    // brings there.
    const QPoint at(horizontalScrollBar()->value(), verticalScrollBar()->value());
    return QRect(at - picture_->shift(), viewport()->size()) & whole;
}

bool PictureArea::drawRegion() {
    QImage unused;
    const QSize picture =
        zoomedSize(regionSource_.raw.cols, regionSource_.raw.rows, renderer_.zoomPercent());
    const std::optional<PictureRegion> region =
        renderer_.renderRegion(regionSource_, visibleArea(picture), picture_->image(), unused);
    if (!region) return false;
    picture_->updateRegion(region->origin, region->pictureSize);
    return true;
}

bool PictureArea::showFrame(const cv::Mat& image, FocusWindow* focus) {
    regionSource_ = {};
    const bool focusVisible = focus && focus->isVisible();
    QImage unused;
    QImage& focusImage = focus ? focus->image() : unused;
    if (!renderer_.render(image, picture_->image(), focusImage, focusVisible)) return false;
    picture_->updateImage();
    if (focusVisible) {
        focus->repaintImage();
        const QPoint point = renderer_.focusPoint();
        focus->measure(image, point, monotonicMs());
    }
    return true;
}

bool PictureArea::showDirect(const Frame& frame, bool colour, FocusWindow* focus) {
    const bool focusVisible = focus && focus->isVisible();
    if (focusVisible) return false;  // the focus aid reads the whole frame's picture
    regionSource_ = previewSourceOf(frame, colour);
    regionZoom_ = renderer_.zoomPercent();
    if (drawRegion()) return true;
    regionSource_ = {};
    QImage unused;
    QImage& focusImage = focus ? focus->image() : unused;
    if (!renderer_.renderReduced(frame, colour, picture_->image(), focusImage, focusVisible))
        return false;
    picture_->updateImage();
    return true;
}

void PictureArea::showBlank(int width, int height) {
    regionSource_ = {};
    QImage blank(std::max(width, 1), std::max(height, 1), QImage::Format_Indexed8);
    blank.setColorTable(renderer_.palette());
    blank.fill(0);
    picture_->setImage(blank);
}

void PictureArea::redraw() {
    drawMoreOfRegion();
}

void PictureArea::setReticle(Reticle reticle) {
    picture_->setReticle(reticle);
}

void PictureArea::setZoom(int percent) {
    if (!renderer_.setZoom(percent)) return;
    // The next rendered frame takes the new size; the view goes back to the top left.
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void PictureArea::pictureClicked(Qt::MouseButton button, int x, int y) {
    const std::optional<QPoint> point =
        focusPointFromClick(button == Qt::LeftButton, recording_ && recording_(), x, y,
                            picture_->size(), renderer_.zoomPercent());
    if (!point) return;
    renderer_.setFocusPoint(*point);
    emit focusPointChosen();
}
