#pragma once
// A track bar: a QSlider with a label that shows its position through a format such as
// "%d ms" or "%d %%". Besides the slider's change signal it reports the release of the
// mouse button and of a key, which some controls use to commit a value.
#include <QSlider>
#include <QString>
#include <QWidget>

class QLabel;

// The label text of `position` for `format`: "%d" becomes the number, "%%" a percent sign.
QString FormatTrackLabel(const QString& format, int position);

class LabelledSlider : public QWidget {
    Q_OBJECT
  public:
    // An empty format means no value label.
    LabelledSlider(Qt::Orientation orientation, int min, int max, int position,
                   const QString& format, QWidget* parent = nullptr);

    QSlider* Slider = nullptr;
    QLabel* ValueLabel = nullptr;  // null without a format

    int Position() const { return Slider->value(); }
    // Clamped into the range; raises Changed when the position really changes.
    void SetPosition(int position) { Slider->setValue(position); }
    int Min() const { return Slider->minimum(); }
    int Max() const { return Slider->maximum(); }
    // A new maximum clamps the position (raising Changed when it moves).
    void SetMax(int max) { Slider->setMaximum(max); }
    void SetMin(int min) { Slider->setMinimum(min); }
    // Tick marks every `interval` steps (0: none).
    void SetTickInterval(int interval);
    QString Format() const { return format_; }

  signals:
    void Changed(int position);
    void MouseUp();
    void KeyUp();

  private:
    void UpdateLabel();
    QString format_;
};
