#include "widgets/OnScreenKeyboard.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QWindow>

#include "widgets/KeyMap.h"

namespace {
const QString kAzerty = QStringLiteral("AZERTY");
const QString kQwerty = QStringLiteral("QWERTY");
const QString kKeyboardValue = QStringLiteral("KEYBOARD");
const QColor kBackground(0x40, 0x40, 0x40);  // colour value 4210752
const QColor kKeyFace(0x5c, 0x5c, 0x5c);
const QColor kKeyBorder(0x1c, 0x1c, 0x1c);
const QColor kCaption(0xf2, 0xf2, 0xf2);
const QColor kShiftLit(0xff, 0xc8, 0x2a);
constexpr int kKeyW = 40;
constexpr int kKeyH = 45;

// The keys in the order the timer tests them.
std::vector<KeyPanel> buildKeys() {
    std::vector<KeyPanel> k;
    auto add = [&](const char* name, int left, int top, const QString& caption, KeyAction act,
                   int code = 0, int w = kKeyW, int h = kKeyH) {
        k.push_back(
            KeyPanel{QString::fromLatin1(name), QRect(left, top, w, h), caption, act, code});
    };
    auto letterRow = [&](int firstPanel, int left, int top, const char* letters) {
        for (int i = 0; letters[i]; ++i) {
            const QByteArray name = "Panel" + QByteArray::number(firstPanel + i);
            add(name.constData(), left + 40 * i, top, QString(QChar(letters[i])),
                KeyAction::Letter);
        }
    };
    // Letters; the captions of Panel1, Panel2, Panel11 and Panel22 follow the layout.
    add("Panel1", 16, 8, "A", KeyAction::Letter);
    add("Panel2", 56, 8, "Z", KeyAction::Letter);
    letterRow(3, 96, 8, "ERTYUIOP");
    add("Panel11", 46, 54, "Q", KeyAction::Letter);
    letterRow(12, 86, 54, "SDFGHJKL");
    add("Panel22", 56, 100, "W", KeyAction::Letter);
    letterRow(23, 96, 100, "XCVBN");
    add("Panel42", 8, 100, QString(), KeyAction::ShiftLock, 0, 47, kKeyH);
    add("Panel20", 406, 54, "M", KeyAction::LetterOrPointM);
    add("Panel39", 296, 100, ".", KeyAction::PointOrLetterM);
    add("Panel45", 416, 100, QString(QChar(0x21B5)), KeyAction::Code, vk::kReturn, 44, kKeyH);
    add("Panel44", 416, 8, QString(QChar(0x2190)), KeyAction::Code, vk::kBack);
    add("Panel43", 56, 146, OnScreenKeyboard::tr("SPACE"), KeyAction::Code, vk::kSpace, 404, kKeyH);
    // Numeric block: Panel28 to Panel38 with the numeric-pad codes.
    const int padLeft[3] = {462, 502, 542};
    for (int i = 0; i < 3; ++i) {
        const QByteArray n7 = "Panel" + QByteArray::number(28 + i);
        add(n7.constData(), padLeft[i], 8, QString::number(7 + i), KeyAction::Code,
            vk::kNumpad0 + 7 + i);
    }
    for (int i = 0; i < 3; ++i) {
        const QByteArray n4 = "Panel" + QByteArray::number(31 + i);
        add(n4.constData(), padLeft[i], 54, QString::number(4 + i), KeyAction::Code,
            vk::kNumpad0 + 4 + i);
    }
    for (int i = 0; i < 3; ++i) {
        const QByteArray n1 = "Panel" + QByteArray::number(34 + i);
        add(n1.constData(), padLeft[i], 100, QString::number(1 + i), KeyAction::Code,
            vk::kNumpad0 + 1 + i);
    }
    add("Panel37", 461, 146, "0", KeyAction::Code, vk::kNumpad0, 81, kKeyH);
    add("Panel38", 542, 146, ".", KeyAction::Code, vk::kDecimal);
    add("Panel40", 336, 100, "_", KeyAction::ShiftedCode, vk::kOemMinus);
    add("Panel41", 376, 100, "-", KeyAction::Code, vk::kSubtract);
    add("KTYPE", 8, 146, kQwerty, KeyAction::Layout, 0, 47, kKeyH);
    return k;
}

// The shift key's two pictures: an outlined arrow while off, a lit, filled one while on.
void drawShiftPicture(QPainter& p, const QRect& r, bool on) {
    const QPointF c = QRectF(r).center();
    QPainterPath arrow;
    arrow.moveTo(c.x(), c.y() - 14);
    arrow.lineTo(c.x() + 12, c.y());
    arrow.lineTo(c.x() + 6, c.y());
    arrow.lineTo(c.x() + 6, c.y() + 9);
    arrow.lineTo(c.x() - 6, c.y() + 9);
    arrow.lineTo(c.x() - 6, c.y());
    arrow.lineTo(c.x() - 12, c.y());
    arrow.closeSubpath();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (on) {
        p.setPen(QPen(kShiftLit, 1.5));
        p.setBrush(kShiftLit);
        p.drawPath(arrow);
        p.drawRect(QRectF(c.x() - 6, c.y() + 12, 12, 3));  // the lock bar
    } else {
        p.setPen(QPen(kCaption, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arrow);
    }
    p.restore();
}
}  // namespace

QPoint keyboardPositionBelow(const QRect& dialogFrame, const QSize& keyboardSize) {
    // Integer division truncating toward zero, as in the placement rule of the dialogs.
    const int left = dialogFrame.left() - (keyboardSize.width() - dialogFrame.width()) / 2;
    const int top = dialogFrame.top() + dialogFrame.height() + 20;
    return QPoint(left, top);
}

OnScreenKeyboard::OnScreenKeyboard(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus),
      keys_(buildKeys()),
      clickTimer_(new QTimer(this)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(tr("Virtual Keyboard.... AZERTY"));
    setFixedSize(kClientWidth, kClientHeight);

    setLayoutCaptions(readKeyboardSetting(kKeyboardValue, kAzerty) == kAzerty);

    // Window systems that honour WindowDoesNotAcceptFocus never activate the keyboard. Where
    // one does anyway, the activation goes straight back to the window that had it, so the
    // focus stays in the dialog's edit field.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* w) {
        if (!w) return;
        if (w != windowHandle()) {
            lastActive_ = w;
        } else if (lastActive_ && lastActive_->isVisible()) {
            lastActive_->requestActivate();
        }
    });
    lastActive_ = QGuiApplication::focusWindow();

    clickTimer_->setObjectName(QStringLiteral("Timer1"));
    clickTimer_->setInterval(100);
    connect(clickTimer_, &QTimer::timeout, this, &OnScreenKeyboard::executePendingClick);
    clickTimer_->start();
}

