#pragma once
// Windows virtual-key codes to the Qt key, text and modifiers that the same physical key
// produces on a US keyboard layout. The on-screen keyboard speaks in virtual-key codes.
#include <QString>
#include <Qt>

struct KeyStroke {
    int key = 0;  // Qt::Key; 0 when the code has no mapping
    QString text;
    Qt::KeyboardModifiers modifiers;
    bool valid() const { return key != 0; }
};

// Virtual-key codes the keyboard window sends.
namespace vk {
constexpr int kBack = 8;
constexpr int kReturn = 13;
constexpr int kShift = 16;
constexpr int kSpace = 32;
constexpr int kNumpad0 = 96;
constexpr int kSubtract = 109;
constexpr int kDecimal = 110;
constexpr int kOemMinus = 189;
}  // namespace vk

// The key stroke for `code` pressed with or without Shift held.
KeyStroke virtualKeyToQt(int code, bool withShift);
