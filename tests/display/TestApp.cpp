#include "TestApp.h"

#include <QApplication>

QApplication* EnsureApp() {
    static int argc = 1;
    static char name[] = "test_display";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}
