#pragma once
// The small graph under the focus number: the last values of a FocusHistory as a line, the
// best one as a dashed line with its text. A click resets the history.
#include <QWidget>

class FocusHistory;

class FocusGraph : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 289;
    static constexpr int kHeight = 60;

    explicit FocusGraph(QWidget* parent = nullptr);

    // The history drawn and reset by a click; not owned, may be null.
    void setHistory(FocusHistory* history);

  signals:
    // A click reset the history.
    void resetRequested();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    FocusHistory* history_ = nullptr;
};
