#pragma once
// One QApplication for the widget tests of this executable (offscreen platform).
class QApplication;
QApplication* EnsureApp();
