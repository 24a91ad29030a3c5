#include "display/FocusWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "display/FocusGraph.h"
#include "display/PictureView.h"

std::optional<QPoint> focusPointFromClick(bool leftButton, bool recording, int x, int y,
                                          QSize pictureSize, int zoomPercent) {
    if (!leftButton || recording || zoomPercent <= 0) return std::nullopt;
    // Integer division truncating toward zero, in 64 bits so no size can overflow.
    const auto toFrame = [zoomPercent](int v) {
        return static_cast<int>(static_cast<int64_t>(v) * 100 / zoomPercent);
    };
    const int w = toFrame(pictureSize.width());
    const int h = toFrame(pictureSize.height());
    int fx = toFrame(x);
    int fy = toFrame(y);
    // Lower bound first, then the upper one: on a frame narrower than twice the margin
    // the upper bound wins.
    fx = std::min(std::max(fx, kFocusMargin), w - kFocusMargin);
    fy = std::min(std::max(fy, kFocusMargin), h - kFocusMargin);
    return QPoint(fx, fy);
}

cv::Rect focusRegion(int frameWidth, int frameHeight, int pointX, int pointY) {
    const cv::Rect square(pointX - 20, pointY - 21, 41, 41);
    return square & cv::Rect(0, 0, std::max(frameWidth, 0), std::max(frameHeight, 0));
}

void prepareFocusPicture(QImage& focusPicture, int channels, const QList<QRgb>& palette) {
    const QImage::Format format = channels == 3 ? QImage::Format_BGR888 : QImage::Format_Indexed8;
    const QSize size(kFocusPictureSize, kFocusPictureSize);
    if (focusPicture.size() != size || focusPicture.format() != format) {
        focusPicture = QImage(size, format);
        focusPicture.fill(0);
    }
    if (format == QImage::Format_Indexed8) focusPicture.setColorTable(palette);
}

bool focusStep(const cv::Mat& frame, QImage& focusPicture, int pointX, int pointY) {
    if (frame.empty() || frame.depth() != CV_8U) return false;
    const int channels = frame.channels();
    const QImage::Format expected = channels == 3 ? QImage::Format_BGR888 : QImage::Format_Indexed8;
    if ((channels != 1 && channels != 3) || focusPicture.format() != expected ||
        focusPicture.width() != kFocusPictureSize || focusPicture.height() != kFocusPictureSize) {
        return false;
    }
    const cv::Rect region = focusRegion(frame.cols, frame.rows, pointX, pointY);
    if (region.empty()) return false;
    // bits() is taken anew each time: it detaches the image if a copy of it is alive.
    cv::Mat target(kFocusPictureSize, kFocusPictureSize, CV_8UC(channels), focusPicture.bits(),
                   static_cast<size_t>(focusPicture.bytesPerLine()));
    cv::resize(frame(region), target, target.size(), 0, 0, cv::INTER_NEAREST);
    return true;
}

QPoint centredOver(const QRect& main, QSize windowSize, const QRect& desktop) {
    int left = main.left() + (main.width() - windowSize.width()) / 2;
    int top = main.top() + (main.height() - windowSize.height()) / 2;
    if (desktop.isValid()) {
        left = std::max(std::min(left, desktop.right() + 1 - windowSize.width()), desktop.left());
        top = std::max(std::min(top, desktop.bottom() + 1 - windowSize.height()), desktop.top());
    }
    return QPoint(left, top);
}

FocusWindow::FocusWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName("FocusForm");
    setWindowTitle(tr("FOCUS AID"));
    constexpr int kFigureHeight = 20;
    setFixedSize(kFocusPictureSize, kFocusPictureSize + kFigureHeight + FocusGraph::kHeight);
    picture_ = new PictureView(this);
    picture_->setObjectName("Preview");
    picture_->setGeometry(0, 0, kFocusPictureSize, kFocusPictureSize);
    figure_ = new QLabel(this);
    figure_->setObjectName("FocusFigure");
    figure_->setAlignment(Qt::AlignCenter);
    figure_->setGeometry(0, kFocusPictureSize, kFocusPictureSize, kFigureHeight);
    graph_ = new FocusGraph(this);
    graph_->setObjectName("FocusGraph");
    graph_->move(0, kFocusPictureSize + kFigureHeight);
    graph_->setHistory(&history_);
    connect(graph_, &FocusGraph::resetRequested, figure_, [this] { graph_->update(); });
    // Start as the main picture starts: grey with the identity palette, black.
    QList<QRgb> identity;
    identity.reserve(256);
    for (int i = 0; i < 256; ++i) identity.append(qRgb(i, i, i));
    prepareFocusPicture(picture_->image(), 1, identity);
}

QImage& FocusWindow::image() {
    return picture_->image();
}

void FocusWindow::repaintImage() {
    picture_->updateImage();
}

void FocusWindow::showOver(QWidget* mainWindow) {
    if (isVisible()) return;
    if (!shownBefore_ && mainWindow) {
        QRect desktop;
        if (QScreen* screen = mainWindow->screen()) desktop = screen->availableGeometry();
        // The frame adds the title bar; keep the whole window, not only the client, on the
        // desktop.
        const QSize frameExtra = frameGeometry().size() - size();
        const QPoint outer = centredOver(mainWindow->frameGeometry(), size() + frameExtra, desktop);
        move(outer);
    }
    shownBefore_ = true;
    show();
}

void FocusWindow::measure(const cv::Mat& frame, QPoint point, uint32_t nowMs) {
    if (frame.empty() || point.x() < 0 || !history_.due(nowMs)) return;
    const FocusFigure figure = measureFocus(frame, cv::Point(point.x(), point.y()));
    history_.add(figure);
    figure_->setText(QString::fromStdString(focusText(figure)));
    graph_->update();
}
