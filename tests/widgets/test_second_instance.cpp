#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "widgets/SecondInstanceWindow.h"

namespace {
// The error window that showSecondInstanceError has open, if any.
SecondInstanceWindow* openWindow() {
    return qobject_cast<SecondInstanceWindow*>(QApplication::activeModalWidget());
}

// Runs showSecondInstanceError with `action` applied to the window once it shows.
// Returns false when the wait had to be broken by the watchdog.
bool showErrorWith(std::function<void(SecondInstanceWindow*)> action) {
    bool timedOut = false;
    QTimer::singleShot(0, [action] {
        SecondInstanceWindow* w = openWindow();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible());
        action(w);
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        if (SecondInstanceWindow* w = openWindow()) w->hide();
    });
    watchdog.start(5000);
    showSecondInstanceError();
    return !timedOut;
}

QLabel* label(const QWidget& w, const char* name) {
    return w.findChild<QLabel*>(name);
}

std::function<QString(const QString&)> installed(QStringList names) {
    return [names](const QString& n) { return names.contains(n) ? "/usr/bin/" + n : QString(); };
}
}  // namespace

TEST(ProcessViewer, PrefersADesktopMonitor) {
    auto cmd = findProcessViewer(installed({"xterm", "top", "xfce4-taskmanager"}));
    EXPECT_EQ(cmd.program, "/usr/bin/xfce4-taskmanager");
    EXPECT_TRUE(cmd.arguments.isEmpty());
    cmd = findProcessViewer(installed({"lxtask", "gnome-system-monitor"}));
    EXPECT_EQ(cmd.program, "/usr/bin/gnome-system-monitor");
}

TEST(ProcessViewer, FallsBackToTopInATerminal) {
    auto cmd = findProcessViewer(installed({"xterm", "top"}));
    EXPECT_EQ(cmd.program, "/usr/bin/xterm");
    EXPECT_EQ(cmd.arguments, QStringList({"-e", "/usr/bin/top"}));
    cmd = findProcessViewer(installed({"gnome-terminal", "top"}));
    EXPECT_EQ(cmd.arguments, QStringList({"--", "/usr/bin/top"}));
    EXPECT_TRUE(findProcessViewer(installed({"xterm"})).isEmpty());  // no top
    EXPECT_TRUE(findProcessViewer(installed({"top"})).isEmpty());    // no terminal
    EXPECT_TRUE(findProcessViewer(installed({})).isEmpty());
}

TEST(ErrorWindow, TextsAndLayout) {
    SecondInstanceWindow w;
    QLabel* label1 = label(w, "Label1");
    QLabel* label2 = label(w, "Label2");
    QLabel* label3 = label(w, "Label3");
    QLabel* label4 = label(w, "Label4");
    auto* exit = w.findChild<QPushButton*>("AdvGlassButton1");
    ASSERT_TRUE(label1 && label2 && label3 && label4 && exit);
    EXPECT_EQ(w.windowTitle(), "KORVANE - Error");
    EXPECT_EQ(w.size(), QSize(387, 121));
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(label1->text(), "Only one instance of this program can be running at any time");
    EXPECT_EQ(label2->text(),
              "Before restarting, make sure all open instances of this program are closed");
    EXPECT_EQ(label3->text(), "If required, kill pending instances using the ");
    EXPECT_EQ(exit->text(), "Exit");
    EXPECT_EQ(exit->geometry(), QRect(152, 84, 101, 29));
    EXPECT_EQ(label3->pos(), QPoint(16, 59));
    // Every text fits the window, the link follows Label3 on its line, nothing overlaps.
    for (QLabel* l : {label1, label2, label3, label4})
        EXPECT_TRUE(w.rect().contains(l->geometry())) << l->text().toStdString();
    EXPECT_GE(label4->x(), label3->geometry().right());
    EXPECT_EQ(label4->y(), 59);
    EXPECT_LE(label1->geometry().bottom(), label2->y());
    EXPECT_LE(label2->geometry().bottom(), label3->y());
    EXPECT_LE(label3->geometry().bottom(), exit->y());
}

TEST(ErrorWindow, ExitCloseBoxAndEscapeEndTheWait) {
    EXPECT_TRUE(showErrorWith([](SecondInstanceWindow* w) {
        QTest::mouseClick(w->findChild<QPushButton*>("AdvGlassButton1"), Qt::LeftButton);
    }));
    EXPECT_EQ(openWindow(), nullptr);
    EXPECT_TRUE(showErrorWith([](SecondInstanceWindow* w) { w->close(); }));
    EXPECT_TRUE(showErrorWith([](SecondInstanceWindow* w) { QTest::keyClick(w, Qt::Key_Escape); }));
}

TEST(ErrorWindow, LinkStartsTheViewerAndLeavesTheWindowOpen) {
    QStringList started;
    bool visibleAfterClick = false;
    EXPECT_TRUE(showErrorWith([&](SecondInstanceWindow* w) {
        auto start = [&](const QString& p, const QStringList&) {
            started << p;
            return true;
        };
        w->setProcessLauncher(installed({"ksysguard"}), start);
        w->openProcessViewer();
        emit label(*w, "Label4")->linkActivated("viewer");  // the link's own signal
        visibleAfterClick = w->isVisible();
        w->setProcessLauncher(installed({}), start);
        w->openProcessViewer();  // nothing installed: nothing started
        w->reject();
    }));
    EXPECT_EQ(started, QStringList({"/usr/bin/ksysguard", "/usr/bin/ksysguard"}));
    EXPECT_TRUE(visibleAfterClick);
}
