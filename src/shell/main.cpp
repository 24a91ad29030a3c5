// The program block: single-instance check, splash, main window, hidden auxiliary
// windows, event loop, halt.
#include "shell/Main.h"

#include <QApplication>
#include <QMessageBox>

#include "controls/CodecDialog.h"
#include "platform/Halt.h"
#include "platform/Message.h"
#include "shell/AppInfo.h"
#include "shell/SecondInstanceWindow.h"
#include "shell/ProgramBlock.h"
#include "shell/SignalCloser.h"
#include "shell/SplashScreen.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppName));

    // SIGTERM, SIGINT and SIGHUP close the program like the close box (before the main
    // window exists: whatever window is open).
    TForm1* form = nullptr;
    TSignalCloser closer([&form](int) {
        if (form)
            form->close();
        else
            QApplication::closeAllWindows();
    });

    // A second instance says so and ends before it touches the camera or the settings.
    if (!CheckSingleInstance(ShowSecondInstanceError)) Halt(1);

    auto* splash = new SplashScreen;
    splash->show();
    QCoreApplication::processEvents();

    // Fixed-text messages as modal boxes, above the splash while it is up.
    SetMessageHandler([](const std::string& text) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(AppName),
                        QString::fromStdString(text), QMessageBox::Ok);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.exec();
    });

    // With the codec set to "Ask when opening", every AVI part asks for its codec.
    SetAviCodecChooser([lastChoice = PackFourCC('I', 'Y', 'U', 'V')](
                           const std::vector<AviCodec>& offered, const std::string& partName,
                           int32_t& fourcc) mutable {
        // The codec chosen last is offered first for the next part.
        if (!ChooseCodec(QApplication::activeWindow(), offered, partName, lastChoice)) return false;
        fourcc = lastChoice;
        return true;
    });

    form = new TForm1;
    form->Splash = splash;
    form->FormCreate();

    // Hidden until asked for; they live until the process ends.
    CreateAuxiliaryWindows(*form);

    const int code = app.exec();
    Halt(code);
}