const KeyPanel* OnScreenKeyboard::key(const QString& name) const {
    for (const KeyPanel& k : keys_)
        if (k.name == name) return &k;
    return nullptr;
}

KeyPanel& OnScreenKeyboard::mutableKey(const QString& name) {
    for (KeyPanel& k : keys_)
        if (k.name == name) return k;
    Q_UNREACHABLE();
}

QString OnScreenKeyboard::layout() const {
    return key("KTYPE")->caption == kQwerty ? kAzerty : kQwerty;
}

void OnScreenKeyboard::setLayoutCaptions(bool azerty) {
    mutableKey("Panel1").caption = azerty ? "A" : "Q";
    mutableKey("Panel2").caption = azerty ? "Z" : "W";
    mutableKey("Panel11").caption = azerty ? "Q" : "A";
    mutableKey("Panel22").caption = azerty ? "W" : "Z";
    mutableKey("Panel39").caption = azerty ? "." : "M";
    mutableKey("Panel20").caption = azerty ? "M" : ".";
    // KTYPE names the layout a click switches to.
    mutableKey("KTYPE").caption = azerty ? kQwerty : kAzerty;
    update();
}

void OnScreenKeyboard::toggleLayout() {
    const bool toAzerty = key("KTYPE")->caption != kQwerty;
    setLayoutCaptions(toAzerty);
    // A store that cannot be written leaves the layout changed on screen only.
    writeKeyboardSetting(kKeyboardValue, toAzerty ? kAzerty : kQwerty);
}

bool OnScreenKeyboard::clickHits(const KeyPanel& panel) const {
    const QRect& r = panel.bounds;
    return r.left() < clickPoint_.x() && clickPoint_.x() < r.left() + r.width() &&
           r.top() < clickPoint_.y() && clickPoint_.y() < r.top() + r.height();
}

void OnScreenKeyboard::sendKey(int code, bool withShift) {
    QWidget* target = QApplication::focusWidget();
    if (!target || target->window() == this) return;
    const KeyStroke stroke = virtualKeyToQt(code, withShift);
    if (!stroke.valid()) return;
    // A modifier key's own event is built with the state before it; QKeyEvent::modifiers()
    // then reports Shift held on the press and released on the release.
    if (withShift) {
        QCoreApplication::postEvent(target,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier));
    }
    QCoreApplication::postEvent(
        target, new QKeyEvent(QEvent::KeyPress, stroke.key, stroke.modifiers, stroke.text));
    QCoreApplication::postEvent(
        target, new QKeyEvent(QEvent::KeyRelease, stroke.key, stroke.modifiers, stroke.text));
    if (withShift) {
        QCoreApplication::postEvent(
            target, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier));
    }
}

