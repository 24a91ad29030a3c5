#pragma once
// "Camera Controls": a dock with a row for each of the camera's own controls that the fixed
// sliders and menus do not cover (offset, binning, a cooler, ...), built from the list the
// acquisition thread reads. A change goes to the acquisition thread; what may not change
// while a recording runs is disabled meanwhile.
#include <QDockWidget>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/CameraControls.h"

class QFormLayout;
class QWidget;

class CameraControlsPanel : public QDockWidget {
    Q_OBJECT
  public:
    using SetControl = std::function<void(const CameraControl& control, double value)>;
    explicit CameraControlsPanel(SetControl set, QWidget* parent = nullptr);

    // Shows the controls of the snapshot: the rows are built anew when the list changed,
    // else their values follow (a row being edited is left alone).
    void showControls(const ControlSnapshot& snapshot, bool recording);
    // The controls shown (none: the camera has nothing beyond the fixed sliders).
    int rowCount() const { return static_cast<int>(rows_.size()); }

  private:
    struct Row {
        CameraControl control;
        QWidget* editor = nullptr;
    };
    void rebuild(const std::vector<CameraControl>& controls);
    QWidget* makeEditor(const CameraControl& control);
    void showValue(Row& row, const CameraControl& now);

    SetControl set_;
    QWidget* body_ = nullptr;
    QFormLayout* form_ = nullptr;
    std::vector<Row> rows_;
    uint64_t listSerial_ = 0;
    bool built_ = false;
};
