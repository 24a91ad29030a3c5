#include "widgets/AutoExposureDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QSpinBox>
#include <algorithm>
#include <cmath>

AutoExposureDialog::AutoExposureDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AutoExposureDialog"));
    setWindowTitle(tr("Auto Exposure Settings"));
    auto* form = new QFormLayout(this);
    target_ = new QSpinBox(this);
    target_->setObjectName(QStringLiteral("AutoExposureTarget"));
    target_->setRange(5, 98);
    target_->setSuffix(tr(" %"));
    target_->setToolTip(
        tr("The level of the brightest 0.5 % of the planet's disc (or of the frame without a "
           "disc), in percent of full scale"));
    form->addRow(tr("&Target level:"), target_);
    longest_ = new QDoubleSpinBox(this);
    longest_->setObjectName(QStringLiteral("AutoExposureLongest"));
    longest_->setDecimals(1);
    longest_->setRange(0.1, 60000);
    longest_->setSuffix(tr(" ms"));
    longest_->setToolTip(tr("The longest exposure it sets (at most the exposure slider's range)"));
    form->addRow(tr("&Longest exposure:"), longest_);
    highestGain_ = new QSpinBox(this);
    highestGain_->setObjectName(QStringLiteral("AutoExposureHighestGain"));
    highestGain_->setRange(0, 100);
    highestGain_->setSuffix(tr(" %"));
    highestGain_->setToolTip(tr("The highest gain it sets"));
    form->addRow(tr("&Highest gain:"), highestGain_);
    first_ = new QComboBox(this);
    first_->setObjectName(QStringLiteral("AutoExposureFirst"));
    first_->addItem(tr("Exposure first"));
    first_->addItem(tr("Gain first (short exposures)"));
    first_->setToolTip(
        tr("Which it raises first when the picture is too dark (and lowers last when too "
           "bright)"));
    form->addRow(tr("&Change first:"), first_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

void AutoExposureDialog::setChoices(const AutoExposureChoices& choices, double longestMs) {
    shown_ = choices;
    target_->setValue(choices.targetPercent);
    longest_->setMaximum(std::max(0.1, longestMs));
    longest_->setValue(static_cast<double>(choices.longestUs) / 1000.0);
    highestGain_->setValue(choices.highestGain);
    first_->setCurrentIndex(choices.gainFirst ? 1 : 0);
}

AutoExposureChoices AutoExposureDialog::choices() const {
    AutoExposureChoices c = shown_;
    c.targetPercent = target_->value();
    c.longestUs = std::llround(longest_->value() * 1000.0);
    c.highestGain = highestGain_->value();
    c.gainFirst = first_->currentIndex() == 1;
    return c;
}
