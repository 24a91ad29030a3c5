#pragma once
// Preview rendering: the display state, the grey palette of monochrome frames, the zoom
// and the centring of the picture in its scroll box. Everything here runs on the window
// thread.
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRgb>
#include <QSize>
#include <cstdint>
#include <opencv2/core.hpp>

class StampOverlay;
class TFocusForm;

// Display state (window thread only).
extern int32_t ZoomPercent;      // 25, 50, 100 or 200; start 100
extern int32_t BlackLevel;       // indices up to and including this show black; start 0
extern int32_t WhiteLevel;       // indices above this show white; start 255
extern int32_t SaturationLimit;  // indices at or above this show SaturationShade; start 255
extern int32_t SaturationShade;  // grey of the saturated indices; start 255

// 256 greys for a QImage::Format_Indexed8 picture: black up to `black`, a linear ramp
// (rounded halves to even) up to `white`, white above it, and `shade` from `limit` on.
// Equal black and white levels raise white by one.
QList<QRgb> BuildLevelsPalette(int black, int white, int limit, int shade);

// The picture size of a width x height frame at a zoom: Round(zoom * size / 100), at
// least one pixel in each direction.
QSize ZoomedSize(int width, int height, int zoomPercent);

// The four choices of the ZOOM menu, in menu order.
struct ZoomChoice {
    const char* item;     // handler name stem, e.g. "N251"
    const char* caption;  // "25%"
    int percent;
};
inline constexpr ZoomChoice kZoomChoices[4] = {
    {"N251", "25%", 25}, {"N501", "50%", 50}, {"N1001", "100%", 100}, {"N2001", "200%", 200}};

// The effect of the zoom commands (N251Click ... N2001Click): sets ZoomPercent. Returns
// false and changes nothing for a percentage that is not a menu choice. The caller then
// scrolls both scroll bars to 0; the next rendered frame takes the new size.
bool ApplyZoom(int percent);

// Draws one frame image (8-bit, 1 channel or 3 channels in BGR order) into `picture`:
// sizes it to the zoom, makes it Indexed8 with a fresh levels palette (grey) or BGR888
// (colour), draws the overlay text into the frame (when `stamp` is given and visible),
// and resamples the frame nearest
// neighbour straight into the picture's memory. `focusPicture` (289 x 289) receives the
// same pixel format and palette; when `focusVisible` it is also filled with the focus
// region. The frame is left unchanged apart from the overlay text. Returns false, and
// touches nothing, for an empty frame or one of another type.
bool RenderPreview(cv::Mat& frame, QImage& picture, QImage& focusPicture, bool focusVisible,
                   const StampOverlay* stamp = nullptr);

// The same for the main window: the focus picture is the focus window's, which is
// repainted when it is visible. `focus` may be null (no focus window yet). The caller
// repaints its own picture control.
bool RenderPreview(cv::Mat& frame, QImage& picture, TFocusForm* focus,
                   const StampOverlay* stamp = nullptr);

// positionImage: the picture's left/top in a scroll box of outer size `scrollOuter`: centred
// where the picture is smaller than the box, 0 where it is not.
QPoint PositionImage(QSize bitmap, QSize scrollOuter);

// Timer2Timer: the picture's new left/top for a scroll box client area of `client`.
// A coordinate is centred where the client is larger than the picture and kept as
// `current` where it is not. (When no recording runs the caller also hides the cancel
// button.)
QPoint Timer2Position(QSize client, QSize picture, QPoint current);
