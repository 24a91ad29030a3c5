#pragma once
// The seeing graph: the seeing figure of the last kSpanSeconds as a line, newest at the right
// edge, over a scale from 0 to a little above the highest figure shown, with the best figure
// of the last minute as a dashed line. Light 3-D background and the axes of the histogram
// chart, no mouse interaction.
#include <QPointF>
#include <QVector>
#include <QWidget>
#include <optional>

class SeeingHistory;

class SeeingGraph : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 161;
    static constexpr int kHeight = 50;
    static constexpr double kSpanSeconds = 30;

    explicit SeeingGraph(QWidget* parent = nullptr);

    // Takes the figures to draw from `history` and schedules a repaint.
    void setHistory(const SeeingHistory& history);
    void clear();

    // x: seconds before the newest figure (-kSpanSeconds .. 0); y: the figure.
    const QVector<QPointF>& points() const { return points_; }
    double top() const { return top_; }  // the figure at the top edge
    std::optional<double> best() const { return best_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPointF toPixels(QPointF data) const;

    QVector<QPointF> points_;
    double top_ = 1;
    std::optional<double> best_;
};
