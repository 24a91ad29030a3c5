#pragma once
// The readout subframe: two sliders for width and height, the size as two counters, where
// the frames lie on the sensor ("at 312, 240"), and a drawing of the subframe (sky blue)
// inside the sensor, where dragging moves it and a double click centres it. The capture
// thread takes the requested size and place between two exposures.
#include <QFrame>
#include <QString>
#include <cstdint>

class CaptureThread;
class LabelledSlider;
class QLabel;
class QLCDNumber;

class SubframePanel : public QFrame {
    Q_OBJECT
  public:
    SubframePanel(CaptureThread& capture, QWidget* parent = nullptr);

    // The sliders' ranges end at the sensor's size (their positions are clamped to it).
    void setSensorSize(int width, int height);
    // Slider positions (raw) and the requested, aligned sizes.
    void setSliderPositions(int width, int height);
    // A size set from outside the panel (a script), as if both sliders were moved there and
    // released: "" when done, else why not (a size outside the sliders' ranges).
    QString applySize(int width, int height);
    int requestedWidth() const;
    int requestedHeight() const;
    // Asks for the subframe's place: its left column and top row on the sensor, -1 for
    // centred in that direction (the camera keeps it inside the sensor).
    void setOrigin(int32_t left, int32_t top);
    // Where the camera says its frames lie (-1 while it does not say): shown beside the size,
    // and the drawing follows it.
    void showPlacement(int32_t left, int32_t top);

  signals:
    // The subframe the user asks for changed (the focus point no longer fits it).
    void subframeChanged();
    // The place asked for changed (setOrigin), to be remembered.
    void originChanged(int32_t left, int32_t top);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void requestSize();
    void widthMoved();
    void heightMoved();
    // The drawing's columns from the width, its rows from the height, each where the frames
    // lie.
    void drawColumns();
    void drawRows();

    CaptureThread& capture_;
    QLCDNumber* widthCounter_ = nullptr;
    QLCDNumber* heightCounter_ = nullptr;
    QLabel* placement_ = nullptr;
    int32_t frameLeft_ = -1;  // where the frames lie, as the camera says
    int32_t frameTop_ = -1;
    QFrame* sensor_ = nullptr;
    QWidget* subframe_ = nullptr;
    LabelledSlider* width_ = nullptr;
    LabelledSlider* height_ = nullptr;
};
