#include "widgets/CameraDialog.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <filesystem>

#include "acquisition/CameraLib.h"

namespace {
constexpr const char* kIndi = "indi";
constexpr int kNameRole = Qt::UserRole;

// What each known camera library is, for the list.
QString describe(const QString& name) {
    if (name.isEmpty()) return CameraDialog::tr("Simulated camera (default)");
    if (name == QLatin1String("sim")) return CameraDialog::tr("sim - simulated camera");
    if (name == QLatin1String(kIndi))
        return CameraDialog::tr("indi - INDI server, local or on the network");
    if (name == QLatin1String("ser")) return CameraDialog::tr("ser - plays a SER file (file=PATH)");
    if (name == QLatin1String("aravis"))
        return CameraDialog::tr("aravis - GenICam camera through Aravis (device=ID, format=NAME)");
    return name;
}

bool isKey(const QString& option, const char* key) {
    return option.startsWith(QLatin1String(key) + QLatin1Char('='));
}
}  // namespace

bool listIndiDevices(const std::string& server, std::vector<std::string>& devices,
                     std::string& error) {
    // Loaded once and kept. When the INDI camera is the one in use this is the same library,
    // and the listing still runs on a connection of its own.
    static const auto kListDevices = [] {
        for (const std::string& folder : cameraLibraryFolders()) {
            const std::string path = folder + "libtarvidll-indi.so";
            TarviApi table;
            if (std::filesystem::exists(path) && loadCameraTable(path, table))
                return table.cameraListDevices;
        }
        return decltype(TarviApi::cameraListDevices){nullptr};
    }();
    if (!kListDevices) {
        error = CameraDialog::tr(
                    "the INDI camera library (libtarvidll-indi.so) is not "
                    "installed or cannot list devices")
                    .toStdString();
        return false;
    }
    std::vector<char> buffer(16384);
    const int count = kListDevices(server.c_str(), buffer.data(), static_cast<int>(buffer.size()));
    const std::string text(buffer.data());
    if (count < 0) {
        error = text;
        return false;
    }
    devices.clear();
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        devices.push_back(text.substr(start, end - start));
    return true;
}

// The server's answer to one request.
struct CameraDialog::Answer {
    bool ok = false;
    std::vector<std::string> devices;
    std::string error;
};

namespace {
// The threads that ask servers. Never destroyed and so never waited for: a server that does
// not answer must not hold up the end of the program, and an answer nobody waits for any
// more is dropped with its future.
QThreadPool& fetchPool() {
    static QThreadPool* pool = new QThreadPool;
    return *pool;
}
}  // namespace

