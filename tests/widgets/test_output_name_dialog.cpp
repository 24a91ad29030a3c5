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
#include "widgets/OnScreenKeyboard.h"
#include "widgets/OutputNameDialog.h"

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
        dlg = new OutputNameDialog(main.get());
    }
    void TearDown() override {
        delete dlg;
        main.reset();
    }

    // Runs `action` once the dialog is up, then returns what execOver returned. A dialog
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
        const bool ok = dlg->execOver(main.get());
        EXPECT_FALSE(timedOut) << "the dialog did not close";
        EXPECT_FALSE(dlg->isVisible());
        return ok;
    }

    std::unique_ptr<QWidget> main;
    QPushButton* mainButton = nullptr;
    QPushButton* Button(const char* name) const { return dlg->findChild<QPushButton*>(name); }
    QLineEdit* Edit() const { return dlg->findChild<QLineEdit*>("Edit1"); }

    OutputNameDialog* dlg = nullptr;
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
    EXPECT_TRUE(ExecuteWith([this] { QTest::mouseClick(Button("Button1"), Qt::LeftButton); }));
    EXPECT_EQ(dlg->baseName(), "CAPTURE");
    EXPECT_EQ(Edit()->text(), "CAPTURE");

    dlg->setBaseName("");
    EXPECT_TRUE(ExecuteWith([this] { QTest::keyClick(Edit(), Qt::Key_Return); }));
    EXPECT_EQ(dlg->baseName(), "CAPTURE");
}

TEST_F(FileNameDialogTest, EnterActsAsOkAndKeepsTheNameAsTyped) {
    dlg->setBaseName("OLD");
    EXPECT_TRUE(ExecuteWith([this] {
        EXPECT_EQ(Edit()->text(), "OLD");  // the edit starts with the current name
        Edit()->clear();
        QTest::keyClicks(Edit(), " M42 ");
        QTest::keyClick(Edit(), Qt::Key_Enter);
    }));
    EXPECT_EQ(dlg->baseName(), " M42 ");
}

TEST_F(FileNameDialogTest, CancelAndEscapeKeepTheOldName) {
    dlg->setBaseName("JUPITER");
    EXPECT_FALSE(ExecuteWith([this] {
        Edit()->setText("MARS");
        QTest::mouseClick(Button("Button2"), Qt::LeftButton);
    }));
    EXPECT_EQ(dlg->baseName(), "JUPITER");

    EXPECT_FALSE(ExecuteWith([this] {
        Edit()->setText("SATURN");
        QTest::keyClick(Edit(), Qt::Key_Escape);
    }));
    EXPECT_EQ(dlg->baseName(), "JUPITER");
    // Showing again starts from the kept name, not from the abandoned text.
    EXPECT_TRUE(ExecuteWith([this] { QTest::mouseClick(Button("Button1"), Qt::LeftButton); }));
    EXPECT_EQ(dlg->baseName(), "JUPITER");
}

TEST_F(FileNameDialogTest, PlacedOverTheMainWindow) {
    QPoint shownAt;
    ExecuteWith([&] {
        shownAt = dlg->pos();
        dlg->reject();
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
        dlg->reject();
    });
    EXPECT_EQ(clicks.count(), 0);
    clickMain();
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(FileNameDialogTest, TypingOnTheOnScreenKeyboard) {
    OnScreenKeyboard kb;
    kb.findChild<QTimer*>("Timer1")->stop();
    dlg->attachKeyboard(&kb);
    auto hit = [&](const char* key) {
        // Through the window system: the keyboard must not be blocked by the modal dialog.
        QTest::mouseClick(kb.windowHandle(), Qt::LeftButton, {}, kb.key(key)->bounds.center());
        kb.executePendingClick();
        QCoreApplication::sendPostedEvents();
    };
    bool shownBelow = false;
    const bool ok = ExecuteWith([&] {
        QTest::mouseClick(dlg->findChild<QToolButton*>("AdvGlassButton3"), Qt::LeftButton);
        // The keyboard shows without keeping the activation (the window system's answer
        // arrives as an event).
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dlg; }));
        shownBelow =
            kb.isVisible() && kb.pos() == KeyboardPositionBelow(dlg->frameGeometry(), kb.size());
        EXPECT_EQ(QApplication::focusWidget(), Edit());
        hit("Panel3");   // E
        hit("Panel44");  // backspace
        hit("Panel6");   // Y
        hit("Panel28");  // 7
        hit("Panel45");  // return: OK
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(shownBelow);
    EXPECT_EQ(dlg->baseName(), "y7");
    EXPECT_FALSE(kb.isVisible());  // hidden together with the dialog
}

TEST_F(FileNameDialogTest, KeyboardButtonToggles) {
    int toggles = 0;
    QWidget* toggledFor = nullptr;
    QObject::connect(dlg, &KeyboardDialog::keyboardToggleRequested, [&](QWidget* d) {
        ++toggles;
        toggledFor = d;
    });
    int hides = 0;
    QObject::connect(dlg, &KeyboardDialog::keyboardHideRequested, [&] { ++hides; });
    ExecuteWith([&] {
        dlg->toggleKeyboard();
        dlg->toggleKeyboard();
        dlg->reject();
    });
    EXPECT_EQ(toggles, 2);
    EXPECT_EQ(toggledFor, dlg);
    EXPECT_EQ(hides, 1);
}
