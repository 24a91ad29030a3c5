#include <gtest/gtest.h>

#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "shell/DoubleInst.h"

namespace {
// Runs MultiInstance1ForceClose with `action` applied to the window once it shows.
// Returns false when the wait had to be broken by the watchdog.
bool ForceCloseWith(std::function<void(TForm6*)> action) {
    bool timedOut = false;
    QTimer::singleShot(0, [action] {
        ASSERT_NE(Form6, nullptr);
        EXPECT_TRUE(Form6->isVisible());
        action(Form6);
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        if (Form6) Form6->hide();
    });
    watchdog.start(5000);
    MultiInstance1ForceClose();
    return !timedOut;
}

std::function<QString(const QString&)> Installed(QStringList names) {
    return [names](const QString& n) { return names.contains(n) ? "/usr/bin/" + n : QString(); };
}
}  // namespace

TEST(ProcessViewer, PrefersADesktopMonitor) {
    auto cmd = FindProcessViewer(Installed({"xterm", "top", "xfce4-taskmanager"}));
    EXPECT_EQ(cmd.program, "/usr/bin/xfce4-taskmanager");
    EXPECT_TRUE(cmd.arguments.isEmpty());
    cmd = FindProcessViewer(Installed({"lxtask", "gnome-system-monitor"}));
    EXPECT_EQ(cmd.program, "/usr/bin/gnome-system-monitor");
}

TEST(ProcessViewer, FallsBackToTopInATerminal) {
    auto cmd = FindProcessViewer(Installed({"xterm", "top"}));
    EXPECT_EQ(cmd.program, "/usr/bin/xterm");
    EXPECT_EQ(cmd.arguments, QStringList({"-e", "/usr/bin/top"}));
    cmd = FindProcessViewer(Installed({"gnome-terminal", "top"}));
    EXPECT_EQ(cmd.arguments, QStringList({"--", "/usr/bin/top"}));
    EXPECT_TRUE(FindProcessViewer(Installed({"xterm"})).isEmpty());  // no top
    EXPECT_TRUE(FindProcessViewer(Installed({"top"})).isEmpty());    // no terminal
    EXPECT_TRUE(FindProcessViewer(Installed({})).isEmpty());
}

TEST(ErrorWindow, TextsAndLayout) {
    TForm6 w;
    EXPECT_EQ(w.windowTitle(), "KORVANE - Error");
    EXPECT_EQ(w.size(), QSize(387, 121));
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w.Label1->text(), "Only one instance of this program can be running at any time");
    EXPECT_EQ(w.Label2->text(),
              "Before restarting, make sure all open instances of this program are closed");
    EXPECT_EQ(w.Label3->text(), "If required, kill pending instances using the ");
    EXPECT_EQ(w.AdvGlassButton1->text(), "Exit");
    EXPECT_EQ(w.AdvGlassButton1->geometry(), QRect(152, 84, 101, 29));
    EXPECT_EQ(w.Label3->pos(), QPoint(16, 59));
    // Every text fits the window, the link follows Label3 on its line, nothing overlaps.
    for (QLabel* l : {w.Label1, w.Label2, w.Label3, w.Label4})
        EXPECT_TRUE(w.rect().contains(l->geometry())) << l->text().toStdString();
    EXPECT_GE(w.Label4->x(), w.Label3->geometry().right());
    EXPECT_EQ(w.Label4->y(), 59);
    EXPECT_LE(w.Label1->geometry().bottom(), w.Label2->y());
    EXPECT_LE(w.Label2->geometry().bottom(), w.Label3->y());
    EXPECT_LE(w.Label3->geometry().bottom(), w.AdvGlassButton1->y());
}

TEST(ErrorWindow, ExitEndsTheWait) {
    EXPECT_TRUE(
        ForceCloseWith([](TForm6* w) { QTest::mouseClick(w->AdvGlassButton1, Qt::LeftButton); }));
    ASSERT_NE(Form6, nullptr);
    EXPECT_FALSE(Form6->isVisible());
}

TEST(ErrorWindow, CloseBoxEndsTheWait) {
    TForm6* before = Form6;
    EXPECT_TRUE(ForceCloseWith([](TForm6* w) { w->close(); }));
    EXPECT_NE(Form6, before);  // a new window each time
    EXPECT_FALSE(Form6->isVisible());
    EXPECT_TRUE(ForceCloseWith([](TForm6* w) { QTest::keyClick(w, Qt::Key_Escape); }));
}

TEST(ErrorWindow, LinkStartsTheViewerAndLeavesTheWindowOpen) {
    QStringList started;
    bool visibleAfterClick = false;
    EXPECT_TRUE(ForceCloseWith([&](TForm6* w) {
        w->FindExecutable = Installed({"ksysguard"});
        w->StartDetached = [&](const QString& p, const QStringList&) {
            started << p;
            return true;
        };
        w->Label4Click();
        emit w->Label4->linkActivated("viewer");  // the link's own signal
        visibleAfterClick = w->isVisible();
        w->FindExecutable = Installed({});
        w->Label4Click();  // nothing installed: nothing started
        w->Button1Click();
    }));
    EXPECT_EQ(started, QStringList({"/usr/bin/ksysguard", "/usr/bin/ksysguard"}));
    EXPECT_TRUE(visibleAfterClick);
    delete Form6;
    Form6 = nullptr;
}
