#pragma once
// The readout subframe: two sliders for width and height, the size as two counters, and
// a drawing of the subframe (sky blue) inside the sensor. The capture thread takes the
// requested size between two exposures.
#include <QFrame>

class CaptureThread;
class LabelledSlider;
class QLCDNumber;

class SubframePanel : public QFrame {
    Q_OBJECT
  public:
    SubframePanel(CaptureThread& capture, QWidget* parent = nullptr);

    // The sliders' ranges end at the sensor's size (their positions are clamped to it).
    void setSensorSize(int width, int height);
    // Slider positions (raw) and the requested, aligned sizes.
    void setSliderPositions(int width, int height);
    int requestedWidth() const;
    int requestedHeight() const;

  signals:
    // The subframe the user asks for changed (the focus point no longer fits it).
    void subframeChanged();

  private:
    void requestSize();
    void widthMoved();
    void heightMoved();

    CaptureThread& capture_;
    QLCDNumber* widthCounter_ = nullptr;
    QLCDNumber* heightCounter_ = nullptr;
    QFrame* sensor_ = nullptr;
    QWidget* subframe_ = nullptr;
    LabelledSlider* width_ = nullptr;
    LabelledSlider* height_ = nullptr;
};
