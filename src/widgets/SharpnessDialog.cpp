#include "widgets/SharpnessDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

SharpnessDialog::SharpnessDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SharpnessDialog"));
    setWindowTitle(tr("Sharpness Settings"));
    auto* column = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    keepPercent_ = new QSpinBox(this);
    keepPercent_->setObjectName(QStringLiteral("KeepPercent"));
    keepPercent_->setRange(1, 100);
    keepPercent_->setSuffix(QStringLiteral(" %"));
    keepPercent_->setToolTip(
        tr("Keep Sharpest Frames: of each second this share of the frames, the sharpest, is "
           "recorded"));
    form->addRow(tr("Keep the sharpest (of each second):"), keepPercent_);
    sharpPercentile_ = new QSpinBox(this);
    sharpPercentile_->setObjectName(QStringLiteral("SharpPercentile"));
    sharpPercentile_->setRange(1, 99);
    sharpPercentile_->setToolTip(
        tr("Start When Sharp: a capture starts once the seeing figure has stayed above this "
           "percentile of the last minute's figures for half a second"));
    form->addRow(tr("Start when above the percentile:"), sharpPercentile_);
    column->addLayout(form);
    auto* note =
        new QLabel(tr("The seeing figure is measured on the tracked planet, or on the whole frame "
                      "without tracking."),
                   this);
    note->setWordWrap(true);
    column->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

std::optional<SharpnessChoices> SharpnessDialog::edit(const SharpnessChoices& choices) {
    keepPercent_->setValue(choices.keepPercent);
    sharpPercentile_->setValue(choices.sharpPercentile);
    if (exec() != QDialog::Accepted) return std::nullopt;
    SharpnessChoices edited = choices;
    edited.keepPercent = keepPercent_->value();
    edited.sharpPercentile = sharpPercentile_->value();
    return edited;
}
