#include "widgets/SecondInstanceWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>

ProcessViewerCommand findProcessViewer(
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

SecondInstanceWindow::SecondInstanceWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(tr("KORVANE - Error"));
    setFixedSize(387, 121);
    setAttribute(Qt::WA_QuitOnClose, false);
    // Tahoma 8 points where installed; otherwise a font of similar width, so that the
    // texts fit their fixed places.
    QFont f;
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                   QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial")});
    f.setPointSize(8);
    setFont(f);

    auto* headline =
        new QLabel(tr("Only one instance of this program can be running at any time"), this);
    headline->setObjectName(QStringLiteral("Label1"));
    headline->setWordWrap(true);
    QFont bold = f;
    bold.setBold(true);
    headline->setFont(bold);
    headline->setStyleSheet(QStringLiteral("color: red"));
    headline->setGeometry(16, 16, 387 - 16 - 8, headline->heightForWidth(387 - 24));

    auto* advice = new QLabel(
        tr("Before restarting, make sure all open instances of this program are closed"), this);
    advice->setObjectName(QStringLiteral("Label2"));
    advice->move(15, 40);
    advice->adjustSize();

    auto* killHint = new QLabel(tr("If required, kill pending instances using the "), this);
    killHint->setObjectName(QStringLiteral("Label3"));
    killHint->move(16, 59);
    killHint->adjustSize();

    // Shown as a link; on Linux it opens the desktop's process viewer.
    auto* viewerLink =
        new QLabel(QStringLiteral("<a href=\"viewer\" style=\"text-decoration:none\">"
                                  "<b>%1</b></a>")
                       .arg(tr("PROCESS VIEWER")),
                   this);
    viewerLink->setObjectName(QStringLiteral("Label4"));
    viewerLink->setTextFormat(Qt::RichText);
    viewerLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    viewerLink->setCursor(Qt::PointingHandCursor);
    viewerLink->adjustSize();
    // Right after Label3, which a wider font than the original may push past 230.
    viewerLink->move(std::max(230, killHint->x() + killHint->width()), 59);
    connect(viewerLink, &QLabel::linkActivated, this, &SecondInstanceWindow::openProcessViewer);

    auto* exitButton = new QPushButton(tr("Exit"), this);
    exitButton->setObjectName(QStringLiteral("AdvGlassButton1"));
    exitButton->setGeometry(152, 84, 101, 29);
    exitButton->setStyleSheet(
        QStringLiteral("QPushButton { color: white; border: 1px solid #505050; border-radius: 4px;"
                       " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #a8a8a8,"
                       " stop:0.5 #858585, stop:0.51 #6e6e6e, stop:1 #7c7c7c); }"
                       "QPushButton:hover { border-color: #303030; }"
                       "QPushButton:pressed { background: #5e5e5e; }"));
    connect(exitButton, &QPushButton::clicked, this, &SecondInstanceWindow::reject);

    setProcessLauncher([](const QString& name) { return QStandardPaths::findExecutable(name); },
                       [](const QString& program, const QStringList& args) {
                           return QProcess::startDetached(program, args);
                       });
}

void SecondInstanceWindow::setProcessLauncher(FindExecutable find, StartDetached start) {
    findExecutable_ = std::move(find);
    startDetached_ = std::move(start);
}

void SecondInstanceWindow::openProcessViewer() {
    const ProcessViewerCommand cmd = findProcessViewer(findExecutable_);
    if (!cmd.isEmpty() && startDetached_) startDetached_(cmd.program, cmd.arguments);
}

void SecondInstanceWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

void showSecondInstanceError() {
    SecondInstanceWindow window;
    window.exec();
}
