#pragma once
// The error window shown when the program is started while another instance runs, with a
// link that opens the desktop's process viewer, and the routine that shows it and waits.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QPushButton;

// A program to start: its executable and arguments. Empty program: nothing to start.
struct ProcessViewerCommand {
    QString program;
    QStringList arguments;
    bool isEmpty() const { return program.isEmpty(); }
};

// The first process viewer found by `findExecutable` (name -> full path, empty when not
// installed): a desktop system monitor, else a terminal running top, else nothing.
ProcessViewerCommand FindProcessViewer(
    const std::function<QString(const QString&)>& findExecutable);

class TForm6 : public QDialog {
  public:
    explicit TForm6(QWidget* parent = nullptr);

    // Starts the process viewer if one is installed; the window stays open.
    void Label4Click();
    // "Exit": hides the window.
    void Button1Click();

    // Replaceable for tests: looks up executables and starts a program detached.
    std::function<QString(const QString&)> FindExecutable;
    std::function<bool(const QString&, const QStringList&)> StartDetached;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* AdvGlassButton1;

  protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;
};

// The current error window (nullptr until MultiInstance1ForceClose or start-up creates one).
extern TForm6* Form6;

// Creates a new error window as the current one, shows it without blocking other windows
// and processes events until it is hidden by "Exit" or by its close box.
void MultiInstance1ForceClose();
