#pragma once
// The live picture: the frame as the preview renderer draws it, in a scroll box that
// centres a picture smaller than itself. A left click on the picture chooses the focus
// point of the focus aid.
#include <QScrollArea>
#include <functional>
#include <opencv2/core.hpp>
#include <string>

class FocusWindow;
struct Frame;
class PictureView;
class PreviewRenderer;

class PictureArea : public QScrollArea {
    Q_OBJECT
  public:
    PictureArea(PreviewRenderer& renderer, QWidget* parent = nullptr);

    // Draws a frame image (8-bit grey or BGR) through the renderer; the focus window's
    // picture too when it is shown. False when the image could not be drawn.
    bool showFrame(const cv::Mat& image, FocusWindow* focus);
    // Shows a camera frame drawn straight from its samples at a reduced zoom
    // (PreviewRenderer::renderReduced); false where showFrame is to be used instead.
    bool showReduced(const Frame& frame, bool colour, FocusWindow* focus);
    // A blank grey picture of the sensor's size, before the first frame.
    void showBlank(int width, int height);

    // One of the ZOOM menu's percentages; the view goes back to the top left.
    void setZoom(int percent);
    // While a recording runs, clicks do not move the focus point.
    void setRecordingQuery(std::function<bool()> recording) { recording_ = std::move(recording); }

    const PictureView* picture() const { return picture_; }

  signals:
    // The user chose a new focus point (already given to the renderer).
    void focusPointChosen();

  private:
    void pictureClicked(Qt::MouseButton button, int x, int y);

    PreviewRenderer& renderer_;
    PictureView* picture_ = nullptr;
    std::function<bool()> recording_;
};
