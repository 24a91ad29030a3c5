#include "display/SeeingGraph.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "analysis/SeeingHistory.h"

namespace {
// The plot area's margins, those of the histogram chart.
constexpr int kMarginLeft = 10, kMarginBottom = 10, kMarginRight = 1, kMarginTop = 1;
// Room above the highest figure shown.
constexpr double kHeadroom = 1.15;
}  // namespace

SeeingGraph::SeeingGraph(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SeeingGraph::setHistory(const SeeingHistory& history) {
    points_.clear();
    const auto& samples = history.samples();
    if (samples.empty()) {
        best_.reset();
        update();
        return;
    }
    const uint32_t newest = samples.back().atMs;
    double highest = 0;
    for (const SeeingHistory::Sample& s : samples) {
        const double ago = static_cast<double>(newest - s.atMs) / 1000.0;
        if (ago > kSpanSeconds) continue;
        points_.append(QPointF(-ago, s.value));
        highest = std::max(highest, s.value);
    }
    best_ = history.best();
    top_ = std::max(highest, best_.value_or(0)) * kHeadroom;
    if (!(top_ > 0)) top_ = 1;
    update();
}

void SeeingGraph::clear() {
    points_.clear();
    best_.reset();
    update();
}

QPointF SeeingGraph::toPixels(QPointF data) const {
    const QRectF plot(kMarginLeft, kMarginTop, width() - kMarginLeft - kMarginRight,
                      height() - kMarginTop - kMarginBottom);
    const double px = plot.left() + (data.x() + kSpanSeconds) / kSpanSeconds * plot.width();
    const double py = plot.bottom() - data.y() / top_ * plot.height();
    return QPointF(px, py);
}

void SeeingGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Midlight));
    const QRect plot(kMarginLeft, kMarginTop, width() - kMarginLeft - kMarginRight,
                     height() - kMarginTop - kMarginBottom);
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(plot.left() - 1, plot.top(), plot.left() - 1, plot.bottom() + 1);
    p.drawLine(plot.left() - 1, plot.bottom() + 1, plot.right(), plot.bottom() + 1);
    // A tick every 10 s below the time axis.
    for (int s = 0; s <= static_cast<int>(kSpanSeconds); s += 10) {
        const QPointF at = toPixels(QPointF(-s, 0));
        p.drawLine(QPointF(at.x(), plot.bottom() + 2), QPointF(at.x(), plot.bottom() + 4));
    }
    p.setClipRect(plot);
    if (best_) {
        QPen dashed(QColor(0, 128, 0), 1, Qt::DashLine);
        p.setPen(dashed);
        const double y = toPixels(QPointF(0, *best_)).y();
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    if (points_.size() >= 2) {
        QPainterPath path(toPixels(points_.front()));
        for (qsizetype i = 1; i < points_.size(); ++i) path.lineTo(toPixels(points_[i]));
        p.setPen(QPen(QColor(0, 0, 192), 1));
        p.drawPath(path);
    }
}
