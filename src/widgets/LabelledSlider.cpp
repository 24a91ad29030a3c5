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

QString FormatTrackLabel(const QString& format, int position) {
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
    slider->onMouseUp = [this] { emit MouseUp(); };
    slider->onKeyUp = [this] { emit KeyUp(); };
    Slider = slider;
    Slider->setObjectName(QStringLiteral("slider"));
    Slider->setRange(min, max);
    Slider->setValue(position);
    QBoxLayout* layout = orientation == Qt::Horizontal
                             ? static_cast<QBoxLayout*>(new QHBoxLayout(this))
                             : static_cast<QBoxLayout*>(new QVBoxLayout(this));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(Slider, 1);
    if (!format.isEmpty()) {
        ValueLabel = new QLabel(this);
        ValueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ValueLabel->setMinimumWidth(
            std::max(fontMetrics().horizontalAdvance(FormatTrackLabel(format, min)),
                     fontMetrics().horizontalAdvance(FormatTrackLabel(format, max))));
        layout->addWidget(ValueLabel);
    }
    UpdateLabel();
    connect(Slider, &QSlider::valueChanged, this, [this](int v) {
        UpdateLabel();
        emit Changed(v);
    });
    connect(Slider, &QSlider::rangeChanged, this, [this] {
        // The label's width follows a larger maximum ("10000 ms").
        if (ValueLabel)
            ValueLabel->setMinimumWidth(std::max(
                ValueLabel->minimumWidth(),
                fontMetrics().horizontalAdvance(FormatTrackLabel(format_, Slider->maximum()))));
    });
}

void LabelledSlider::SetTickInterval(int interval) {
    Slider->setTickInterval(interval);
    Slider->setTickPosition(interval > 0 ? QSlider::TicksBelow : QSlider::NoTicks);
}

void LabelledSlider::UpdateLabel() {
    if (ValueLabel) ValueLabel->setText(FormatTrackLabel(format_, Slider->value()));
}
