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
        testenv::clearSettings();
        main_ = std::make_unique<QWidget>();
        main_->setGeometry(100, 50, 800, 600);
        mainButton_ = new QPushButton("Capture", main_.get());
        mainButton_->setGeometry(10, 10, 80, 30);
        main_->show();
        main_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main_.get()));
        dlg_ = new OutputNameDialog(main_.get());
    }
    void TearDown() override {
        delete dlg_;
        main_.reset();
    }

    // Runs `action` once the dialog is up, then returns what execOver returned. A dialog
    // still open after five seconds is closed and counts as a failure.
    bool executeWith(std::function<void()> action) {
        bool timedOut = false;
        QTimer::singleShot(0, dlg_, [this, action] {
            EXPECT_TRUE(dlg_->isVisible());
            EXPECT_TRUE(QTest::qWaitForWindowActive(dlg_));
            EXPECT_EQ(QGuiApplication::modalWindow(), dlg_->windowHandle());
            action();
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            dlg_->hide();
        });
        watchdog.start(5000);
        const bool ok = dlg_->execOver(main_.get());
        EXPECT_FALSE(timedOut) << "the dialog did not close";
        EXPECT_FALSE(dlg_->isVisible());
        return ok;
    }

    std::unique_ptr<QWidget> main_;
    QPushButton* mainButton_ = nullptr;
    QPushButton* button(const char* name) const { return dlg_->findChild<QPushButton*>(name); }
    QLineEdit* edit() const { return dlg_->findChild<QLineEdit*>("Edit1"); }

    OutputNameDialog* dlg_ = nullptr;
};
}  // namespace

TEST_F(FileNameDialogTest, Shape) {
    EXPECT_EQ(dlg_->size(), QSize(296, 72));
    EXPECT_EQ(dlg_->windowTitle(), "Output File Names");
    EXPECT_TRUE(dlg_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg_->windowFlags() & Qt::WindowStaysOnTopHint);
    for (QWidget* w : dlg_->findChildren<QWidget*>())
        EXPECT_TRUE(dlg_->rect().contains(w->geometry())) << w->metaObject()->className();
}

TEST_F(FileNameDialogTest, EmptyNameConfirmedGivesCapture) {
    EXPECT_TRUE(executeWith([this] { QTest::mouseClick(button("Button1"), Qt::LeftButton); }));
    EXPECT_EQ(dlg_->baseName(), "CAPTURE");
    EXPECT_EQ(edit()->text(), "CAPTURE");

    dlg_->setBaseName("");
    EXPECT_TRUE(executeWith([this] { QTest::keyClick(edit(), Qt::Key_Return); }));
    EXPECT_EQ(dlg_->baseName(), "CAPTURE");
}

TEST_F(FileNameDialogTest, EnterActsAsOkAndKeepsTheNameAsTyped) {
    dlg_->setBaseName("OLD");
    EXPECT_TRUE(executeWith([this] {
        EXPECT_EQ(edit()->text(), "OLD");  // the edit starts with the current name
        edit()->clear();
        QTest::keyClicks(edit(), " M42 ");
        QTest::keyClick(edit(), Qt::Key_Enter);
    }));
    EXPECT_EQ(dlg_->baseName(), " M42 ");
}

TEST_F(FileNameDialogTest, CancelAndEscapeKeepTheOldName) {
    dlg_->setBaseName("JUPITER");
    EXPECT_FALSE(executeWith([this] {
        edit()->setText("MARS");
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
    }));
    EXPECT_EQ(dlg_->baseName(), "JUPITER");

    EXPECT_FALSE(executeWith([this] {
        edit()->setText("SATURN");
        QTest::keyClick(edit(), Qt::Key_Escape);
    }));
    EXPECT_EQ(dlg_->baseName(), "JUPITER");
    // Showing again starts from the kept name, not from the abandoned text.
    EXPECT_TRUE(executeWith([this] { QTest::mouseClick(button("Button1"), Qt::LeftButton); }));
    EXPECT_EQ(dlg_->baseName(), "JUPITER");
}

TEST_F(FileNameDialogTest, PlacedOverTheMainWindow) {
    QPoint shownAt;
    executeWith([&] {
        shownAt = dlg_->pos();
        dlg_->reject();
    });
    const QRect m = main_->frameGeometry();
    EXPECT_EQ(shownAt, QPoint(m.left() + (m.width() - 296) / 2, m.top() + 70));
    EXPECT_EQ(dialogPositionOver(QRect(100, 50, 800, 600), QSize(296, 72)), QPoint(352, 120));
    // div truncates toward zero also when the main window is narrower.
    EXPECT_EQ(dialogPositionOver(QRect(0, 0, 201, 100), QSize(296, 72)), QPoint(-47, 70));
}

TEST_F(FileNameDialogTest, MainWindowBlockedWhileOpen) {
    QSignalSpy clicks(mainButton_, &QPushButton::clicked);
    // Clicks through the window system, which is where blocked windows drop their input.
    auto clickMain = [&] {
        QTest::mouseClick(main_->windowHandle(), Qt::LeftButton, {},
                          mainButton_->geometry().center());
    };
    executeWith([&] {
        clickMain();
        dlg_->reject();
    });
    EXPECT_EQ(clicks.count(), 0);
    clickMain();
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(FileNameDialogTest, TypingOnTheOnScreenKeyboard) {
    OnScreenKeyboard kb;
    kb.findChild<QTimer*>("Timer1")->stop();
    dlg_->attachKeyboard(&kb);
    auto hit = [&](const char* key) {
        // Through the window system: the keyboard must not be blocked by the modal dialog.
        QTest::mouseClick(kb.windowHandle(), Qt::LeftButton, {}, kb.key(key)->bounds.center());
        kb.executePendingClick();
        QCoreApplication::sendPostedEvents();
    };
    bool shownBelow = false;
    const bool ok = executeWith([&] {
        QTest::mouseClick(dlg_->findChild<QToolButton*>("AdvGlassButton3"), Qt::LeftButton);
        // The keyboard shows without keeping the activation (the window system's answer
        // arrives as an event).
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dlg_; }));
        shownBelow =
            kb.isVisible() && kb.pos() == keyboardPositionBelow(dlg_->frameGeometry(), kb.size());
        EXPECT_EQ(QApplication::focusWidget(), edit());
        hit("Panel3");   // E
        hit("Panel44");  // backspace
        hit("Panel6");   // Y
        hit("Panel28");  // 7
        hit("Panel45");  // return: OK
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(shownBelow);
    EXPECT_EQ(dlg_->baseName(), "y7");
    EXPECT_FALSE(kb.isVisible());  // hidden together with the dialog
}

TEST_F(FileNameDialogTest, KeyboardButtonToggles) {
    int toggles = 0;
    QWidget* toggledFor = nullptr;
    QObject::connect(dlg_, &KeyboardDialog::keyboardToggleRequested, [&](QWidget* d) {
        ++toggles;
        toggledFor = d;
    });
    int hides = 0;
    QObject::connect(dlg_, &KeyboardDialog::keyboardHideRequested, [&] { ++hides; });
    executeWith([&] {
        dlg_->toggleKeyboard();
        dlg_->toggleKeyboard();
        dlg_->reject();
    });
    EXPECT_EQ(toggles, 2);
    EXPECT_EQ(toggledFor, dlg_);
    EXPECT_EQ(hides, 1);
}