CameraDialog::CameraDialog(const std::vector<std::string>& cameras, const CameraSelection& current,
                           SelectionStore store, QWidget* parent, DeviceLister lister)
    : QDialog(parent), lister_(std::move(lister)), store_(std::move(store)) {
    setObjectName(QStringLiteral("CameraDialog"));
    setWindowTitle(tr("Select Camera"));
    auto* layout = new QVBoxLayout(this);

    layout->addWidget(new QLabel(tr("Camera:"), this));
    cameraList_ = new QListWidget(this);
    cameraList_->setObjectName(QStringLiteral("CameraList"));
    auto addCamera = [this](const QString& name) {
        auto* item = new QListWidgetItem(describe(name), cameraList_);
        item->setData(kNameRole, name);
    };
    addCamera(QString());
    for (const std::string& name : cameras) addCamera(QString::fromStdString(name));
    // A choice that is not among those found (a file, or a library since removed) stays.
    if (cameraList_->findItems(describe(current.name), Qt::MatchExactly).isEmpty())
        addCamera(current.name);
    for (int i = 0; i < cameraList_->count(); ++i)
        if (cameraList_->item(i)->data(kNameRole).toString() == current.name)
            cameraList_->setCurrentRow(i);
    layout->addWidget(cameraList_);

    // The INDI server and its cameras.
    auto* indi = new QGroupBox(tr("INDI server"), this);
    indi->setObjectName(QStringLiteral("IndiBox"));
    indiBox_ = indi;
    auto* indiLayout = new QFormLayout(indi);
    serverEdit_ = new QLineEdit(indi);
    serverEdit_->setObjectName(QStringLiteral("ServerEdit"));
    serverEdit_->setPlaceholderText(QStringLiteral("localhost:7624"));
    fetchButton_ = new QPushButton(tr("Fetch devices"), indi);
    fetchButton_->setObjectName(QStringLiteral("FetchButton"));
    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(serverEdit_, 1);
    serverRow->addWidget(fetchButton_);
    indiLayout->addRow(tr("Server (HOST:PORT):"), serverRow);
    deviceList_ = new QListWidget(indi);
    deviceList_->setObjectName(QStringLiteral("DeviceList"));
    indiLayout->addRow(tr("Device:"), deviceList_);
    deviceStatus_ = new QLabel(indi);
    deviceStatus_->setObjectName(QStringLiteral("DeviceStatus"));
    deviceStatus_->setWordWrap(true);
    indiLayout->addRow(deviceStatus_);
    layout->addWidget(indi);

    layout->addWidget(new QLabel(tr("Options (KEY=VALUE, one a line):"), this));
    optionsEdit_ = new QPlainTextEdit(this);
    optionsEdit_->setObjectName(QStringLiteral("OptionsEdit"));
    optionsEdit_->setMaximumHeight(80);
    layout->addWidget(optionsEdit_);

    // For the INDI camera the server and device come from their own fields.
    QString device;
    QStringList other;
    for (const QString& option : current.options) {
        if (current.name == QLatin1String(kIndi) && isKey(option, "server"))
            serverEdit_->setText(option.mid(7));
        else if (current.name == QLatin1String(kIndi) && isKey(option, "device"))
            device = option.mid(7);
        else
            other << option;
    }
    optionsEdit_->setPlainText(other.join(QLatin1Char('\n')));
    auto* first = new QListWidgetItem(tr("(the first camera on the server)"), deviceList_);
    first->setData(kNameRole, QString());
    deviceList_->setCurrentRow(0);
    if (!device.isEmpty()) {
        auto* item = new QListWidgetItem(device, deviceList_);
        item->setData(kNameRole, device);
        deviceList_->setCurrentItem(item);
    }

    auto* note = new QLabel(tr("The camera chosen opens in place of the one in use."), this);
    note->setObjectName(QStringLiteral("NoteLabel"));
    layout->addWidget(note);
    errorLabel_ = new QLabel(this);
    errorLabel_->setObjectName(QStringLiteral("ErrorLabel"));
    errorLabel_->setWordWrap(true);
    errorLabel_->hide();
    layout->addWidget(errorLabel_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    layout->addWidget(buttons);

    fetchWatcher_ = new QFutureWatcher<Answer>(this);
    connect(fetchWatcher_, &QFutureWatcher<Answer>::finished, this, &CameraDialog::showDevices);
    connect(fetchButton_, &QPushButton::clicked, this, &CameraDialog::fetchDevices);
    connect(cameraList_, &QListWidget::currentRowChanged, this, &CameraDialog::cameraChanged);
    connect(buttons, &QDialogButtonBox::accepted, this, &CameraDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CameraDialog::reject);
    cameraChanged();
}

CameraDialog::~CameraDialog() = default;

QString CameraDialog::chosenName() const {
    const QListWidgetItem* item = cameraList_->currentItem();
    return item ? item->data(kNameRole).toString() : QString();
}

void CameraDialog::cameraChanged() {
    indiBox_->setVisible(chosenName() == QLatin1String(kIndi));
}

bool CameraDialog::selection(CameraSelection& out, QString* error) const {
    out.name = chosenName();
    out.options.clear();
    const bool indi = out.name == QLatin1String(kIndi);
    for (QString line : optionsEdit_->toPlainText().split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty()) continue;
        if (line.indexOf(QLatin1Char('=')) < 1) {
            if (error) *error = tr("Not an option of the form KEY=VALUE: ") + line;
            return false;
        }
        // The fields below take precedence over the same options typed here.
        if (indi && (isKey(line, "server") || isKey(line, "device"))) continue;
        out.options << line;
    }
    if (indi) {
        const QString server = serverEdit_->text().trimmed();
        if (!server.isEmpty()) out.options << QStringLiteral("server=") + server;
        const QListWidgetItem* device = deviceList_->currentItem();
        const QString name = device ? device->data(kNameRole).toString() : QString();
        if (!name.isEmpty()) out.options << QStringLiteral("device=") + name;
    }
    return true;
}

void CameraDialog::accept() {
    CameraSelection chosen;
    QString error;
    if (!selection(chosen, &error)) {
    } else if (store_ && !store_(chosen)) {
        error = tr("The choice could not be saved in the settings file.");
    } else {
        QDialog::accept();
        return;
    }
    errorLabel_->setText(error);
    errorLabel_->show();
}

void CameraDialog::fetchDevices() {
    if (fetching_ || !lister_) return;
    fetching_ = true;
    fetchButton_->setEnabled(false);
    deviceStatus_->setText(tr("Asking the server..."));
    // The server may take seconds to answer, or not answer at all: the window thread (and
    // with it the live view and a recording) does not wait for it. The task holds its own
    // copies, so the dialog may be closed before the answer comes.
    fetchWatcher_->setFuture(QtConcurrent::run(
        &fetchPool(), [lister = lister_, server = serverEdit_->text().trimmed().toStdString()] {
            Answer answer;
            answer.ok = lister(server, answer.devices, answer.error);
            return answer;
        }));
}

bool CameraDialog::fetching() const {
    return fetching_;
}

void CameraDialog::showDevices() {
    fetching_ = false;
    fetchButton_->setEnabled(true);
    const Answer answer = fetchWatcher_->result();
    if (!answer.ok) {
        deviceStatus_->setText(QString::fromStdString(answer.error));
        return;
    }
    // The list anew, keeping the device chosen when the server still offers it.
    const QListWidgetItem* current = deviceList_->currentItem();
    const QString chosen = current ? current->data(kNameRole).toString() : QString();
    while (deviceList_->count() > 1) delete deviceList_->takeItem(1);
    deviceList_->setCurrentRow(0);
    for (const std::string& name : answer.devices) {
        const QString device = QString::fromStdString(name);
        auto* item = new QListWidgetItem(device, deviceList_);
        item->setData(kNameRole, device);
        if (device == chosen) deviceList_->setCurrentItem(item);
    }
    deviceStatus_->setText(answer.devices.empty()
                               ? tr("The server offers no camera.")
                               : tr("%1 camera(s) on the server.").arg(answer.devices.size()));
}
