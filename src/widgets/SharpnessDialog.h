#pragma once
// "Sharpness Settings": the share of each second that "Keep Sharpest Frames" keeps, and the
// percentile of the last minute's seeing figures that "Start When Sharp" waits for the
// seeing to stay above. OK keeps the values, Cancel the ones before.
#include <QDialog>
#include <optional>

#include "settings/SettingsStore.h"

class QSpinBox;

class SharpnessDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SharpnessDialog(QWidget* parent = nullptr);

    // Shows the values of `choices` (the two switches are the menu's) and returns the
    // values after OK; nullopt after Cancel.
    std::optional<SharpnessChoices> edit(const SharpnessChoices& choices);

    QSpinBox* keepPercent() const { return keepPercent_; }
    QSpinBox* sharpPercentile() const { return sharpPercentile_; }

  private:
    QSpinBox* keepPercent_;
    QSpinBox* sharpPercentile_;
};
