#pragma once
// "Select Camera...": the camera libraries found, their options as KEY=VALUE lines and, for
// the INDI camera, the server address and the cameras that server offers (asked for only
// when the user presses "Fetch devices"). The choice is stored; the main window then opens it.
#include <QDialog>
#include <QFutureWatcher>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// A camera library ("" = the default simulated camera, a name, or a file path) and its
// options, KEY=VALUE each.
struct CameraSelection {
    QString name;
    QStringList options;
};

// The cameras an INDI server offers: true with their names, or false with the reason.
using DeviceLister = std::function<bool(const std::string& server,
                                        std::vector<std::string>& devices, std::string& error)>;
// Keeps the choice for the next start; false when it could not be saved.
using SelectionStore = std::function<bool(const CameraSelection&)>;

// Asks the INDI camera library (libtarvidll-indi.so from the camera library folders, loaded
// on a handle of its own) for the cameras of the server at HOST:PORT ("" = its default).
bool listIndiDevices(const std::string& server, std::vector<std::string>& devices,
                     std::string& error);

class CameraDialog : public QDialog {
    Q_OBJECT

  public:
    CameraDialog(const std::vector<std::string>& cameras, const CameraSelection& current,
                 SelectionStore store, QWidget* parent = nullptr,
                 DeviceLister lister = listIndiDevices);
    ~CameraDialog() override;

    // The choice as the dialog's fields make it; false (with the reason) when an option
    // line is not KEY=VALUE.
    bool selection(CameraSelection& out, QString* error = nullptr) const;
    // Starts asking the server in the address field; the list fills when it answers.
    void fetchDevices();
    // True from fetchDevices until the answer is shown.
    bool fetching() const;

    void accept() override;

  private:
    struct Answer;
    QString chosenName() const;
    void cameraChanged();
    // Shows the answer of the request that has just finished.
    void showDevices();

    DeviceLister lister_;
    SelectionStore store_;
    QListWidget* cameraList_ = nullptr;
    QPlainTextEdit* optionsEdit_ = nullptr;
    QWidget* indiBox_ = nullptr;
    QLineEdit* serverEdit_ = nullptr;
    QPushButton* fetchButton_ = nullptr;
    QListWidget* deviceList_ = nullptr;
    QLabel* deviceStatus_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QFutureWatcher<Answer>* fetchWatcher_ = nullptr;
    bool fetching_ = false;
};
