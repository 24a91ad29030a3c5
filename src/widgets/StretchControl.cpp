#include "widgets/StretchControl.h"

#include <QBoxLayout>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <algorithm>

namespace {
QLabel* tag(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}
}  // namespace

StretchControl::StretchControl(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("StretchControl"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    black_ = new QSpinBox(this);
    black_->setObjectName(QStringLiteral("StretchBlack"));
    black_->setRange(0, 254);
    black_->setToolTip(tr("Black point of the picture: levels up to it show black (display only)"));
    black_->setAccessibleName(tr("Black point"));
    white_ = new QSpinBox(this);
    white_->setObjectName(QStringLiteral("StretchWhite"));
    white_->setRange(1, 255);
    white_->setValue(255);
    white_->setToolTip(tr("White point of the picture: levels above it show white (display only)"));
    white_->setAccessibleName(tr("White point"));
    gamma_ = new QDoubleSpinBox(this);
    gamma_->setObjectName(QStringLiteral("StretchGamma"));
    gamma_->setRange(0.2, 5.0);
    gamma_->setSingleStep(0.1);
    gamma_->setDecimals(2);
    gamma_->setValue(1.0);
    gamma_->setToolTip(tr("Gamma of the picture: above 1 lifts the faint parts (display only)"));
    gamma_->setAccessibleName(tr("Gamma"));
    for (QAbstractSpinBox* box :
         {static_cast<QAbstractSpinBox*>(black_), static_cast<QAbstractSpinBox*>(white_),
          static_cast<QAbstractSpinBox*>(gamma_)}) {
        box->setButtonSymbols(QAbstractSpinBox::NoButtons);
        box->setKeyboardTracking(false);
        box->setAlignment(Qt::AlignRight);
    }
    black_->setFixedWidth(34);
    white_->setFixedWidth(34);
    gamma_->setFixedWidth(40);
    row->addWidget(tag(tr("&B"), black_, this));
    row->addWidget(black_);
    row->addWidget(tag(tr("&W"), white_, this));
    row->addWidget(white_);
    row->addWidget(tag(tr("&\u03b3"), gamma_, this));
    row->addWidget(gamma_);
    row->addStretch(1);
    connect(black_, &QSpinBox::valueChanged, this, &StretchControl::userChanged);
    connect(white_, &QSpinBox::valueChanged, this, &StretchControl::userChanged);
    connect(gamma_, &QDoubleSpinBox::valueChanged, this, &StretchControl::userChanged);
}

int StretchControl::black() const {
    return black_->value();
}
int StretchControl::white() const {
    return white_->value();
}
double StretchControl::gamma() const {
    return gamma_->value();
}

void StretchControl::setValues(int black, int white, double gamma) {
    const QSignalBlocker b(black_), w(white_), g(gamma_);
    black_->setValue(std::clamp(black, 0, 254));
    white_->setValue(std::clamp(white, black_->value() + 1, 255));
    gamma_->setValue(gamma);
}

void StretchControl::userChanged() {
    // The point moved last pushes the other one along, so black stays below white.
    if (sender() == black_ && white_->value() <= black_->value()) {
        const QSignalBlocker w(white_);
        white_->setValue(black_->value() + 1);
    } else if (sender() == white_ && black_->value() >= white_->value()) {
        const QSignalBlocker b(black_);
        black_->setValue(white_->value() - 1);
    }
    emit edited(black(), white(), gamma());
}
