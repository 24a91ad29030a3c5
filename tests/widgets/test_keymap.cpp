#include <gtest/gtest.h>

#include "widgets/KeyMap.h"

namespace {
void expectStroke(int code, bool shift, int key, const QString& text, Qt::KeyboardModifiers mods) {
    SCOPED_TRACE(testing::Message() << "code " << code << (shift ? " with Shift" : ""));
    const KeyStroke k = virtualKeyToQt(code, shift);
    EXPECT_EQ(k.key, key);
    EXPECT_EQ(k.text, text);
    EXPECT_EQ(k.modifiers, mods);
}
}  // namespace

TEST(VirtualKeyToQt, LettersFollowShift) {
    expectStroke('A', false, Qt::Key_A, "a", Qt::NoModifier);
    expectStroke('Z', false, Qt::Key_Z, "z", Qt::NoModifier);
    expectStroke('M', true, Qt::Key_M, "M", Qt::ShiftModifier);
}

TEST(VirtualKeyToQt, NumericPadKeys) {
    for (int d = 0; d <= 9; ++d)
        expectStroke(vk::kNumpad0 + d, false, Qt::Key_0 + d, QString::number(d),
                     Qt::KeypadModifier);
    expectStroke(vk::kDecimal, false, Qt::Key_Period, ".", Qt::KeypadModifier);
    expectStroke(vk::kSubtract, false, Qt::Key_Minus, "-", Qt::KeypadModifier);
}

TEST(VirtualKeyToQt, MainKeyboardPunctuationAndDigits) {
    expectStroke(vk::kOemMinus, false, Qt::Key_Minus, "-", Qt::NoModifier);
    expectStroke(vk::kOemMinus, true, Qt::Key_Underscore, "_", Qt::ShiftModifier);
    expectStroke(190, false, Qt::Key_Period, ".", Qt::NoModifier);
    expectStroke('7', false, Qt::Key_7, "7", Qt::NoModifier);
    expectStroke('2', true, Qt::Key_At, "@", Qt::ShiftModifier);
}

TEST(VirtualKeyToQt, EditingKeys) {
    expectStroke(vk::kBack, false, Qt::Key_Backspace, "\b", Qt::NoModifier);
    expectStroke(vk::kReturn, false, Qt::Key_Return, "\r", Qt::NoModifier);
    expectStroke(vk::kSpace, false, Qt::Key_Space, " ", Qt::NoModifier);
}

TEST(VirtualKeyToQt, UnknownCodesMapToNothing) {
    EXPECT_FALSE(virtualKeyToQt(0, false).valid());
    EXPECT_FALSE(virtualKeyToQt(255, true).valid());
    EXPECT_FALSE(virtualKeyToQt(-5, false).valid());
}
