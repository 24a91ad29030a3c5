#pragma once
// "Auto Exposure Settings...": the level the automatic exposure aims at and its limits.
#include <QDialog>

#include "settings/PreviewSettings.h"

class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

class AutoExposureDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AutoExposureDialog(QWidget* parent = nullptr);

    // `longestMs`: the longest exposure the exposure slider's range offers.
    void setChoices(const AutoExposureChoices& choices, double longestMs);
    // The values shown, `on` as given to setChoices.
    AutoExposureChoices choices() const;

  private:
    AutoExposureChoices shown_;
    QSpinBox* target_ = nullptr;
    QDoubleSpinBox* longest_ = nullptr;
    QSpinBox* highestGain_ = nullptr;
    QComboBox* first_ = nullptr;
};
