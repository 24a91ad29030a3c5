#include "display/PreviewRenderer.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "display/FocusWindow.h"
#include "display/PictureView.h"
#include "display/StampOverlay.h"
#include "platform/Rounding.h"

QList<QRgb> buildLevelsPalette(int black, int white, int limit, int shade) {
    if (black == white) white += 1;
    const double scale = 255.0 / (white - black);
    QList<QRgb> palette;
    palette.reserve(256);
    for (int i = 0; i < 256; ++i) {
        int64_t v;
        if (i <= black) {
            v = 0;
        } else if (i > white) {
            v = 255;
        } else {
            v = roundEven((i - black) * scale);
        }
        if (i >= limit) v = shade;
        // A black level above the white one makes the ramp run backwards; keep every entry
        // a valid grey whatever the parameters.
        const int g = static_cast<int>(std::clamp<int64_t>(v, 0, 255));
        palette.append(qRgb(g, g, g));
    }
    return palette;
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

QList<QRgb> PreviewRenderer::palette() const {
    return buildLevelsPalette(levels_.black, levels_.white, levels_.saturationLimit,
                              levels_.saturationShade);
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

    // 6. Focus aid.
    if (focusVisible) focusStep(frame, focusPicture, focusPoint_.x(), focusPoint_.y());
    return true;
}

bool PreviewRenderer::preparePictures(QSize size, int channels, QImage& picture,
                                      QImage& focusPicture) const {
    const QImage::Format format = channels == 3 ? QImage::Format_BGR888 : QImage::Format_Indexed8;
    if (picture.size() != size || picture.format() != format) {
        picture = QImage(size, format);
        if (picture.isNull()) return false;  // out of memory: keep the frame, draw nothing
    }
    QList<QRgb> palette;
    if (channels == 1) {
        palette = this->palette();
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
    if (!preparePictures(size, channels, picture, focusPicture)) return false;
    cv::Mat target(size.height(), size.width(), CV_8UC(channels), picture.bits(),
                   static_cast<size_t>(picture.bytesPerLine()));
    reducedImage8(frame, colour, target);
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
    if (!preparePictures(size, channels, picture, focusPicture)) return std::nullopt;
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
            reducedImage8(view, source.colour, target);
            if (!source.text.empty())
                drawStampTextInPart(target, source.text, 255, cv::Point(left, top),
                                    cv::Size(whole.width(), whole.height()));
        } else {
            // A colour part is a demosaic of its own, never the frame's samples: the text of a
            // burnt colour frame is drawn into it at the frame's scale.
            cv::Mat part;
            croppedImage8(source.raw, source.pattern, source.bitsPerSample, source.colour, part8,
                          part);
            if (part.empty()) return std::nullopt;
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
