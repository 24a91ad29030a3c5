#pragma once
// The status bar's panels: 0 the frame rate or the recording's progress, 1 the camera's
// state, 2 the free memory during a recording.
#include <QString>

class QLabel;
class QStatusBar;

class StatusPanels {
  public:
    enum Panel { Progress = 0, CameraState = 1, Memory = 2 };
    static constexpr int kWidths[3] = {200, 400, 50};

    explicit StatusPanels(QStatusBar* bar);
    void setText(Panel panel, const QString& text);
    QString text(Panel panel) const;
    void clear(Panel panel);

  private:
    QLabel* panels_[3] = {nullptr, nullptr, nullptr};
};
