#pragma once
// A track bar: a QSlider with a label that shows its position through a format such as
// "%d ms" or "%d %%". Besides the slider's change signal it reports the release of the
// mouse button and of a key, which some controls use to commit a value.
#include <QSlider>
#include <QString>
#include <QWidget>

class QLabel;

// The label text of `position` for `format`: "%d" becomes the number, "%%" a percent sign.
QString formatTrackLabel(const QString& format, int position);

class LabelledSlider : public QWidget {
    Q_OBJECT
  public:
    // An empty format means no value label.
    LabelledSlider(Qt::Orientation orientation, int min, int max, int position,
                   const QString& format, QWidget* parent = nullptr);

    QSlider* slider() const { return slider_; }
    QLabel* valueLabel() const { return valueLabel_; }  // null without a format

    int value() const { return slider_->value(); }
    // Clamped into the range; emits valueChanged when the position really changes.
    void setValue(int position) { slider_->setValue(position); }
    int minimum() const { return slider_->minimum(); }
    int maximum() const { return slider_->maximum(); }
    // A new maximum clamps the position (emitting valueChanged when it moves).
    void setMaximum(int max) { slider_->setMaximum(max); }
    void setMinimum(int min) { slider_->setMinimum(min); }
    // Tick marks every `interval` steps (0: none).
    void setTickInterval(int interval);
    QString format() const { return format_; }

  signals:
    void valueChanged(int position);
    // The mouse button, or a key, released on the slider: some controls commit then.
    void released();
    void keyReleased();

  private:
    void updateLabel();
    QSlider* slider_ = nullptr;
    QLabel* valueLabel_ = nullptr;
    QString format_;
};
