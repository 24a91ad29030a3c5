#pragma once
// Runs a local event loop until a window is hidden: the wait behind the program's
// "show it, then carry on when the user has dismissed it" dialogs.
class QWidget;

// Returns at once when `window` is not visible; otherwise processes events until it is
// hidden (by code, by a button or by its close box) or destroyed. A minimised window
// still counts as shown.
void WaitUntilHidden(QWidget* window);
