#include "shell/DoubleInst.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>

#include "controls/ModalWait.h"

TForm6* Form6 = nullptr;

ProcessViewerCommand FindProcessViewer(
    const std::function<QString(const QString&)>& findExecutable) {
    static const char* const kMonitors[] = {
        "gnome-system-monitor",
        "plasma-systemmonitor",
        "ksysguard",
        "xfce4-taskmanager",
        "mate-system-monitor",
        "lxtask",
        "qps",
    };
    for (const char* name : kMonitors) {
        const QString path = findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty()) return {path, {}};
    }
    const QString top = findExecutable(QStringLiteral("top"));
    if (top.isEmpty()) return {};
    // Terminals and how each is told to run a command.
    static const struct {
        const char* name;
        const char* runFlag;
    } kTerminals[] = {
        {"x-terminal-emulator", "-e"},
        {"gnome-terminal", "--"},
        {"konsole", "-e"},
        {"xfce4-terminal", "-x"},
        {"mate-terminal", "-x"},
        {"lxterminal", "-e"},
        {"xterm", "-e"},
    };
    for (const auto& t : kTerminals) {
        const QString path = findExecutable(QString::fromLatin1(t.name));
        if (!path.isEmpty()) return {path, {QString::fromLatin1(t.runFlag), top}};
    }
    return {};
}

TForm6::TForm6(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("KORVANE - Error"));
    setFixedSize(387, 121);
    setAttribute(Qt::WA_QuitOnClose, false);
    // Tahoma 8 points where installed; otherwise a font of similar width, so that the
    // texts fit their fixed places.
    QFont f;
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                   QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial")});
    f.setPointSize(8);
    setFont(f);

    Label1 = new QLabel(
        QStringLiteral("Only one instance of this program can be running at any time"), this);
    Label1->setWordWrap(true);
    QFont bold = f;
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setStyleSheet(QStringLiteral("color: red"));
    Label1->setGeometry(16, 16, 387 - 16 - 8, Label1->heightForWidth(387 - 24));

    Label2 = new QLabel(
        QStringLiteral(
            "Before restarting, make sure all open instances of this program are closed"),
        this);
    Label2->move(15, 40);
    Label2->adjustSize();

    Label3 = new QLabel(QStringLiteral("If required, kill pending instances using the "), this);
    Label3->move(16, 59);
    Label3->adjustSize();

    // Shown as a link; on Linux it opens the desktop's process viewer.
    Label4 = new QLabel(QStringLiteral("<a href=\"viewer\" style=\"text-decoration:none\">"
                                       "<b>PROCESS VIEWER</b></a>"),
                        this);
    Label4->setTextFormat(Qt::RichText);
    Label4->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->adjustSize();
    // Right after Label3, which a wider font than the original may push past 230.
    Label4->move(std::max(230, Label3->x() + Label3->width()), 59);
    connect(Label4, &QLabel::linkActivated, this, [this] { Label4Click(); });

    AdvGlassButton1 = new QPushButton(QStringLiteral("Exit"), this);
    AdvGlassButton1->setGeometry(152, 84, 101, 29);
    AdvGlassButton1->setStyleSheet(
        QStringLiteral("QPushButton { color: white; border: 1px solid #505050; border-radius: 4px;"
                       " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #a8a8a8,"
                       " stop:0.5 #858585, stop:0.51 #6e6e6e, stop:1 #7c7c7c); }"
                       "QPushButton:hover { border-color: #303030; }"
                       "QPushButton:pressed { background: #5e5e5e; }"));
    connect(AdvGlassButton1, &QPushButton::clicked, this, [this] { Button1Click(); });

    FindExecutable = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    StartDetached = [](const QString& program, const QStringList& args) {
        return QProcess::startDetached(program, args);
    };
}

void TForm6::Label4Click() {
    const ProcessViewerCommand cmd = FindProcessViewer(FindExecutable);
    if (!cmd.isEmpty() && StartDetached) StartDetached(cmd.program, cmd.arguments);
}

void TForm6::Button1Click() {
    hide();
}

void TForm6::reject() {
    hide();
}

void TForm6::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

void MultiInstance1ForceClose() {
    // The previous window, if any, is hidden; the new one becomes the current instance.
    delete Form6;
    Form6 = new TForm6();
    Form6->show();
    Form6->raise();
    Form6->activateWindow();
    WaitUntilHidden(Form6);
}
