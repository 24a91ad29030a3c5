#include "shell/SubframePanel.h"

#include <QBoxLayout>
#include <QLCDNumber>
#include <QLabel>
#include <QMouseEvent>

#include "acquisition/CaptureThread.h"
#include "shell/ControlMath.h"
#include "widgets/Colors.h"
#include "widgets/LabelledSlider.h"

SubframePanel::SubframePanel(CaptureThread& capture, QWidget* parent)
    : QFrame(parent), capture_(capture) {
    setObjectName(QStringLiteral("Panel11"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    auto* grid = new QVBoxLayout(this);
    grid->setContentsMargins(3, 2, 3, 2);
    grid->setSpacing(2);

    auto* counters = new QHBoxLayout;
    auto lcd = [this](const QString& name, int value) {
        auto* n = new QLCDNumber(4, this);
        n->setObjectName(name);
        n->setSegmentStyle(QLCDNumber::Flat);
        n->setFixedSize(56, 22);
        n->display(value);
        return n;
    };
    widthCounter_ = lcd(QStringLiteral("HRES"), 2000);
    auto* times = new QLabel(QStringLiteral("x"), this);
    times->setObjectName(QStringLiteral("Label8"));
    heightCounter_ = lcd(QStringLiteral("VRES"), 1024);
    counters->addWidget(widthCounter_);
    counters->addWidget(times);
    counters->addWidget(heightCounter_);
    placement_ = new QLabel(this);
    placement_->setObjectName(QStringLiteral("SubframeAt"));
    counters->addWidget(placement_);
    counters->addStretch(1);
    grid->addLayout(counters);

    auto* sensorRow = new QHBoxLayout;
    sensorRow->setSpacing(2);
    sensor_ = new QFrame(this);
    sensor_->setObjectName(QStringLiteral("full"));
    sensor_->setFixedSize(kFullWidth, kFullHeight);
    sensor_->setAutoFillBackground(true);
    QPalette dark = sensor_->palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 40));
    sensor_->setPalette(dark);
    subframe_ = new QWidget(sensor_);
    subframe_->setObjectName(QStringLiteral("subframe"));
    subframe_->setAutoFillBackground(true);
    QPalette blue = subframe_->palette();
    blue.setColor(QPalette::Window, kSkyBlue);
    subframe_->setPalette(blue);
    subframe_->setGeometry(0, 0, kFullWidth, kFullHeight);
    subframe_->setAttribute(Qt::WA_TransparentForMouseEvents);  // the sensor takes the drags
    sensor_->installEventFilter(this);
    sensor_->setToolTip(tr("Drag to move the subframe on the sensor; double-click centres it"));
    sensorRow->addWidget(sensor_);
    height_ = new LabelledSlider(Qt::Vertical, 100, 2000, 999, QString(), this);
    height_->setObjectName(QStringLiteral("SliderHeight"));
    height_->slider()->setInvertedAppearance(true);  // smallest height at the top
    height_->setFixedHeight(kFullHeight);
    sensorRow->addWidget(height_);
    sensorRow->addStretch(1);
    grid->addLayout(sensorRow);

    width_ = new LabelledSlider(Qt::Horizontal, 100, 2000, 2000, QString(), this);
    width_->setObjectName(QStringLiteral("SliderWidth"));
    width_->setFixedWidth(kFullWidth);
    grid->addWidget(width_);
    // Names and tips for the eye and for assistive tools.
    width_->slider()->setAccessibleName(tr("Subframe width"));
    width_->slider()->setToolTip(tr("The subframe's width in pixels"));
    height_->slider()->setAccessibleName(tr("Subframe height"));
    height_->slider()->setToolTip(tr("The subframe's height in pixels"));

    connect(width_, &LabelledSlider::valueChanged, this, &SubframePanel::widthMoved);
    connect(height_, &LabelledSlider::valueChanged, this, &SubframePanel::heightMoved);
    // Releasing a slider asks for its size again (a request the thread already took is
    // harmless to repeat).
    for (LabelledSlider* s : {width_, height_}) {
        connect(s, &LabelledSlider::keyReleased, this, &SubframePanel::requestSize);
        connect(s, &LabelledSlider::released, this, &SubframePanel::requestSize);
    }
}

void SubframePanel::setSensorSize(int width, int height) {
    height_->setMaximum(height);
    width_->setMaximum(width);
}

void SubframePanel::setSliderPositions(int width, int height) {
    width_->setValue(width);
    height_->setValue(height);
}

QString SubframePanel::applySize(int width, int height) {
    if (width < width_->minimum() || width > width_->maximum() || height < height_->minimum() ||
        height > height_->maximum())
        return tr("The subframe must be %1 to %2 pixels wide and %3 to %4 pixels high")
            .arg(width_->minimum())
            .arg(width_->maximum())
            .arg(height_->minimum())
            .arg(height_->maximum());
    setSliderPositions(width, height);
    requestSize();
    return QString();
}

int SubframePanel::requestedWidth() const {
    return alignedSize(width_->value());
}

int SubframePanel::requestedHeight() const {
    return alignedSize(height_->value());
}

void SubframePanel::requestSize() {
    capture_.setSubframe(requestedWidth(), requestedHeight());
}

void SubframePanel::setOrigin(int32_t left, int32_t top) {
    capture_.setSubframeOrigin(left, top);
    emit originChanged(left, top);
}

void SubframePanel::showPlacement(int32_t left, int32_t top) {
    const bool known = left >= 0 && top >= 0;
    if (!known) left = top = -1;
    if (left == frameLeft_ && top == frameTop_ && !placement_->text().isEmpty() == known) return;
    frameLeft_ = left;
    frameTop_ = top;
    placement_->setText(known ? tr("at %1, %2").arg(left).arg(top) : QString());
    // The drawing keeps its size and moves to the frames' place.
    subframe_->move(placedOffset(frameLeft_, width_->maximum(), kFullWidth, subframe_->width()),
                    placedOffset(frameTop_, height_->maximum(), kFullHeight, subframe_->height()));
}

bool SubframePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched != sensor_) return QFrame::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonDblClick) {
        setOrigin(-1, -1);
        return true;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove)
        return QFrame::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->buttons() & Qt::LeftButton) {
        // The subframe's middle follows the pointer.
        const QPoint at = mouse->position().toPoint();
        setOrigin(originUnder(at.x(), kFullWidth, requestedWidth(), width_->maximum()),
                  originUnder(at.y(), kFullHeight, requestedHeight(), height_->maximum()));
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void SubframePanel::drawColumns() {
    const Span x = subframeSpan(requestedWidth(), width_->maximum(), kFullWidth);
    const int left = placedOffset(frameLeft_, width_->maximum(), kFullWidth, x.length);
    subframe_->setGeometry(left, subframe_->y(), x.length, subframe_->height());
}

void SubframePanel::drawRows() {
    // The drawing follows the raw position, the request the aligned one.
    const Span y = subframeSpan(height_->value(), height_->maximum(), kFullHeight);
    const int top = placedOffset(frameTop_, height_->maximum(), kFullHeight, y.length);
    subframe_->setGeometry(subframe_->x(), top, subframe_->width(), y.length);
}

void SubframePanel::widthMoved() {
    const int32_t aligned = requestedWidth();
    drawColumns();
    widthCounter_->display(aligned);
    capture_.setSubframeWidth(aligned);
    emit subframeChanged();
}

void SubframePanel::heightMoved() {
    const int32_t aligned = requestedHeight();
    drawRows();
    heightCounter_->display(aligned);
    capture_.setSubframeHeight(aligned);
    emit subframeChanged();
}
