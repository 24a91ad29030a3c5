#pragma once
// The display stretch set by hand: black point and white point on the histogram's 0..255
// scale and the gamma, one compact row of three spin boxes. It only shows and reports the
// values; the preview applies them.
#include <QWidget>

class QDoubleSpinBox;
class QSpinBox;

class StretchControl : public QWidget {
    Q_OBJECT
  public:
    explicit StretchControl(QWidget* parent = nullptr);

    int black() const;
    int white() const;
    double gamma() const;
    // Shows values set elsewhere (stored, or the automatic stretch) without reporting them.
    // The black point stays below the white one.
    void setValues(int black, int white, double gamma);

  signals:
    // The user changed a value (typed, stepped or scrolled).
    void edited(int black, int white, double gamma);

  private:
    void userChanged();

    QSpinBox* black_ = nullptr;
    QSpinBox* white_ = nullptr;
    QDoubleSpinBox* gamma_ = nullptr;
};
