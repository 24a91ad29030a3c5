#include "shell/ExposurePanel.h"

#include <QAction>
#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <cmath>
#include <iterator>

#include "acquisition/CameraLib.h"
#include "acquisition/CaptureThread.h"
#include "shell/ControlMath.h"
#include "widgets/LabelledSlider.h"
#include "widgets/PanelParts.h"

namespace {
// Balance sliders: the thumb coloured after the channel it sets.
void colourThumb(LabelledSlider* bar, const QColor& color) {
    bar->slider()->setStyleSheet(
        QStringLiteral("QSlider::groove:horizontal { height: 4px; background: #a0a0a0; }"
                       "QSlider::handle:horizontal { background: %1; border: 1px solid #404040;"
                       " width: 8px; margin: -6px 0; }")
            .arg(color.name()));
}
}  // namespace

ExposurePanel::ExposurePanel(CaptureThread& capture, QWidget* parent)
    : QWidget(parent), capture_(capture) {
    setObjectName(QStringLiteral("ExposurePanel"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);

    column->addWidget(smallLabel(tr("Exposure"), this));
    // The slider and beside it the length in ms; its value label is the field.
    auto* row = new QHBoxLayout;
    row->setSpacing(3);
    exposure_ =
        new LabelledSlider(Qt::Horizontal, 1, exposurePositionOf(100'000), 1, QString(), this);
    exposure_->setObjectName(QStringLiteral("_expot"));
    exposure_->setTickInterval(exposure_->maximum() / 10);
    row->addWidget(exposure_, 1);
    exposureField_ = new QLineEdit(this);
    exposureField_->setObjectName(QStringLiteral("expofield"));
    exposureField_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}([.][0-9]{0,2})?")), exposureField_));
    exposureField_->setAlignment(Qt::AlignRight);
    exposureField_->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000.00")) +
                                    12);
    exposureField_->setToolTip(
        tr("Exposure in ms: steps of 0.01 ms below 10 ms (for example 0.05), whole ms above"));
    row->addWidget(exposureField_);
    exposureUnit_ = new QLabel(tr("ms"), this);
    exposureUnit_->setObjectName(QStringLiteral("expounit"));
    row->addWidget(exposureUnit_);
    column->addLayout(row);

    presets_ = new QMenu(this);
    presets_->setObjectName(QStringLiteral("expopup"));
    presets_->setToolTipsVisible(true);
    const QString presetTip = tr("Sets the slider's range up to this length; the exposure stays");
    int item = 3;
    for (const int32_t preset : kExposurePresetsMs)
        menuItem(presets_, QStringLiteral("MenuItem%1").arg(item++),
                 QStringLiteral("%1ms").arg(preset))
            ->setToolTip(presetTip);
    attachContextMenu(exposure_->slider(), presets_);
    exposure_->slider()->setToolTip(
        tr("Right-click for the range presets: they set the slider's range, not the exposure"));
    exposure_->slider()->setAccessibleName(tr("Exposure"));
    exposureField_->setAccessibleName(tr("Exposure in milliseconds"));
    showExposure();

    column->addWidget(smallLabel(tr("Gain"), this));
    gain_ = new LabelledSlider(Qt::Horizontal, 0, 100, 10, QStringLiteral("%d %%"), this);
    gain_->setObjectName(QStringLiteral("gain"));
    gain_->slider()->setAccessibleName(tr("Gain"));
    gain_->slider()->setToolTip(tr("The camera's gain, in percent of its range"));
    column->addWidget(gain_);

    balance_ = raisedPanel(QStringLiteral("Balance"), this);
    auto* wb = new QVBoxLayout(balance_);
    wb->setContentsMargins(2, 1, 2, 1);
    wb->setSpacing(0);
    const struct {
        LabelledSlider** bar;
        const char* name;
        QColor color;
        QString caption;
    } balances[] = {{&red_, "redbalance", QColor(220, 30, 30), tr("Red balance")},
                    {&green_, "greenbalance", QColor(30, 170, 30), tr("Green balance")},
                    {&blue_, "bluebalance", QColor(40, 70, 230), tr("Blue balance")}};
    for (const auto& b : balances) {
        *b.bar = new LabelledSlider(Qt::Horizontal, -127, 128, 0, QStringLiteral("%d"), balance_);
        (*b.bar)->setObjectName(QString::fromLatin1(b.name));
        // The label shows the offset from the middle; the camera gets 127 more (0 to 255).
        (*b.bar)->slider()->setAccessibleName(b.caption);
        (*b.bar)->slider()->setToolTip(
            tr("%1: the offset from the middle, -127 to 128; the camera gets the offset plus 127 "
               "(0 to 255, 127 at 0)")
                .arg(b.caption));
        colourThumb(*b.bar, b.color);
        wb->addWidget(*b.bar);
        connect(*b.bar, &LabelledSlider::valueChanged, this, &ExposurePanel::sendWhiteBalance);
    }
    column->addWidget(balance_);

    connect(exposure_, &LabelledSlider::valueChanged, this, &ExposurePanel::showExposure);
    connect(exposureField_, &QLineEdit::editingFinished, this, &ExposurePanel::takeTypedExposure);
    connect(exposure_, &LabelledSlider::keyReleased, this, &ExposurePanel::commitExposure);
    connect(exposure_, &LabelledSlider::released, this, &ExposurePanel::commitExposure);
    connect(presets_, &QMenu::triggered, this, &ExposurePanel::applyPreset);
    connect(gain_, &LabelledSlider::valueChanged, this, &ExposurePanel::showCameraGain);
    connect(gain_, &LabelledSlider::valueChanged, this, [this](int position) {
        capture_.setGain(position);
        emit gainChanged(position);
    });
    connect(gain_, &LabelledSlider::keyReleased, this, &ExposurePanel::sendGain);
    connect(gain_, &LabelledSlider::released, this, &ExposurePanel::sendGain);
}

int64_t ExposurePanel::exposureUs() const {
    return exposureUsAt(exposure_->value());
}

int ExposurePanel::exposureMax() const {
    return static_cast<int>(exposureUsAt(exposure_->maximum()) / 1000);
}

void ExposurePanel::setExposureUs(int64_t us) {
    exposure_->setValue(exposurePositionOf(us));
}

void ExposurePanel::showExposure() {
    const int64_t us = exposureUs();
    exposureField_->setText(exposureText(us));
    // A camera of whole milliseconds takes a fraction rounded: say what it will expose.
    const int64_t taken = camera().setExposureLength ? exposureTakenUs(us) : us;
    exposureUnit_->setText(taken == us ? tr("ms")
                                       : tr("ms (camera: %1 ms)").arg(exposureText(taken)));
}

// A typed length moves the slider to it (within the range) and comes into force at once.
void ExposurePanel::takeTypedExposure() {
    int64_t us = 0;
    if (exposureFromText(exposureField_->text(), us)) {
        setExposureUs(us);
        commitExposure();
    }
    showExposure();  // the length as the slider took it
}

void ExposurePanel::commitExposure() {
    const int64_t previous = capture_.settings().exposureUs;
    const int64_t committed = exposureUs();
    capture_.setExposureUs(committed);
    showExposure();
    // A long exposure still running would keep the new length waiting for its old end.
    if (commitCancelsExposure(static_cast<int32_t>(previous / 1000))) capture_.cutExposure();
    emit exposureCommitted(committed);
}

QString ExposurePanel::applyExposureMs(double ms) {
    const int32_t longest = std::end(kExposurePresetsMs)[-1];
    // Also refuses NaN.
    if (!(ms > 0 && ms <= longest))
        return tr("The exposure must be above 0 ms and at most %1 ms").arg(longest);
    const int64_t us = exposureUsAt(exposurePositionOf(std::llround(ms * 1000.0)));
    if (exposurePositionOf(us) > exposure_->maximum()) setRange(presetHolding(us));
    setExposureUs(us);
    commitExposure();
    return QString();
}

void ExposurePanel::applyPreset(QAction* item) {
    int32_t preset = 0;
    if (item && presetFromCaption(item->text(), preset)) setRange(preset);
}

void ExposurePanel::setRange(int32_t presetMs) {
    const ExposureRange range = exposurePresetRange(exposure_->value(), presetMs);
    // The camera keeps its length until the next commit, even when the thumb moved.
    exposure_->setValue(range.position);
    exposure_->setMaximum(range.max);
    exposure_->setTickInterval(range.tickInterval);
}

void ExposurePanel::showCameraGain() {
    const CaptureStatus camera = capture_.status();
    const std::optional<double> units = cameraGainAt(camera, gain_->value());
    QString tip = tr("The camera's gain, in percent of its range");
    if (units)
        tip += tr(": %1 % is %2 in the camera's own units (%3 to %4)")
                   .arg(gain_->value())
                   .arg(*units, 0, 'g', 6)
                   .arg(camera.gainAtZero, 0, 'g', 6)
                   .arg(camera.gainAtFull, 0, 'g', 6);
    gain_->slider()->setToolTip(tip);
    gain_->slider()->setAccessibleDescription(tip);
}

int ExposurePanel::gain() const {
    return gain_->value();
}

void ExposurePanel::setGain(int gain) {
    gain_->setValue(gain);
    // The capture thread and the stored settings follow even when the position was already
    // there.
    capture_.setGain(gain_->value());
    emit gainChanged(gain_->value());
}

void ExposurePanel::sendGain() {
    capture_.setGain(gain_->value());
    capture_.sendGain();
    emit gainSent(gain_->value());
}

QString ExposurePanel::applyGain(int gain) {
    if (gain < gain_->minimum() || gain > gain_->maximum())
        return tr("The gain must be %1 to %2").arg(gain_->minimum()).arg(gain_->maximum());
    setGain(gain);
    sendGain();
    return QString();
}

void ExposurePanel::setBalanceVisible(bool visible) {
    balance_->setVisible(visible);
}

void ExposurePanel::sendWhiteBalance() {
    const WhiteBalance balance{balanceValue(blue_->value()), balanceValue(green_->value()),
                               balanceValue(red_->value())};
    capture_.setWhiteBalance(balance);
    emit whiteBalanceSent(balance.red, balance.green, balance.blue);
}

void ExposurePanel::setWhiteBalance(int32_t red, int32_t green, int32_t blue) {
    {
        const QSignalBlocker r(red_), g(green_), b(blue_);
        red_->setValue(red - balanceValue(0));
        green_->setValue(green - balanceValue(0));
        blue_->setValue(blue - balanceValue(0));
    }
    sendWhiteBalance();
}
