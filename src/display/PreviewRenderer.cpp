#include "display/PreviewRenderer.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "display/FocusWindow.h"
#include "display/PictureView.h"
#include "display/StampOverlay.h"
#include "platform/Rounding.h"

QList<QRgb> buildLevelsPalette(int black, int white, int limit, int shade) {
    return displayPalette(DisplayLevels{black, white, limit, shade, 1.0}, false, false);
}

QSize zoomedSize(int width, int height, int zoomPercent) {
    const auto scaled = [zoomPercent](int v) {
        const int64_t r = roundEven(static_cast<double>(zoomPercent) * v / 100.0);
        return static_cast<int>(std::clamp<int64_t>(r, 1, 1 << 20));
    };
    return QSize(scaled(width), scaled(height));
}

bool PreviewRenderer::setZoom(int percent) {
    for (const ZoomChoice& c : kZoomChoices) {
        if (c.percent == percent) {
            zoom_ = percent;
            return true;
        }
    }
    return false;
}

void PreviewRenderer::setLevels(const DisplayLevels& levels) {
    if (levels == levels_) return;
    levels_ = levels;
    tableBits_ = 0;
}

void PreviewRenderer::setShowClipped(bool on) {
    if (on == showClipped_) return;
    showClipped_ = on;
    tableBits_ = 0;
}

QList<QRgb> PreviewRenderer::palette() const {
    return displayPalette(levels_, false, showClipped_);
}

const std::vector<uint8_t>* PreviewRenderer::sampleTable(int bits, bool colour) const {
    if (!stretchesSamples(levels_, showClipped_)) return nullptr;
    if (!colour && bits <= 8) return nullptr;
    const int b = std::clamp(bits, 8, 16);
    if (tableBits_ != b) {
        table_ = displayTable(levels_, b, showClipped_);
        tableBits_ = b;
    }
    return &table_;
}

bool PreviewRenderer::render(const cv::Mat& frame, QImage& picture, QImage& focusPicture,
                             bool focusVisible) const {
    if (frame.empty() || frame.depth() != CV_8U) return false;
    const int channels = frame.channels();
    if (channels != 1 && channels != 3) return false;

    // 1. Size and 2. pixel format of the picture (and of the focus picture).
    const QSize size = zoomedSize(frame.cols, frame.rows, zoom_);
    if (!preparePictures(size, channels, picture, focusPicture)) return false;

    // 4. Nearest-neighbour resampling straight into the picture's memory. bits() is taken
    // anew for every frame: it detaches the image while another copy of it is alive.
    uchar* bits = picture.bits();
    cv::Mat target(size.height(), size.width(), CV_8UC(channels), bits,
                   static_cast<size_t>(picture.bytesPerLine()));
    cv::resize(frame, target, target.size(), 0, 0, cv::INTER_NEAREST);
    // A colour picture is stretched in its own memory (the frame's colour image stays as it
    // is); a grey one through its palette. The 8-bit view of a 16-bit frame reaches 255 from
    // a little below full scale, so here the clip mark may take a few more pixels.
    if (channels == 3) {
        if (const std::vector<uint8_t>* table = sampleTable(8, true)) {
            cv::LUT(target, cv::Mat(1, 256, CV_8U, const_cast<uint8_t*>(table->data())), target);
            if (showClipped_) paintClipped(target);
        }
    }

    // 6. Focus aid.
    if (focusVisible) focusStep(frame, focusPicture, focusPoint_.x(), focusPoint_.y());
    return true;
}

bool PreviewRenderer::preparePictures(QSize size, int channels, QImage& picture,
                                      QImage& focusPicture, bool stretched) const {
    const QImage::Format format = channels == 3 ? QImage::Format_BGR888 : QImage::Format_Indexed8;
    if (picture.size() != size || picture.format() != format) {
        picture = QImage(size, format);
        if (picture.isNull()) return false;  // out of memory: keep the frame, draw nothing
    }
    QList<QRgb> palette;
    if (channels == 1) {
        palette = displayPalette(levels_, stretched, showClipped_);
        picture.setColorTable(palette);
    }
    prepareFocusPicture(focusPicture, channels, palette);
    return true;
}

bool PreviewRenderer::renderReduced(const Frame& frame, bool colour, QImage& picture,
                                    QImage& focusPicture, bool focusVisible) const {
    if (zoom_ >= 100 || focusVisible || frame.rawImage.empty()) return false;
    if (!colour && frameDepth(&frame) == 8) return false;
    const int channels = colour ? 3 : 1;
    const QSize size = zoomedSize(frameWidth(&frame), frameHeight(&frame), zoom_);
    const std::vector<uint8_t>* table = sampleTable(frameDepth(&frame), colour);
    if (!preparePictures(size, channels, picture, focusPicture, table != nullptr)) return false;
    cv::Mat target(size.height(), size.width(), CV_8UC(channels), picture.bits(),
                   static_cast<size_t>(picture.bytesPerLine()));
    reducedImage8(frame, colour, target, table);
    if (colour && table && showClipped_) paintClipped(target);
    // A mono frame's samples carry the burnt text; a mosaic's do not.
    if (frame.stampBurnt && frame.pattern != ColorPattern::Mono)
        putStampText(target, frame.stampText);
    return true;
}

