#pragma once
// The error window shown when the program is started while another instance runs, with a
// link that opens the desktop's process viewer, and the routine that shows it and waits.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

// A program to start: its executable and arguments. Empty program: nothing to start.
struct ProcessViewerCommand {
    QString program;
    QStringList arguments;
    bool isEmpty() const { return program.isEmpty(); }
};

// The first process viewer found by `findExecutable` (name -> full path, empty when not
// installed): a desktop system monitor, else a terminal running top, else nothing.
ProcessViewerCommand findProcessViewer(
    const std::function<QString(const QString&)>& findExecutable);

class SecondInstanceWindow : public QDialog {
    Q_OBJECT
  public:
    explicit SecondInstanceWindow(QWidget* parent = nullptr);

    // The "PROCESS VIEWER" link: starts the process viewer if one is installed; the window
    // stays open.
    void openProcessViewer();

    // Replaces how executables are looked up and programs started (detached).
    using FindExecutable = std::function<QString(const QString&)>;
    using StartDetached = std::function<bool(const QString&, const QStringList&)>;
    void setProcessLauncher(FindExecutable find, StartDetached start);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    FindExecutable findExecutable_;
    StartDetached startDetached_;
};

// Shows a new error window, modally, and returns once it is closed by "Exit", its close
// box or Escape.
void showSecondInstanceError();
