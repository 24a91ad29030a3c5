// The program: single-instance check, splash, main window, hidden auxiliary windows, event
// loop. A normal end closes the main window, whose exit procedure stores the settings and
// stops the camera before the event loop ends.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "acquisition/CameraLib.h"
#include "platform/AppInfo.h"
#include "platform/HardExit.h"
#include "platform/Message.h"
#include "recording/RecordingController.h"
#include "shell/CaptureBus.h"
#include "shell/CommandLine.h"
#include "shell/Log.h"
#include "shell/MainWindow.h"
#include "shell/ProgramSetup.h"
#include "shell/SignalCloser.h"
#include "tv_build_config.h"
#include "widgets/CodecDialog.h"
#include "widgets/SecondInstanceWindow.h"
#include "widgets/SplashScreen.h"

int main(int argc, char** argv) {
    // --help and --version answer without a display.
    const CommandLine line = parseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(stderr, "%s: %s\n\n%s", kAppName, line.error.c_str(),
                     commandLineUsage().c_str());
        return 2;
    }
    if (line.help) {
        std::fputs(commandLineHelp(availableCameras()).c_str(), stdout);
        return 0;
    }
    if (line.version) {
        std::printf("%s %s\n", kAppName, kAppVersion);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppName));
    // The installed icon (hicolor theme) and desktop entry, for the windows and the taskbar.
    QApplication::setDesktopFileName(QStringLiteral(TV_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(TV_APP_ID)));

    // SIGTERM, SIGINT and SIGHUP close the program like the close box (before the main
    // window exists: whatever window is open). During start-up a message in front (such as
    // "NO CAMERA!") is closed instead, so the program ends the way that message ends it.
    MainWindow* mainWindow = nullptr;
    bool started = false;
    SignalCloser closer([&mainWindow, &started](int) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!started && modal)
            modal->close();
        else if (mainWindow)
            mainWindow->close();
        else
            QApplication::closeAllWindows();
    });

    // A second instance says so and ends before it touches the camera or the settings.
    if (!checkSingleInstance(showSecondInstanceError)) hardExit(1);

    auto* splash = new SplashScreen;
    splash->show();
    QCoreApplication::processEvents();

    // Fixed-text messages as modal boxes, above the splash while it is up.
    setMessageHandler([](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppName), text, QMessageBox::Ok);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.exec();
    });
    setQuestionHandler([](const QString& text) {
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppName), text,
                        QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        return box.exec() == QMessageBox::Yes;
    });

    // The camera given on the command line, else the one chosen last time (in the settings
    // or with "Select Camera..."); it is kept for the next start once it has opened.
    const CameraChoice camera = resolveCameraChoice(line);

    MainWindow::StartOptions options;
    options.splash = splash;
    options.splashDelayMs = 2000;
    options.loadCameraLibrary = [camera](std::string* error) {
        return loadCameraChoice(camera, error);
    };
    options.camera = camera;
    options.noCameraHint = noCameraHint(camera, readWorkingCameraChoice(), availableCameras());
    mainWindow = new MainWindow(std::move(options));
    // With the codec set to "Ask when opening", every AVI part asks for its codec.
    mainWindow->recorder().avi().setCodecChooser(
        [lastChoice = packFourCc('I', 'Y', 'U', 'V')](const std::vector<AviCodec>& offered,
                                                      const std::string& partName,
                                                      int32_t& fourcc) mutable {
            // The codec chosen last is offered first for the next part.
            if (!chooseCodec(QApplication::activeWindow(), offered, partName, lastChoice))
                return false;
            fourcc = lastChoice;
            return true;
        });
    // Scripts reach the program once its camera runs.
    QObject::connect(mainWindow, &MainWindow::started, [&started, mainWindow] {
        started = true;
        startCaptureBus(*mainWindow);
    });
    mainWindow->start();  // halts when the camera does not open
    if (!rememberWorkingCamera(camera))
        qCWarning(lcProgram, "the camera choice could not be stored");

    // Hidden until asked for; they live until the process ends.
    createAuxiliaryWindows(*mainWindow);

    const int code = app.exec();
    // However the event loop ended, the exit procedure has run once: the recording is
    // closed, the settings are on disk, the camera is stopped.
    runExitHandlerOnce();
    // The process ends here without the static destructors: a camera library's own
    // threads (the INDI client's listener) may still run, and tearing down the libraries'
    // statics under them crashed the program on its way out. Nothing is left to write.
    std::fflush(nullptr);
    std::_Exit(code);
}
