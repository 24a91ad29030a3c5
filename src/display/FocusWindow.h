#pragma once
// Focus aid: a small window that shows a 41 x 41 pixel square of the frame around a point
// the user clicked on the main picture, enlarged to 289 x 289.
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>

#include "display/FocusMeasure.h"

class FocusGraph;
class PictureView;
class QLabel;

inline constexpr int kFocusPictureSize = 289;
inline constexpr int kFocusMargin = 30;  // the point is kept this far from the edges

// The focus point from a click on the main picture: the point in frame pixels of a click at (x, y)
// on a picture of pictureSize shown at zoomPercent, held kFocusMargin from the frame's edges.
// Nothing (no point, window not to be shown) for a non-left button, during a recording,
// or for a zoom that is not positive.
std::optional<QPoint> focusPointFromClick(bool leftButton, bool recording, int x, int y,
                                          QSize pictureSize, int zoomPercent);

// The region around the point: columns px-20..px+20, rows py-21..py+19, cut to the frame.
// Empty when the point lies so far outside that nothing of the square is left.
cv::Rect focusRegion(int frameWidth, int frameHeight, int pointX, int pointY);

// Gives `focusPicture` the size 289 x 289 and the pixel format of a frame with `channels`
// channels; a grey picture gets `palette`. Keeps the image memory when nothing changes.
void prepareFocusPicture(QImage& focusPicture, int channels, const QList<QRgb>& palette);

// Resamples the focus region of `frame` nearest neighbour into `focusPicture` (already
// prepared for the frame's format). Returns false, leaving the picture alone, when the
// region is empty or the formats do not match. The frame is only read.
bool focusStep(const cv::Mat& frame, QImage& focusPicture, int pointX, int pointY);

// Where a window of `windowSize` goes when centred over `main`, moved inside `desktop`
// where possible.
QPoint centredOver(const QRect& main, QSize windowSize, const QRect& desktop);

// The "FOCUS AID" window: a tool window with a close button only, staying on top; its
// client area holds the 289 x 289 picture, below it the focus figure (HFD of a star or
// sharpness of an extended object) and a graph of its last values with the best one.
class FocusWindow : public QWidget {
    Q_OBJECT
  public:
    explicit FocusWindow(QWidget* parent = nullptr);

    // The enlarged picture; the preview renderer writes into it, then repaintImage().
    QImage& image();
    void repaintImage();

    // Shows the window: centred over `mainWindow` the first time, afterwards where it
    // was last. Does nothing to the position when it is visible already.
    void showOver(QWidget* mainWindow);

    // Measures the focus figure of `frame` (8-bit, grey or BGR) around `point`, at most
    // five times a second (`nowMs` from monotonicMs), and shows it with its history.
    void measure(const cv::Mat& frame, QPoint point, uint32_t nowMs);
    const FocusHistory& history() const { return history_; }

  private:
    PictureView* picture_ = nullptr;
    QLabel* figure_ = nullptr;
    FocusGraph* graph_ = nullptr;
    FocusHistory history_;
    bool shownBefore_ = false;
};
