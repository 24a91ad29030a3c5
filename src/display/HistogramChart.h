#pragma once
// A small line chart with the six operations the histogram uses: clear, set data colour,
// move to / draw to in data coordinates, set the range of layer 1, mark a point with a
// triangle, show. Light 3-D background, plot margins 10 pixels left and bottom, 1 pixel
// right and top, no mouse interaction.
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

    void Clear();
    void SetDataColor(const QColor& color);
    void MoveTo(double x, double y);
    void DrawTo(double x, double y);
    // Only layer 1 exists; other layers are ignored.
    void SetRange(int layer, double xLow, double yLow, double xHigh, double yHigh);
    void MarkAt(double x, double y, MarkStyle style);
    void Show();

    // What the chart holds since the last Clear (for whoever wants to inspect it).
    const QVector<Line>& Lines() const { return lines_; }
    const QVector<Mark>& Marks() const { return marks_; }
    QRectF Range() const { return range_; }  // x, y = low ends; width, height = spans

    // The plot area in widget pixels, and a data point's position in it.
    QRect PlotArea() const;
    QPointF ToPixels(QPointF data) const;

    // The three corners of a mark triangle (8 wide, 7 high, apex up) at a pixel position.
    static QVector<QPointF> TriangleAt(QPointF pixel);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QVector<Line> lines_;
    QVector<Mark> marks_;
    QColor color_ = Qt::black;
    QPointF pen_{0, 0};
    QRectF range_{0, 0, 1, 1};
};
