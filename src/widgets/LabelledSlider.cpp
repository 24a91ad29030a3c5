#include "widgets/LabelledSlider.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {
// A slider that reports the release of the mouse button and of a key after it has
// handled them itself, so the position read then is the final one.
class ReleaseSlider : public QSlider {
  public:
    ReleaseSlider(Qt::Orientation o, QWidget* parent) : QSlider(o, parent) {}
    std::function<void()> onMouseUp, onKeyUp;

  protected:
    void mouseReleaseEvent(QMouseEvent* e) override {
        QSlider::mouseReleaseEvent(e);
        if (onMouseUp) onMouseUp();
    }
    void keyReleaseEvent(QKeyEvent* e) override {
        QSlider::keyReleaseEvent(e);
        if (onKeyUp) onKeyUp();
    }
};
}  // namespace

QString formatTrackLabel(const QString& format, int position) {
    QString out;
    out.reserve(format.size() + 8);
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'd') {
                out += QString::number(position);
                ++i;
                continue;
            }
            if (format[i + 1] == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

LabelledSlider::LabelledSlider(Qt::Orientation orientation, int min, int max, int position,
                               const QString& format, QWidget* parent)
    : QWidget(parent), format_(format) {
    auto* slider = new ReleaseSlider(orientation, this);
    slider->onMouseUp = [this] { emit released(); };
    slider->onKeyUp = [this] { emit keyReleased(); };
    slider_ = slider;
    slider_->setObjectName(QStringLiteral("slider"));
    slider_->setRange(min, max);
    slider_->setValue(position);
    QBoxLayout* layout = orientation == Qt::Horizontal
                             ? static_cast<QBoxLayout*>(new QHBoxLayout(this))
                             : static_cast<QBoxLayout*>(new QVBoxLayout(this));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(slider_, 1);
    if (!format.isEmpty()) {
        valueLabel_ = new QLabel(this);
        valueLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        valueLabel_->setMinimumWidth(
            std::max(fontMetrics().horizontalAdvance(formatTrackLabel(format, min)),
                     fontMetrics().horizontalAdvance(formatTrackLabel(format, max))));
        layout->addWidget(valueLabel_);
    }
    updateLabel();
    connect(slider_, &QSlider::valueChanged, this, [this](int v) {
        updateLabel();
        emit valueChanged(v);
    });
    connect(slider_, &QSlider::rangeChanged, this, [this] {
        // The label's width follows a larger maximum ("10000 ms").
        if (valueLabel_)
            valueLabel_->setMinimumWidth(std::max(
                valueLabel_->minimumWidth(),
                fontMetrics().horizontalAdvance(formatTrackLabel(format_, slider_->maximum()))));
    });
}

void LabelledSlider::setTickInterval(int interval) {
    slider_->setTickInterval(interval);
    slider_->setTickPosition(interval > 0 ? QSlider::TicksBelow : QSlider::NoTicks);
}

void LabelledSlider::updateLabel() {
    if (valueLabel_) valueLabel_->setText(formatTrackLabel(format_, slider_->value()));
}
