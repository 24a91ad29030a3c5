// The program block: splash, main window, auxiliary windows, event loop, halt.
#include "shell/Main.h"

#include <QApplication>
#include <QMessageBox>

#include "display/FocusWindow.h"
#include "platform/Halt.h"
#include "platform/Message.h"
#include "shell/AppInfo.h"
#include "shell/SignalCloser.h"
#include "shell/SplashScreen.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    auto* splash = new TSplash;
    splash->show();
    QCoreApplication::processEvents();

    QApplication::setApplicationName(QString::fromLatin1(AppName));
    // Fixed-text messages as modal boxes, above the splash while it is up.
    SetMessageHandler([](const std::string& text) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(AppName),
                        QString::fromStdString(text), QMessageBox::Ok);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.exec();
    });

    auto* form = new TForm1;
    form->Splash = splash;
    // SIGTERM, SIGINT and SIGHUP close the program like the close box.
    TSignalCloser closer([form](int) { form->close(); });
    form->FormCreate();

    // Auxiliary windows that start hidden and live until the process ends.
    form->FocusForm = new TFocusForm;
    // (The virtual keyboard and the single-instance error window are created here with
    // their units.)

    const int code = app.exec();
    Halt(code);
}
