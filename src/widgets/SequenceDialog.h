#pragma once
// "Sequence": edits a profile's sequence (its steps, how often it loops, the longest time a
// loop may take) and what each filter wants (exposure, gain, focus offset). "Dry Run" lists
// what the sequence as edited would record and how long it takes. OK gives the profile back
// edited, Cancel leaves it.
#include <QDialog>
#include <QStringList>
#include <optional>

#include "settings/TargetProfile.h"

class QSpinBox;
class QTableWidget;

class SequenceDialog : public QDialog {
    Q_OBJECT
  public:
    // `wheelFilters`: the filter wheel's filters, offered in the steps and listed in the
    // filters' table.
    explicit SequenceDialog(QStringList wheelFilters, QWidget* parent = nullptr);

    // Shows `profile` and returns it edited after OK; nullopt after Cancel.
    std::optional<TargetProfile> edit(const TargetProfile& profile);
    // The profile as the dialog shows it now.
    TargetProfile edited() const;
    void display(const TargetProfile& profile);

  private:
    void addStep(const SequenceStep& step);
    void moveStep(int by);
    void addFilterRow(const FilterSettings& filter);

    QStringList wheelFilters_;
    TargetProfile profile_;  // what the dialog does not edit
    QSpinBox* loops_ = nullptr;
    QSpinBox* budget_ = nullptr;
    QTableWidget* steps_ = nullptr;
    QTableWidget* filters_ = nullptr;
};
