#pragma once
// A small line chart: coloured line segments and triangle marks in data coordinates, drawn
// over a data range, all set at once with setData. Light 3-D background, plot margins 10 pixels
// left and bottom, 1 pixel right and top, no mouse interaction.
#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QVector>
#include <QWidget>

class HistogramChart : public QWidget {
    Q_OBJECT
  public:
    enum class MarkStyle { FilledTriangle, HollowTriangle };

    struct Line {
        QPointF from, to;  // data coordinates
        QColor color;
    };
    struct Mark {
        QPointF at;  // data coordinates
        MarkStyle style;
        QColor color;
    };

    static constexpr int kWidth = 161;
    static constexpr int kHeight = 80;
    static constexpr int kMarginLeft = 10, kMarginBottom = 10, kMarginRight = 1, kMarginTop = 1;

    explicit HistogramChart(QWidget* parent = nullptr);

    // Replaces what the chart shows and schedules a repaint. `range`: x, y = the low ends
    // of the data range, width, height = its spans.
    void setData(QVector<Line> lines, QVector<Mark> marks, const QRectF& range);
    // Empties the chart (the range stays).
    void clear();

    const QVector<Line>& lines() const { return lines_; }
    const QVector<Mark>& marks() const { return marks_; }
    QRectF range() const { return range_; }

    // The plot area in widget pixels, and a data point's position in it.
    QRect plotArea() const;
    QPointF toPixels(QPointF data) const;

    // The three corners of a mark triangle (8 wide, 7 high, apex up) at a pixel position.
    static QVector<QPointF> triangleAt(QPointF pixel);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QVector<Line> lines_;
    QVector<Mark> marks_;
    QRectF range_{0, 0, 1, 1};
};
