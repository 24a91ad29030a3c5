#pragma once
// Pieces of the program block (main.cpp) that are tested on their own.
#include <functional>

class OnScreenKeyboard;
class SecondInstanceWindow;
class FocusWindow;
class MainWindow;

// The single-instance check, before anything opens the camera: true when this is the only
// running instance (or when that cannot be told). Otherwise shows the error window until
// the user dismisses it and returns false.
bool checkSingleInstance(const std::function<void()>& showError);

// The windows the program block creates hidden after the main window: the on-screen
// keyboard, the single-instance error window and the focus aid. The keyboard serves the
// output-name dialog and the overlay dialog; the focus aid is hidden again by the exit
// procedure.
struct AuxiliaryWindows {
    OnScreenKeyboard* keyboard = nullptr;
    SecondInstanceWindow* errorWindow = nullptr;
    FocusWindow* focus = nullptr;
};
AuxiliaryWindows createAuxiliaryWindows(MainWindow& mainWindow);
