#pragma once
// The on-screen keyboard: a borderless, always-on-top window whose keys type into the
// control that has the input focus in the active window. The window itself never takes
// the focus. Its layout (AZERTY or QWERTY) is stored at once in the settings file.
#include <QIcon>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class QWindow;

// What clicking a key does.
enum class KeyAction {
    Letter,          // the first character of the caption, with Shift while ShiftOn
    Code,            // a fixed virtual-key code, never shifted
    ShiftedCode,     // a fixed virtual-key code, always with Shift
    LetterOrPointM,  // Panel20: "M" in the AZERTY layout, the decimal point in QWERTY
    PointOrLetterM,  // Panel39: the decimal point in AZERTY, "M" in QWERTY
    ShiftLock,
    Layout,
};

struct KeyPanel {
    QString Name;  // Panel1 ... Panel45, KTYPE
    QRect Bounds;  // client coordinates
    QString Caption;
    KeyAction Action;
    int Code = 0;  // for Code and ShiftedCode
};

// Letters are sent with Shift while set; a lock, toggled by the shift key.
extern bool ShiftOn;
// Where the last click on the keyboard fell, in its client coordinates.
extern QPoint ClickPoint;

// Settings under group "Palvid" of the program's settings file. Reading gives `def` when
// the value is missing or the file cannot be read; writing an empty name does nothing.
// WriteKeyboardSetting returns false when the value did not reach the file.
QString ReadKeyboardSetting(const QString& name, const QString& def);
bool WriteKeyboardSetting(const QString& name, const QString& value);

// Where the keyboard goes under a dialog: centred horizontally, 20 pixels below it.
QPoint KeyboardPositionBelow(const QRect& dialogFrame, const QSize& keyboardSize);

class TForm4 : public QWidget {
  public:
    static constexpr int kClientWidth = 591;
    static constexpr int kClientHeight = 198;

    explicit TForm4(QWidget* parent = nullptr);

    // Executes the last click recorded since the previous tick; runs every 100 ms.
    void Timer1Timer();
    // True when ClickPoint lies strictly inside the key (its edge lines belong to no key).
    bool KeyHit(const KeyPanel& key) const;
    // One key stroke, posted to the focus widget: Shift down, key down, key up, Shift up.
    void SendKey(int code, bool withShift, bool extended = false);
    void PressLetter(const KeyPanel& key);
    // Switches between AZERTY and QWERTY and stores the new layout.
    void ToggleLayout();
    // Places the keyboard under `dialog` and toggles its visibility.
    void ShowBelow(QWidget* dialog);

    // The key named `name` (Panel1 ... KTYPE); nullptr for an unknown name.
    const KeyPanel* Key(const QString& name) const;
    const std::vector<KeyPanel>& Keys() const { return keys_; }
    // "AZERTY" or "QWERTY": the layout shown.
    QString Layout() const;
    // The shift key shows Image2 while shift is off and Image1 while it is on.
    bool Image2Visible() const { return image2Visible_; }

    QTimer Timer1;
    bool ClickPending = false;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    KeyPanel& MutableKey(const QString& name);
    void SetLayoutCaptions(bool azerty);
    void ActOn(const KeyPanel& key);

    std::vector<KeyPanel> keys_;
    bool image2Visible_ = true;
    // The window that had the activation before the keyboard, if a platform activates it.
    QPointer<QWindow> lastActive_;
};

// The picture of the button with which a dialog shows or hides the keyboard: a small
// keyboard outline with rows of keys.
QIcon KeyboardButtonIcon();
