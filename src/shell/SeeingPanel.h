#pragma once
// "Seeing": the seeing figure's graph of the last 30 s, the current figure and the best of
// the last minute, updated from the seeing monitor's history.
#include <QFrame>

class QLabel;
class SeeingGraph;
class SeeingHistory;

class SeeingPanel : public QFrame {
    Q_OBJECT
  public:
    explicit SeeingPanel(QWidget* parent = nullptr);

    // Shows the history's figures (at most a few times a second: the graph needs no more).
    void showHistory(const SeeingHistory& history);
    // "Now 123, best 456" or the text without figures.
    QString figuresText() const;
    const SeeingGraph& graph() const { return *graph_; }

  private:
    SeeingGraph* graph_;
    QLabel* figures_;
    uint32_t shownAtMs_ = 0;
};