void OnScreenKeyboard::pressLetter(const KeyPanel& panel) {
    if (clickHits(panel) && !panel.caption.isEmpty())
        sendKey(panel.caption.at(0).unicode(), shiftLocked_);
}

void OnScreenKeyboard::actOn(const KeyPanel& panel) {
    const bool azertyShown = key("KTYPE")->caption == kQwerty;
    switch (panel.action) {
        case KeyAction::Letter:
            pressLetter(panel);
            break;
        case KeyAction::ShiftLock:
            shiftLocked_ = !shiftLocked_;
            update(panel.bounds);
            break;
        case KeyAction::LetterOrPointM:
            if (azertyShown)
                pressLetter(panel);
            else
                sendKey(vk::kDecimal, false);
            break;
        case KeyAction::PointOrLetterM:
            if (azertyShown)
                sendKey(vk::kDecimal, false);
            else
                pressLetter(panel);
            break;
        case KeyAction::Code:
            sendKey(panel.code, false);
            break;
        case KeyAction::ShiftedCode:
            sendKey(panel.code, true);
            break;
        case KeyAction::Layout:
            toggleLayout();
            break;
    }
}

void OnScreenKeyboard::executePendingClick() {
    if (!isVisible() || !clickPending_) return;
    clickPending_ = false;
    for (const KeyPanel& k : keys_) {
        if (clickHits(k)) {
            actOn(k);
            break;  // keys do not overlap
        }
    }
}

void OnScreenKeyboard::toggleBelow(QWidget* dialog) {
    if (dialog) {
        move(keyboardPositionBelow(dialog->frameGeometry(), frameGeometry().size()));
        // Belonging to the dialog's window keeps the keyboard usable while that dialog is
        // modal: a modal window never blocks the windows that belong to it.
        create();
        if (QWindow* own = windowHandle())
            own->setTransientParent(dialog->window()->windowHandle());
    }
    setVisible(!isVisible());
}

void OnScreenKeyboard::mousePressEvent(QMouseEvent* event) {
    // Only recorded here; the timer acts on the last click of its period.
    clickPending_ = true;
    clickPoint_ = event->position().toPoint();
    event->accept();
}

void OnScreenKeyboard::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a quick double click is a click of its own.
    mousePressEvent(event);
}

void OnScreenKeyboard::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void OnScreenKeyboard::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The keyboard stays usable while another window of the program disables it.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) setEnabled(true);
}

void OnScreenKeyboard::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A click that was not executed before the keyboard went away is dropped, so that it
    // does not type into whatever has the focus when the keyboard shows again.
    if (!isVisible()) clickPending_ = false;
}

void OnScreenKeyboard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);

    QFont letterFont = font();
    letterFont.setPixelSize(17);
    letterFont.setBold(true);
    QFont smallFont = font();
    smallFont.setPixelSize(10);
    smallFont.setBold(true);
    QFont arrowFont = font();
    arrowFont.setPixelSize(26);

    for (const KeyPanel& k : keys_) {
        const QRect r = k.bounds;
        p.setPen(kKeyBorder);
        p.setBrush(kKeyFace);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        p.setPen(QColor(0x78, 0x78, 0x78));  // light inner edge on top and left
        p.drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
        p.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);

        if (k.action == KeyAction::ShiftLock) {
            drawShiftPicture(p, r, shiftLocked_);
            continue;
        }
        if (k.action == KeyAction::Layout || k.caption.size() > 1)
            p.setFont(smallFont);
        else if (k.code == vk::kBack || k.code == vk::kReturn)
            p.setFont(arrowFont);
        else
            p.setFont(letterFont);
        p.setPen(kCaption);
        p.drawText(r, Qt::AlignCenter, k.caption);
    }
}

QIcon keyboardButtonIcon() {
    QPixmap pm(26, 18);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.2));
    p.setBrush(QColor(0xe8, 0xe8, 0xe8));
    p.drawRoundedRect(QRectF(0.5, 0.5, 25, 17), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x40, 0x40, 0x40));
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 6; ++col) p.drawRect(3 + col * 3.5 + row * 1.5, 3 + row * 4, 2, 2);
    p.drawRect(QRectF(6, 12, 14, 2.5));  // space bar
    return QIcon(pm);
}
