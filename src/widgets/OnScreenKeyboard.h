#pragma once
// The on-screen keyboard: a borderless, always-on-top window whose keys type into the
// control that has the input focus in the active window. The window itself never takes
// the focus. Its layout (AZERTY or QWERTY) is stored at once in the settings file.
#include <QIcon>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <vector>

#include "settings/SettingsStore.h"

class QTimer;
class QWindow;

// What clicking a key does.
enum class KeyAction {
    Letter,          // the first character of the caption, with Shift while the lock is on
    Code,            // a fixed virtual-key code, never shifted
    ShiftedCode,     // a fixed virtual-key code, always with Shift
    LetterOrPointM,  // Panel20: "M" in the AZERTY layout, the decimal point in QWERTY
    PointOrLetterM,  // Panel39: the decimal point in AZERTY, "M" in QWERTY
    ShiftLock,
    Layout,
};

struct KeyPanel {
    QString name;  // Panel1 ... Panel45, KTYPE
    QRect bounds;  // client coordinates
    QString caption;
    KeyAction action;
    int code = 0;  // for Code and ShiftedCode
};

// Where the keyboard goes under a dialog: centred horizontally, 20 pixels below it.
QPoint keyboardPositionBelow(const QRect& dialogFrame, const QSize& keyboardSize);

class OnScreenKeyboard : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kClientWidth = 591;
    static constexpr int kClientHeight = 198;

    explicit OnScreenKeyboard(QWidget* parent = nullptr);

    // Executes the last click recorded since the previous tick. The click timer (object
    // name "Timer1") calls it every 100 ms.
    void executePendingClick();
    // One key stroke, posted to the focus widget: Shift down, key down, key up, Shift up.
    void sendKey(int code, bool withShift);
    // Switches between AZERTY and QWERTY and stores the new layout.
    void toggleLayout();
    // Places the keyboard under `dialog` and toggles its visibility.
    void toggleBelow(QWidget* dialog);

    // The key named `name` (Panel1 ... KTYPE); nullptr for an unknown name.
    const KeyPanel* key(const QString& name) const;
    const std::vector<KeyPanel>& keys() const { return keys_; }
    // "AZERTY" or "QWERTY": the layout shown.
    QString layout() const;
    // Letters go with Shift while the lock is on; the shift key then shows its lit picture.
    bool shiftLocked() const { return shiftLocked_; }
    // A click recorded and not yet executed.
    bool clickPending() const { return clickPending_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    KeyPanel& mutableKey(const QString& name);
    // True when the recorded click lies strictly inside the key (its edge lines belong to
    // no key).
    bool clickHits(const KeyPanel& panel) const;
    void pressLetter(const KeyPanel& panel);
    void setLayoutCaptions(bool azerty);
    void actOn(const KeyPanel& panel);

    std::vector<KeyPanel> keys_;
    QTimer* clickTimer_;
    bool shiftLocked_ = false;
    bool clickPending_ = false;
    // Where the last click on the keyboard fell, in its client coordinates.
    QPoint clickPoint_;
    // The window that had the activation before the keyboard, if a platform activates it.
    QPointer<QWindow> lastActive_;
};

// The picture of the button with which a dialog shows or hides the keyboard: a small
// keyboard outline with rows of keys.
QIcon keyboardButtonIcon();
