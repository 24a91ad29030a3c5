#include <gtest/gtest.h>

#include "widgets/KeyMap.h"

namespace {
void ExpectStroke(int code, bool shift, int key, const QString& text, Qt::KeyboardModifiers mods) {
    SCOPED_TRACE(testing::Message() << "code " << code << (shift ? " with Shift" : ""));
    const KeyStroke k = VirtualKeyToQt(code, shift);
    EXPECT_EQ(k.key, key);
    EXPECT_EQ(k.text, text);
    EXPECT_EQ(k.modifiers, mods);
}
}  // namespace

TEST(VirtualKeyToQt, LettersFollowShift) {
    ExpectStroke('A', false, Qt::Key_A, "a", Qt::NoModifier);
    ExpectStroke('Z', false, Qt::Key_Z, "z", Qt::NoModifier);
    ExpectStroke('M', true, Qt::Key_M, "M", Qt::ShiftModifier);
}

TEST(VirtualKeyToQt, NumericPadKeys) {
    for (int d = 0; d <= 9; ++d)
        ExpectStroke(vk::Numpad0 + d, false, Qt::Key_0 + d, QString::number(d), Qt::KeypadModifier);
    ExpectStroke(vk::Decimal, false, Qt::Key_Period, ".", Qt::KeypadModifier);
    ExpectStroke(vk::Subtract, false, Qt::Key_Minus, "-", Qt::KeypadModifier);
}

TEST(VirtualKeyToQt, MainKeyboardPunctuationAndDigits) {
    ExpectStroke(vk::OemMinus, false, Qt::Key_Minus, "-", Qt::NoModifier);
    ExpectStroke(vk::OemMinus, true, Qt::Key_Underscore, "_", Qt::ShiftModifier);
    ExpectStroke(190, false, Qt::Key_Period, ".", Qt::NoModifier);
    ExpectStroke('7', false, Qt::Key_7, "7", Qt::NoModifier);
    ExpectStroke('2', true, Qt::Key_At, "@", Qt::ShiftModifier);
}

TEST(VirtualKeyToQt, EditingKeys) {
    ExpectStroke(vk::Back, false, Qt::Key_Backspace, "\b", Qt::NoModifier);
    ExpectStroke(vk::Return, false, Qt::Key_Return, "\r", Qt::NoModifier);
    ExpectStroke(vk::Space, false, Qt::Key_Space, " ", Qt::NoModifier);
}

TEST(VirtualKeyToQt, UnknownCodesMapToNothing) {
    EXPECT_FALSE(VirtualKeyToQt(0, false).valid());
    EXPECT_FALSE(VirtualKeyToQt(255, true).valid());
    EXPECT_FALSE(VirtualKeyToQt(-5, false).valid());
}
