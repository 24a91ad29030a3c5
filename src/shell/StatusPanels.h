#pragma once
// The status bar's panels: 0 the frame rate or the recording's progress, 1 the camera's
// state, 2 the free memory during a recording, 3 the free disk space of the capture folder
// (and the recording time left).
#include <QString>

class QLabel;
class QStatusBar;

class StatusPanels {
  public:
    enum Panel { Progress = 0, CameraState = 1, Memory = 2, Disk = 3 };
    static constexpr int kCount = 4;
    static constexpr int kWidths[kCount] = {200, 400, 110, 260};

    explicit StatusPanels(QStatusBar* bar);
    void setText(Panel panel, const QString& text);
    QString text(Panel panel) const;
    void clear(Panel panel);
    // The disk panel, red when little recording time is left.
    void setDisk(const QString& text, bool low);

  private:
    QLabel* panels_[kCount] = {};
};
