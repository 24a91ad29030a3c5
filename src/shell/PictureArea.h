#pragma once
// The live picture: the frame as the preview renderer draws it, in a scroll box that
// centres a picture smaller than itself. A left click on the picture chooses the focus
// point of the focus aid.
#include <QScrollArea>
#include <functional>
#include <opencv2/core.hpp>
#include <string>

#include "display/PictureView.h"
#include "display/PreviewRenderer.h"

class FocusWindow;
struct Frame;
class PreviewRenderer;

class PictureArea : public QScrollArea {
    Q_OBJECT
  public:
    PictureArea(PreviewRenderer& renderer, QWidget* parent = nullptr);

    // Draws a frame image (8-bit grey or BGR) through the renderer; the focus window's
    // picture too when it is shown. False when the image could not be drawn.
    bool showFrame(const cv::Mat& image, FocusWindow* focus);
    // Shows a camera frame drawn straight from its samples, only its part in view
    // (PreviewRenderer::renderRegion; the view draws more of it as it scrolls), or reduced
    // whole (renderReduced). False where showFrame is to be used instead: with the focus
    // window shown.
    bool showDirect(const Frame& frame, bool colour, FocusWindow* focus);
    // A blank grey picture of the sensor's size, before the first frame.
    void showBlank(int width, int height);

    // Draws the picture shown in parts again (a new stretch or clip mark shows at once, also
    // between the frames of long exposures).
    void redraw();
    // The reticle over the picture.
    void setReticle(Reticle reticle);
    // The tracked disc's marks and the steady preview's shift (PictureView::setTrackMarks).
    void setTrackMarks(std::optional<QPointF> disc, QPoint shift) {
        picture_->setTrackMarks(disc, shift);
    }

    // One of the ZOOM menu's percentages; the view goes back to the top left.
    void setZoom(int percent);
    // While a recording runs, clicks do not move the focus point.
    void setRecordingQuery(std::function<bool()> recording) { recording_ = std::move(recording); }

    const PictureView* picture() const { return picture_; }

  signals:
    // The user chose a new focus point (already given to the renderer).
    void focusPointChosen();

  protected:
    bool viewportEvent(QEvent* event) override;

  private:
    void pictureClicked(Qt::MouseButton button, int x, int y);
    // The part of the picture in view (the steady preview's shift taken off), in picture
    // pixels; the whole picture while the box is not on screen (its size is not known yet).
    QRect visibleArea(QSize picture) const;
    // Draws the part in view of regionSource_; false when it could not be drawn.
    bool drawRegion();
    // The view scrolled or changed size: draws the part now in view.
    void drawMoreOfRegion();

    PreviewRenderer& renderer_;
    PictureView* picture_ = nullptr;
    std::function<bool()> recording_;
    // The samples of the picture drawn in parts, while it is the one shown.
    PreviewSource regionSource_;
    int regionZoom_ = 100;
};
