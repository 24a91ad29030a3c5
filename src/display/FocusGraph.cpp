#include "display/FocusGraph.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>

#include "display/FocusMeasure.h"

FocusGraph::FocusGraph(QWidget* parent) : QWidget(parent) {
    setObjectName("FocusGraph");
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(tr("Click to start the graph afresh"));
}

void FocusGraph::setHistory(FocusHistory* history) {
    history_ = history;
    update();
}

void FocusGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!history_ || history_->values().empty()) return;

    const auto& values = history_->values();
    const double best = history_->best().value_or(values.back());
    const auto [lowIt, highIt] = std::minmax_element(values.begin(), values.end());
    const double low = std::min(*lowIt, best), high = std::max(*highIt, best);
    // A flat history sits in the middle; otherwise it spans the height less a margin.
    const double span = high > low ? high - low : 1.0;
    const QRectF plot = QRectF(rect()).adjusted(2, 14, -2, -3);
    const auto yOf = [&](double v) {
        return high > low ? plot.bottom() - (v - low) / span * plot.height() : plot.center().y();
    };
    const double step = plot.width() / static_cast<double>(FocusHistory::kCapacity - 1);

    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 200, 0), 1, Qt::DashLine));
    p.drawLine(QPointF(plot.left(), yOf(best)), QPointF(plot.right(), yOf(best)));

    QPolygonF line;
    for (size_t i = 0; i < values.size(); ++i)
        line << QPointF(plot.left() + static_cast<double>(i) * step, yOf(values[i]));
    p.setPen(QPen(QColor(0, 220, 0), 1.5));
    if (line.size() == 1)
        p.drawEllipse(line.front(), 1.5, 1.5);
    else
        p.drawPolyline(line);

    p.setPen(QColor(255, 200, 0));
    p.drawText(QRectF(4, 0, width() - 8, 14), Qt::AlignLeft | Qt::AlignVCenter,
               tr("Best %1").arg(QString::fromStdString(focusText({history_->kind(), best}))));
}

void FocusGraph::mousePressEvent(QMouseEvent* event) {
    if (history_) history_->reset();
    update();
    emit resetRequested();
    event->accept();
}
