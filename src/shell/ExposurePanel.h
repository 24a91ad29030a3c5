#pragma once
// Exposure length (with its range presets), gain and white balance. None of them talks to
// the camera for the exposure length or the white balance: they leave pending values that
// the capture thread brings into force between two exposures. The two direct calls are
// cancelExposure (a new exposure length while a long one runs) and setGain (the gain
// slider released).
#include <QWidget>
#include <cstdint>

class CaptureThread;
class LabelledSlider;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;

class ExposurePanel : public QWidget {
    Q_OBJECT
  public:
    ExposurePanel(CaptureThread& capture, QWidget* parent = nullptr);

    // The exposure length at the slider's position in microseconds, and the longest length of
    // its range (the preset) in ms. The positions map as exposurePositionOf does.
    int64_t exposureUs() const;
    int exposureMax() const;
    // Moves the slider to the position nearest the length (clamped to its range) without
    // committing it.
    void setExposureUs(int64_t us);
    // Brings the slider's position into force: the capture thread's next exposure takes
    // it, and a long exposure still running is cut short.
    void commitExposure();

    // A length set from outside the panel (a script), as the user would set it: the
    // slider's range grows to the smallest preset that holds the length, the slider moves
    // there and the length comes into force. "" when done, else why not (a length no preset
    // reaches).
    QString applyExposureMs(double ms);

    int gain() const;
    // Moves the gain slider; the capture thread takes the value with its next exposure.
    void setGain(int gain);
    // Sends the gain to the camera at once (the slider released).
    void sendGain();
    // The gain set from outside the panel, as if the slider were moved there and released:
    // "" when done, else why not (a value outside the slider's range).
    QString applyGain(int gain);
    // The gain's tooltip gives the value in the camera's own units where the camera library
    // reports them (called when the camera opens and with every move).
    void showCameraGain();

    // The balance sliders are shown for a colour camera only.
    void setBalanceVisible(bool visible);
    // Sends the three balance positions to the capture thread.
    void sendWhiteBalance();
    // Moves the balance sliders to the camera values (0..255) and sends them.
    void setWhiteBalance(int32_t red, int32_t green, int32_t blue);

  signals:
    void exposureCommitted(qint64 us);
    void gainChanged(int gain);
    // A setting sent to the camera at once, also while a recording runs.
    void gainSent(int gain);
    void whiteBalanceSent(int red, int green, int blue);

  private:
    void applyPreset(QAction* item);
    void setRange(int32_t presetMs);
    void showExposure();
    void takeTypedExposure();

    CaptureThread& capture_;
    LabelledSlider* exposure_ = nullptr;
    QLineEdit* exposureField_ = nullptr;  // the length in ms, to read or type
    QLabel* exposureUnit_ = nullptr;      // "ms", and the length the camera takes when other
    QMenu* presets_ = nullptr;
    LabelledSlider* gain_ = nullptr;
    QFrame* balance_ = nullptr;
    LabelledSlider* red_ = nullptr;
    LabelledSlider* green_ = nullptr;
    LabelledSlider* blue_ = nullptr;
};
