#include "widgets/KeyMap.h"

namespace {
KeyStroke make(int key, QString text, Qt::KeyboardModifiers mods) {
    KeyStroke k;
    k.key = key;
    k.text = std::move(text);
    k.modifiers = mods;
    return k;
}

// Main-keyboard punctuation keys: code, Qt key and text unshifted, Qt key and text shifted.
struct OemKey {
    int code;
    int key;
    char text;
    int shiftedKey;
    char shiftedText;
};
constexpr OemKey kOemKeys[] = {
    {186, Qt::Key_Semicolon, ';', Qt::Key_Colon, ':'},
    {187, Qt::Key_Equal, '=', Qt::Key_Plus, '+'},
    {188, Qt::Key_Comma, ',', Qt::Key_Less, '<'},
    {189, Qt::Key_Minus, '-', Qt::Key_Underscore, '_'},
    {190, Qt::Key_Period, '.', Qt::Key_Greater, '>'},
    {191, Qt::Key_Slash, '/', Qt::Key_Question, '?'},
    {192, Qt::Key_QuoteLeft, '`', Qt::Key_AsciiTilde, '~'},
    {219, Qt::Key_BracketLeft, '[', Qt::Key_BraceLeft, '{'},
    {220, Qt::Key_Backslash, '\\', Qt::Key_Bar, '|'},
    {221, Qt::Key_BracketRight, ']', Qt::Key_BraceRight, '}'},
    {222, Qt::Key_Apostrophe, '\'', Qt::Key_QuoteDbl, '"'},
};

// What Shift turns the digits 0 to 9 of the main row into.
constexpr char kShiftedDigits[] = ")!@#$%^&*(";
constexpr int kShiftedDigitKeys[] = {
    Qt::Key_ParenRight, Qt::Key_Exclam,    Qt::Key_At,          Qt::Key_NumberSign,
    Qt::Key_Dollar,     Qt::Key_Percent,   Qt::Key_AsciiCircum, Qt::Key_Ampersand,
    Qt::Key_Asterisk,   Qt::Key_ParenLeft,
};
}  // namespace

KeyStroke virtualKeyToQt(int code, bool withShift) {
    const Qt::KeyboardModifiers shift = withShift ? Qt::ShiftModifier : Qt::NoModifier;
    const Qt::KeyboardModifiers pad = shift | Qt::KeypadModifier;

    if (code >= 'A' && code <= 'Z') {
        const QChar c(withShift ? code : code - 'A' + 'a');
        return make(Qt::Key_A + (code - 'A'), QString(c), shift);
    }
    if (code >= '0' && code <= '9') {
        const int d = code - '0';
        if (withShift) return make(kShiftedDigitKeys[d], QString(QChar(kShiftedDigits[d])), shift);
        return make(Qt::Key_0 + d, QString(QChar(code)), shift);
    }
    if (code >= vk::kNumpad0 && code <= vk::kNumpad0 + 9) {
        const int d = code - vk::kNumpad0;
        return make(Qt::Key_0 + d, QString(QChar('0' + d)), pad);
    }
    switch (code) {
        case vk::kBack:
            return make(Qt::Key_Backspace, QStringLiteral("\b"), shift);
        case 9:
            return make(withShift ? Qt::Key_Backtab : Qt::Key_Tab, QStringLiteral("\t"), shift);
        case vk::kReturn:
            return make(Qt::Key_Return, QStringLiteral("\r"), shift);
        case vk::kShift:
            return make(Qt::Key_Shift, QString(), Qt::ShiftModifier);
        case 27:
            return make(Qt::Key_Escape, QStringLiteral("\x1b"), shift);
        case vk::kSpace:
            return make(Qt::Key_Space, QStringLiteral(" "), shift);
        case 106:
            return make(Qt::Key_Asterisk, QStringLiteral("*"), pad);
        case 107:
            return make(Qt::Key_Plus, QStringLiteral("+"), pad);
        case vk::kSubtract:
            return make(Qt::Key_Minus, QStringLiteral("-"), pad);
        case vk::kDecimal:
            return make(Qt::Key_Period, QStringLiteral("."), pad);
        case 111:
            return make(Qt::Key_Slash, QStringLiteral("/"), pad);
        default:
            break;
    }
    for (const OemKey& k : kOemKeys) {
        if (k.code != code) continue;
        if (withShift) return make(k.shiftedKey, QString(QChar(k.shiftedText)), shift);
        return make(k.key, QString(QChar(k.text)), shift);
    }
    return KeyStroke{};
}