PreviewSource previewSourceOf(const Frame& frame, bool colour) {
    PreviewSource source;
    source.raw = frame.rawImage;
    source.pattern = frame.pattern;
    source.bitsPerSample = frame.bitsPerSample;
    source.colour = colour;
    if (colour && frame.stampBurnt && frame.pattern != ColorPattern::Mono)
        source.text = frame.stampText;
    return source;
}

std::optional<PictureRegion> PreviewRenderer::renderRegion(const PreviewSource& source,
                                                           QRect visible, QImage& picture,
                                                           QImage& focusPicture) const {
    if (source.empty()) return std::nullopt;
    const int width = source.raw.cols, height = source.raw.rows;
    // From 100 %: each frame pixel is a square of `scale` picture pixels. Below: each picture
    // pixel is the frame pixel at the top left of its `reduce` x `reduce` square, which only a
    // frame of whole squares maps the same way part by part (others are drawn whole).
    const int scale = zoom_ >= 100 ? zoom_ / 100 : 1;
    const int reduce = zoom_ >= 100 ? 1 : 100 / zoom_;
    if (width % reduce != 0 || height % reduce != 0) return std::nullopt;
    const QSize whole(width * scale / reduce, height * scale / reduce);
    visible &= QRect(QPoint(0, 0), whole);
    if (visible.isEmpty()) visible = QRect(0, 0, 1, 1);
    const int left = visible.left() / scale, top = visible.top() / scale;
    const int right = std::min(whole.width() / scale, (visible.right() + scale) / scale);
    const int bottom = std::min(whole.height() / scale, (visible.bottom() + scale) / scale);
    // The part in picture pixels of the frame's own size (before the scale up).
    const cv::Rect part8(left, top, right - left, bottom - top);
    const int channels = source.colour ? 3 : 1;
    const QSize size(part8.width * scale, part8.height * scale);
    const int bits = source.raw.depth() == CV_16U ? source.bitsPerSample : 8;
    const std::vector<uint8_t>* table = sampleTable(bits, source.colour);
    // Clipped pixels of a colour part are painted before the burnt text goes in.
    const bool paint = source.colour && table && showClipped_;
    if (!preparePictures(size, channels, picture, focusPicture, table != nullptr))
        return std::nullopt;
    cv::Mat target(size.height(), size.width(), CV_8UC(channels), picture.bits(),
                   static_cast<size_t>(picture.bytesPerLine()));
    try {
        if (reduce > 1) {
            // The samples under the part, reduced as the whole frame's picture is; the part
            // starts on a whole square, so on the frame's own mosaic phase. The text of a
            // burnt colour frame goes onto the reduced picture, as renderReduced puts it.
            Frame view;
            view.rawImage = source.raw(cv::Rect(part8.x * reduce, part8.y * reduce,
                                                part8.width * reduce, part8.height * reduce));
            view.pattern = source.pattern;
            view.bitsPerSample = source.bitsPerSample;
            reducedImage8(view, source.colour, target, table);
            if (paint) paintClipped(target);
            if (!source.text.empty())
                drawStampTextInPart(target, source.text, 255, cv::Point(left, top),
                                    cv::Size(whole.width(), whole.height()));
        } else {
            // A colour part is a demosaic of its own, never the frame's samples: the text of a
            // burnt colour frame is drawn into it at the frame's scale. A grey part at 100 %
            // goes through the table straight into the picture.
            if (scale == 1 && table && !source.colour) {
                mapSamples(source.raw(part8), *table, target);
                return PictureRegion{QPoint(left, top), whole};
            }
            cv::Mat part;
            croppedImage8(source.raw, source.pattern, source.bitsPerSample, source.colour, part8,
                          part, table);
            if (part.empty()) return std::nullopt;
            if (paint) paintClipped(part);
            if (!source.text.empty())
                drawStampTextInPart(part, source.text, 255, cv::Point(left, top),
                                    source.raw.size());
            cv::resize(part, target, target.size(), 0, 0, cv::INTER_NEAREST);
        }
    } catch (const cv::Exception&) {
        return std::nullopt;  // out of memory: the picture shows what it was given
    }
    return PictureRegion{QPoint(left * scale, top * scale), whole};
}
