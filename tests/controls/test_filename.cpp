#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>

#include "QtTestEnv.h"
#include "controls/FileName.h"
#include "controls/VKEY.h"

namespace {
class FileNameDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testenv::ClearSettings();
        main = std::make_unique<QWidget>();
        main->setGeometry(100, 50, 800, 600);
        mainButton = new QPushButton("Capture", main.get());
        mainButton->setGeometry(10, 10, 80, 30);
        main->show();
        main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
        dlg = new TForm5(main.get());
    }
    void TearDown() override {
        delete dlg;
        main.reset();
    }

    // Runs `action` once the dialog is up, then returns what Execute returned. A dialog
    // still open after five seconds is closed and counts as a failure.
    bool ExecuteWith(std::function<void()> action) {
        bool timedOut = false;
        QTimer::singleShot(0, dlg, [this, action] {
            EXPECT_TRUE(dlg->isVisible());
            EXPECT_TRUE(QTest::qWaitForWindowActive(dlg));
            EXPECT_EQ(QGuiApplication::modalWindow(), dlg->windowHandle());
            action();
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            dlg->hide();
        });
        watchdog.start(5000);
        const bool ok = dlg->Execute(main.get());
        EXPECT_FALSE(timedOut) << "the dialog did not close";
        EXPECT_FALSE(dlg->isVisible());
        return ok;
    }

    std::unique_ptr<QWidget> main;
    QPushButton* mainButton = nullptr;
    TForm5* dlg = nullptr;
};
}  // namespace

TEST_F(FileNameDialogTest, Shape) {
    EXPECT_EQ(dlg->size(), QSize(296, 72));
    EXPECT_EQ(dlg->windowTitle(), "Output File Names");
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
    for (QWidget* w : dlg->findChildren<QWidget*>())
        EXPECT_TRUE(dlg->rect().contains(w->geometry())) << w->metaObject()->className();
}

TEST_F(FileNameDialogTest, EmptyNameConfirmedGivesCapture) {
    EXPECT_TRUE(ExecuteWith([this] { QTest::mouseClick(dlg->Button1, Qt::LeftButton); }));
    EXPECT_EQ(dlg->BaseName, "CAPTURE");
    EXPECT_EQ(dlg->Edit1->text(), "CAPTURE");

    dlg->BaseName = "";
    EXPECT_TRUE(ExecuteWith([this] { QTest::keyClick(dlg->Edit1, Qt::Key_Return); }));
    EXPECT_EQ(dlg->BaseName, "CAPTURE");
}

TEST_F(FileNameDialogTest, EnterActsAsOkAndKeepsTheNameAsTyped) {
    dlg->BaseName = "OLD";
    EXPECT_TRUE(ExecuteWith([this] {
        EXPECT_EQ(dlg->Edit1->text(), "OLD");  // the edit starts with the current name
        dlg->Edit1->clear();
        QTest::keyClicks(dlg->Edit1, " M42 ");
        QTest::keyClick(dlg->Edit1, Qt::Key_Enter);
    }));
    EXPECT_EQ(dlg->BaseName, " M42 ");
}

TEST_F(FileNameDialogTest, CancelAndEscapeKeepTheOldName) {
    dlg->BaseName = "JUPITER";
    EXPECT_FALSE(ExecuteWith([this] {
        dlg->Edit1->setText("MARS");
        QTest::mouseClick(dlg->Button2, Qt::LeftButton);
    }));
    EXPECT_EQ(dlg->BaseName, "JUPITER");

    EXPECT_FALSE(ExecuteWith([this] {
        dlg->Edit1->setText("SATURN");
        QTest::keyClick(dlg->Edit1, Qt::Key_Escape);
    }));
    EXPECT_EQ(dlg->BaseName, "JUPITER");
    // Showing again starts from the kept name, not from the abandoned text.
    EXPECT_TRUE(ExecuteWith([this] { QTest::mouseClick(dlg->Button1, Qt::LeftButton); }));
    EXPECT_EQ(dlg->BaseName, "JUPITER");
}

TEST_F(FileNameDialogTest, PlacedOverTheMainWindow) {
    QPoint shownAt;
    ExecuteWith([&] {
        shownAt = dlg->pos();
        dlg->Button2Click();
    });
    const QRect m = main->frameGeometry();
    EXPECT_EQ(shownAt, QPoint(m.left() + (m.width() - 296) / 2, m.top() + 70));
    EXPECT_EQ(DialogPositionOver(QRect(100, 50, 800, 600), QSize(296, 72)), QPoint(352, 120));
    // div truncates toward zero also when the main window is narrower.
    EXPECT_EQ(DialogPositionOver(QRect(0, 0, 201, 100), QSize(296, 72)), QPoint(-47, 70));
}

TEST_F(FileNameDialogTest, MainWindowBlockedWhileOpen) {
    QSignalSpy clicks(mainButton, &QPushButton::clicked);
    // Clicks through the window system, which is where blocked windows drop their input.
    auto clickMain = [&] {
        QTest::mouseClick(main->windowHandle(), Qt::LeftButton, {},
                          mainButton->geometry().center());
    };
    ExecuteWith([&] {
        clickMain();
        dlg->Button2Click();
    });
    EXPECT_EQ(clicks.count(), 0);
    clickMain();
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(FileNameDialogTest, TypingOnTheOnScreenKeyboard) {
    TForm4 kb;
    kb.Timer1.stop();
    dlg->AttachKeyboard(&kb);
    auto hit = [&](const char* key) {
        // Through the window system: the keyboard must not be blocked by the modal dialog.
        QTest::mouseClick(kb.windowHandle(), Qt::LeftButton, {}, kb.Key(key)->Bounds.center());
        kb.Timer1Timer();
        QCoreApplication::sendPostedEvents();
    };
    bool shownBelow = false;
    const bool ok = ExecuteWith([&] {
        QTest::mouseClick(dlg->AdvGlassButton3, Qt::LeftButton);
        // The keyboard shows without keeping the activation (the window system's answer
        // arrives as an event).
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dlg; }));
        shownBelow =
            kb.isVisible() && kb.pos() == KeyboardPositionBelow(dlg->frameGeometry(), kb.size());
        EXPECT_EQ(QApplication::focusWidget(), dlg->Edit1);
        hit("Panel3");   // E
        hit("Panel44");  // backspace
        hit("Panel6");   // Y
        hit("Panel28");  // 7
        hit("Panel45");  // return: OK
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(shownBelow);
    EXPECT_EQ(dlg->BaseName, "y7");
    EXPECT_FALSE(kb.isVisible());  // hidden together with the dialog
}

TEST_F(FileNameDialogTest, KeyboardButtonToggles) {
    int toggles = 0;
    QWidget* toggledFor = nullptr;
    dlg->KeyboardToggle = [&](QWidget* d) {
        ++toggles;
        toggledFor = d;
    };
    int hides = 0;
    dlg->KeyboardHide = [&] { ++hides; };
    ExecuteWith([&] {
        dlg->BitBtn1Click();
        dlg->BitBtn1Click();
        dlg->Button2Click();
    });
    EXPECT_EQ(toggles, 2);
    EXPECT_EQ(toggledFor, dlg);
    EXPECT_EQ(hides, 1);
}
