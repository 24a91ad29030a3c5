#include "display/Measure.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "display/FocusWindow.h"
#include "display/Picture.h"
#include "display/StampOverlay.h"
#include "platform/Rounding.h"

int32_t ZoomPercent = 100;
int32_t BlackLevel = 0;
int32_t WhiteLevel = 255;
int32_t SaturationLimit = 255;
int32_t SaturationShade = 255;

QList<QRgb> BuildLevelsPalette(int black, int white, int limit, int shade) {
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
            v = Round((i - black) * scale);
        }
        if (i >= limit) v = shade;
        // A black level above the white one makes the ramp run backwards; keep every entry
        // a valid grey whatever the parameters.
        const int g = static_cast<int>(std::clamp<int64_t>(v, 0, 255));
        palette.append(qRgb(g, g, g));
    }
    return palette;
}

QSize ZoomedSize(int width, int height, int zoomPercent) {
    const auto scaled = [zoomPercent](int v) {
        const int64_t r = Round(static_cast<double>(zoomPercent) * v / 100.0);
        return static_cast<int>(std::clamp<int64_t>(r, 1, 1 << 20));
    };
    return QSize(scaled(width), scaled(height));
}

bool ApplyZoom(int percent) {
    for (const ZoomChoice& c : kZoomChoices) {
        if (c.percent == percent) {
            ZoomPercent = percent;
            return true;
        }
    }
    return false;
}

bool RenderPreview(cv::Mat& frame, QImage& picture, QImage& focusPicture, bool focusVisible,
                   const StampOverlay* stamp) {
    if (frame.empty() || frame.depth() != CV_8U) return false;
    const int channels = frame.channels();
    if (channels != 1 && channels != 3) return false;

    // 1. Size and 2. pixel format of the picture (and of the focus picture).
    const QSize size = ZoomedSize(frame.cols, frame.rows, ZoomPercent);
    const QImage::Format format = channels == 3 ? QImage::Format_BGR888 : QImage::Format_Indexed8;
    if (picture.size() != size || picture.format() != format) {
        picture = QImage(size, format);
        if (picture.isNull()) return false;  // out of memory: keep the frame, draw nothing
    }
    QList<QRgb> palette;
    if (channels == 1) {
        palette = BuildLevelsPalette(BlackLevel, WhiteLevel, SaturationLimit, SaturationShade);
        picture.setColorTable(palette);
    }
    PrepareFocusPicture(focusPicture, channels, palette);

    // 3. The overlay text goes into the frame itself.
    if (stamp) stamp->draw(frame);

    // 4. Nearest-neighbour resampling straight into the picture's memory. bits() is taken
    // anew for every frame: it detaches the image while another copy of it is alive.
    uchar* bits = picture.bits();
    cv::Mat target(size.height(), size.width(), CV_8UC(channels), bits,
                   static_cast<size_t>(picture.bytesPerLine()));
    cv::resize(frame, target, target.size(), 0, 0, cv::INTER_NEAREST);

    // 6. Focus aid.
    if (focusVisible) FocusStep(frame, focusPicture, FocusPointX, FocusPointY);
    return true;
}

bool RenderPreview(cv::Mat& frame, QImage& picture, TFocusForm* focus,
                   const StampOverlay* stamp) {
    if (!focus) {
        QImage unused;
        return RenderPreview(frame, picture, unused, false, stamp);
    }
    const bool visible = focus->isVisible();
    const bool done = RenderPreview(frame, picture, focus->PreviewImage(), visible, stamp);
    if (done && visible) focus->Preview->Repaint();
    return done;
}

QPoint PositionImage(QSize bitmap, QSize scrollOuter) {
    const int left =
        bitmap.width() < scrollOuter.width() ? (scrollOuter.width() - bitmap.width()) / 2 : 0;
    const int top =
        bitmap.height() < scrollOuter.height() ? (scrollOuter.height() - bitmap.height()) / 2 : 0;
    return QPoint(left, top);
}

QPoint Timer2Position(QSize client, QSize picture, QPoint current) {
    QPoint result = current;
    if (client.width() > picture.width()) result.setX((client.width() - picture.width()) / 2);
    if (client.height() > picture.height()) result.setY((client.height() - picture.height()) / 2);
    return result;
}
