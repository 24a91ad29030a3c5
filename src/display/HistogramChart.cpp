#include "display/HistogramChart.h"

#include <QPainter>
#include <QPolygonF>
#include <utility>

HistogramChart::HistogramChart(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistogramChart::setData(QVector<Line> lines, QVector<Mark> marks, const QRectF& range) {
    lines_ = std::move(lines);
    marks_ = std::move(marks);
    range_ = range;
    update();
}

void HistogramChart::clear() {
    lines_.clear();
    marks_.clear();
    update();
}

QRect HistogramChart::plotArea() const {
    return QRect(kMarginLeft, kMarginTop, width() - kMarginLeft - kMarginRight,
                 height() - kMarginTop - kMarginBottom);
}

QPointF HistogramChart::toPixels(QPointF data) const {
    const QRectF plot = plotArea();
    const double spanX = range_.width() != 0 ? range_.width() : 1.0;
    const double spanY = range_.height() != 0 ? range_.height() : 1.0;
    const double px = plot.left() + (data.x() - range_.left()) / spanX * plot.width();
    // Screen y points down: the low end of the range sits on the bottom edge.
    const double py =
        plot.top() + plot.height() - (data.y() - range_.top()) / spanY * plot.height();
    return QPointF(px, py);
}

QVector<QPointF> HistogramChart::triangleAt(QPointF pixel) {
    return {pixel + QPointF(-4, 3), pixel + QPointF(0, -4), pixel + QPointF(4, 3)};
}

void HistogramChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Midlight));

    const QRect plot = plotArea();
    // Axes along the left and bottom edges of the plot area.
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(plot.left() - 1, plot.top(), plot.left() - 1, plot.bottom() + 1);
    p.drawLine(plot.left() - 1, plot.bottom() + 1, plot.right(), plot.bottom() + 1);

    // Bars cut at the plot area: a level that towers over the range leaves the top.
    p.save();
    p.setClipRect(plot);
    for (const Line& line : lines_) {
        p.setPen(QPen(line.color, 1));
        p.drawLine(toPixels(line.from), toPixels(line.to));
    }
    p.restore();

    p.setRenderHint(QPainter::Antialiasing, false);
    for (const Mark& mark : marks_) {
        const QPolygonF triangle(triangleAt(toPixels(mark.at)));
        p.setPen(QPen(mark.color, 1));
        p.setBrush(mark.style == MarkStyle::FilledTriangle ? QBrush(mark.color) : Qt::NoBrush);
        p.drawPolygon(triangle);
    }
}
