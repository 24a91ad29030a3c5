#pragma once
// Preview rendering: the preview's state (zoom, grey levels, focus point, overlay), the
// grey palette of monochrome frames, the zoom and the centring of the picture in its
// scroll box. Everything here runs on the window thread.
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "acquisition/Frame.h"
#include "display/DisplayStretch.h"

// 256 greys for a QImage::Format_Indexed8 picture: black up to `black`, a linear ramp
// (rounded halves to even) up to `white`, white above it, and `shade` from `limit` on.
// Equal black and white levels raise white by one.
QList<QRgb> buildLevelsPalette(int black, int white, int limit, int shade);

// The picture size of a width x height frame at a zoom: roundEven(zoom * size / 100), at
// least one pixel in each direction.
QSize zoomedSize(int width, int height, int zoomPercent);

// The four choices of the ZOOM menu, in menu order.
struct ZoomChoice {
    const char* item;     // the menu item's object name, e.g. "N251"
    const char* caption;  // "25%"
    int percent;
};
inline constexpr ZoomChoice kZoomChoices[4] = {
    {"N251", "25%", 25}, {"N501", "50%", 50}, {"N1001", "100%", 100}, {"N2001", "200%", 200}};

// What a picture at 100 % or more is drawn from: the frame's samples, shared with the frame
// (the matrix counts its users), so that the part of the picture that scrolls into view can
// be drawn while the frame itself has gone on to the recorder or been freed.
struct PreviewSource {
    cv::Mat raw;
    ColorPattern pattern = ColorPattern::Mono;
    int bitsPerSample = 8;
    bool colour = false;
    std::string text;  // the burnt-in text a colour picture gets; a mono frame's samples have it
    bool empty() const { return raw.empty(); }
};
PreviewSource previewSourceOf(const Frame& frame, bool colour);

// A part of the picture of a frame: the image, where its top-left pixel lies in the whole
// picture, and the whole picture's size.
struct PictureRegion {
    QPoint origin;
    QSize pictureSize;
};

// Draws frames into the main picture and the focus picture. It owns what the user chose
// for the preview: zoom, the display stretch (levels), the clip mark and the focus point.
// The stretch and the clip mark go through lookup tables on the samples of the part drawn
// (for 8-bit grey frames through the palette alone); the frame's samples are never touched.
class PreviewRenderer {
  public:
    int zoomPercent() const { return zoom_; }
    // One of the ZOOM menu's choices; false, changing nothing, for anything else. The next
    // rendered frame takes the new size.
    bool setZoom(int percent);

    const DisplayLevels& levels() const { return levels_; }
    void setLevels(const DisplayLevels& levels);
    // Samples at the camera's full scale are painted in kClippedColor.
    bool showClipped() const { return showClipped_; }
    void setShowClipped(bool on);
    // The palette of a grey picture whose indices are 8-bit samples.
    QList<QRgb> palette() const;

    // The focus point in frame pixels; (-1, 0) until the user clicks on the picture.
    QPoint focusPoint() const { return focusPoint_; }
    void setFocusPoint(QPoint point) { focusPoint_ = point; }

    // Draws one frame image (8-bit, 1 channel or 3 channels in BGR order) into `picture`:
    // sizes it to the zoom, makes it Indexed8 with a fresh levels palette (grey) or BGR888
    // (colour), and resamples the frame nearest neighbour straight into the picture's
    // memory. `focusPicture` (289 x 289) receives the same pixel format and palette; when
    // `focusVisible` it is also filled with the region around the focus point. The frame is
    // left unchanged (the overlay text is in it already when the overlay stage burnt it).
    // Returns false, and touches nothing, for an empty frame or one of another type.
    bool render(const cv::Mat& frame, QImage& picture, QImage& focusPicture,
                bool focusVisible) const;

    // Below 100 % zoom: draws a camera frame (`colour`: demosaiced) into `picture` straight
    // from its samples at the picture's size (reducedImage8), instead of converting and
    // demosaicing the whole frame only to show a quarter or a sixteenth of it; the overlay
    // text of a burnt colour mosaic (whose samples do not carry it) goes into the picture.
    // Returns false, touching nothing, where render() is to be used: at 100 % and more, with
    // the focus picture visible (it shows the frame's own pixels), and for 8-bit grey frames,
    // which are their own 8-bit view (render reads only the pixels it shows).
    bool renderReduced(const Frame& frame, bool colour, QImage& picture, QImage& focusPicture,
                       bool focusVisible) const;

    // Draws into `picture` only the part `visible` of the whole picture (in its pixels, as
    // the scroll box shows it), converting and demosaicing only the frame pixels under it
    // (below 100 %: reducing them as renderReduced does): a sensor of 12 megapixels costs
    // what its visible part does. Returns where the part lies; nullopt for an empty source,
    // when memory runs out, and below 100 % for a frame that is no whole number of the
    // reduction's squares (renderReduced draws it whole).
    std::optional<PictureRegion> renderRegion(const PreviewSource& source, QRect visible,
                                              QImage& picture, QImage& focusPicture) const;

  private:
    // Sizes `picture` to `size` in the pixel format of `channels` (with the levels palette
    // for grey) and gives the focus picture the same; false when out of memory.
    // `stretched`: the picture's indices are display values already (the identity palette).
    bool preparePictures(QSize size, int channels, QImage& picture, QImage& focusPicture,
                         bool stretched = false) const;
    // The display table for samples of `bits` (kept until the stretch changes), or nullptr
    // where the samples are drawn plain: no stretch and no clip mark, or 8-bit grey samples,
    // which the palette stretches at no cost.
    const std::vector<uint8_t>* sampleTable(int bits, bool colour) const;

    int zoom_ = 100;
    DisplayLevels levels_;
    bool showClipped_ = false;
    mutable std::vector<uint8_t> table_;
    mutable int tableBits_ = 0;  // the bits table_ was made for; 0: none
    QPoint focusPoint_{-1, 0};
};
