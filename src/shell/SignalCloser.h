#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into an ordinary close of the program on the window
// thread, so that a desktop session ending or a Ctrl+C in the terminal stores the
// settings and stops the camera like the close box does. The signal handler only writes
// one byte into a socket pair; a QSocketNotifier reads it in the event loop.
#include <QObject>
#include <functional>

class QSocketNotifier;

class SignalCloser : public QObject {
    Q_OBJECT
  public:
    // `onSignal` runs on the window thread for each signal received.
    explicit SignalCloser(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~SignalCloser() override;
    // False when the socket pair or the handlers could not be set up.
    bool isInstalled() const { return installed_; }

  private:
    void readSignal();
    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};
