#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "QtTestEnv.h"
#include "widgets/OnScreenKeyboard.h"

namespace {
// Records the key events that reach a widget, as "press:<key>:<text>:<modifiers>".
class KeyRecorder : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
            auto* k = static_cast<QKeyEvent*>(e);
            events.push_back(QString("%1:%2:%3:%4")
                                 .arg(e->type() == QEvent::KeyPress ? "press" : "release")
                                 .arg(k->key(), 0, 16)
                                 .arg(k->text())
                                 .arg(int(k->modifiers()), 0, 16));
        }
        return false;
    }
    std::vector<QString> events;
};

QString press(int key, const QString& text, Qt::KeyboardModifiers mods) {
    return QString("press:%1:%2:%3").arg(key, 0, 16).arg(text).arg(int(mods), 0, 16);
}

class KeyboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testenv::clearSettings();
        dialog_ = std::make_unique<QWidget>();
        dialog_->setGeometry(300, 200, 296, 72);
        edit_ = new QLineEdit(dialog_.get());
        auto* layout = new QVBoxLayout(dialog_.get());
        layout->addWidget(edit_);
        dialog_->show();
        dialog_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
        edit_->setFocus();
        edit_->installEventFilter(&recorder_);

        kb_ = std::make_unique<OnScreenKeyboard>();
        kb_->findChild<QTimer*>("Timer1")
            ->stop();  // ticks are driven by hand unless a test says otherwise
        kb_->toggleBelow(dialog_.get());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(kb_.get()));
    }
    void TearDown() override {
        kb_.reset();
        dialog_.reset();
    }

    QPoint centre(const char* name) const {
        const KeyPanel* k = kb_->key(name);
        EXPECT_NE(k, nullptr) << name;
        return k ? k->bounds.center() : QPoint();
    }
    void clickAt(QPoint p) { QTest::mouseClick(kb_->windowHandle(), Qt::LeftButton, {}, p); }
    void click(const char* name) { clickAt(centre(name)); }
    void tick() {
        kb_->executePendingClick();
        QCoreApplication::sendPostedEvents();
    }
    // A click and the timer tick that executes it.
    void hit(const char* name) {
        click(name);
        tick();
    }

    std::unique_ptr<QWidget> dialog_;
    QLineEdit* edit_ = nullptr;
    std::unique_ptr<OnScreenKeyboard> kb_;
    KeyRecorder recorder_;
};
}  // namespace

TEST_F(KeyboardTest, WindowShape) {
    EXPECT_EQ(kb_->size(), QSize(591, 198));
    EXPECT_TRUE(kb_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(kb_->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(kb_->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    // 45 keys, inside the window, none overlapping another.
    const auto& keys = kb_->keys();
    EXPECT_EQ(keys.size(), 45u);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_TRUE(kb_->rect().contains(keys[i].bounds)) << keys[i].name.toStdString();
        for (size_t j = i + 1; j < keys.size(); ++j)
            EXPECT_FALSE(keys[i].bounds.intersects(keys[j].bounds))
                << keys[i].name.toStdString() << " " << keys[j].name.toStdString();
    }
    EXPECT_EQ(kb_->key("Panel43")->bounds, QRect(56, 146, 404, 45));
    EXPECT_EQ(kb_->key("Panel27")->bounds, QRect(256, 100, 40, 45));
}

TEST_F(KeyboardTest, ShowBelowCentresUnderTheDialogAndToggles) {
    // Left: dialog left - (591 - dialog width) div 2; top: 20 below the dialog's frame.
    const QRect d = dialog_->frameGeometry();
    EXPECT_EQ(kb_->pos(), QPoint(d.left() - (591 - d.width()) / 2, d.bottom() + 1 + 20));
    EXPECT_EQ(keyboardPositionBelow(QRect(300, 200, 296, 72), QSize(591, 198)), QPoint(153, 292));
    EXPECT_EQ(keyboardPositionBelow(QRect(0, 0, 300, 50), QSize(591, 198)), QPoint(-145, 70));
    // The difference is odd and negative here: div truncates toward zero.
    EXPECT_EQ(keyboardPositionBelow(QRect(10, 0, 700, 50), QSize(591, 198)), QPoint(64, 70));
    kb_->toggleBelow(dialog_.get());
    EXPECT_FALSE(kb_->isVisible());
    kb_->toggleBelow(dialog_.get());
    EXPECT_TRUE(kb_->isVisible());
}

TEST_F(KeyboardTest, LettersFollowTheShiftLock) {
    hit("Panel3");  // E
    EXPECT_EQ(edit_->text(), "e");

    hit("Panel42");
    EXPECT_TRUE(kb_->shiftLocked());
    hit("Panel3");
    hit("Panel12");                   // S
    EXPECT_EQ(edit_->text(), "eES");  // a lock: it stays on

    hit("Panel42");
    EXPECT_FALSE(kb_->shiftLocked());
    hit("Panel3");
    EXPECT_EQ(edit_->text(), "eESe");
}

TEST_F(KeyboardTest, ShiftLockLeavesOtherKeysAlone) {
    hit("Panel42");
    ASSERT_TRUE(kb_->shiftLocked());
    for (const char* key : {"Panel28", "Panel37", "Panel43", "Panel41", "Panel38", "Panel40"})
        hit(key);
    EXPECT_EQ(edit_->text(), "70 -._");
    // Only the underscore came with Shift: Shift down, the minus key, Shift up.
    const std::vector<QString> expectShifted = {
        "press:" + QString::number(Qt::Key_Shift, 16) +
            "::" + QString::number(int(Qt::ShiftModifier), 16),
        press(Qt::Key_Underscore, "_", Qt::ShiftModifier),
    };
    int shiftPresses = 0;
    for (const QString& e : recorder_.events)
        if (e.startsWith("press:" + QString::number(Qt::Key_Shift, 16))) ++shiftPresses;
    EXPECT_EQ(shiftPresses, 1);
    const auto& ev = recorder_.events;
    ASSERT_GE(ev.size(), 4u);
    EXPECT_EQ(ev[ev.size() - 4], expectShifted[0]);
    EXPECT_EQ(ev[ev.size() - 3], expectShifted[1]);
    EXPECT_TRUE(ev.back().startsWith("release:" + QString::number(Qt::Key_Shift, 16)));
    EXPECT_NE(std::find(ev.begin(), ev.end(), press(Qt::Key_7, "7", Qt::KeypadModifier)), ev.end());
}

TEST_F(KeyboardTest, UnderscoreAlwaysShifted) {
    ASSERT_FALSE(kb_->shiftLocked());
    hit("Panel40");
    EXPECT_EQ(edit_->text(), "_");
}

TEST_F(KeyboardTest, OnlyTheLastClickOfAPeriodActs) {
    click("Panel3");   // E
    click("Panel13");  // D
    tick();
    EXPECT_EQ(edit_->text(), "d");
    tick();  // nothing pending any more
    EXPECT_EQ(edit_->text(), "d");
}

TEST_F(KeyboardTest, DoubleClickCountsAsTwoClicks) {
    hit("Panel5");  // T
    QTest::mouseDClick(kb_->windowHandle(), Qt::LeftButton, {}, centre("Panel5"));
    EXPECT_TRUE(kb_->clickPending());
    tick();
    EXPECT_EQ(edit_->text(), "tt");
}

TEST_F(KeyboardTest, EdgeLinesBelongToNoKey) {
    clickAt(QPoint(56, 30));  // between Panel1 and Panel2
    tick();
    clickAt(QPoint(30, 8));  // top edge of Panel1
    tick();
    clickAt(QPoint(5, 5));  // background
    tick();
    EXPECT_EQ(edit_->text(), "");
    EXPECT_FALSE(kb_->clickPending());
    clickAt(QPoint(57, 30));  // just inside Panel2
    tick();
    EXPECT_EQ(edit_->text(), "z");
}

TEST_F(KeyboardTest, LayoutsSwapMAndThePoint) {
    ASSERT_EQ(kb_->layout(), "AZERTY");
    EXPECT_EQ(kb_->key("KTYPE")->caption, "QWERTY");
    hit("Panel20");  // right of L
    hit("Panel39");  // right of N
    hit("Panel1");
    hit("Panel11");
    EXPECT_EQ(edit_->text(), "m.aq");
    EXPECT_NE(std::find(recorder_.events.begin(), recorder_.events.end(),
                        press(Qt::Key_Period, ".", Qt::KeypadModifier)),
              recorder_.events.end());

    hit("KTYPE");
    EXPECT_EQ(kb_->layout(), "QWERTY");
    EXPECT_EQ(kb_->key("KTYPE")->caption, "AZERTY");
    EXPECT_EQ(kb_->key("Panel20")->caption, ".");
    EXPECT_EQ(kb_->key("Panel39")->caption, "M");
    edit_->clear();
    hit("Panel20");
    hit("Panel39");
    hit("Panel1");
    hit("Panel2");
    hit("Panel11");
    hit("Panel22");
    EXPECT_EQ(edit_->text(), ".mqwaz");
}

TEST_F(KeyboardTest, LayoutSurvivesARestart) {
    hit("KTYPE");
    ASSERT_EQ(kb_->layout(), "QWERTY");
    kb_.reset();
    QFile ini(testenv::settingsFile());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    EXPECT_TRUE(text.contains("[Palvid]")) << text.constData();
    EXPECT_TRUE(text.contains("KEYBOARD=QWERTY")) << text.constData();

    OnScreenKeyboard again;
    EXPECT_EQ(again.layout(), "QWERTY");
    EXPECT_EQ(again.key("Panel1")->caption, "Q");
    again.toggleLayout();
    OnScreenKeyboard third;
    EXPECT_EQ(third.layout(), "AZERTY");
    EXPECT_EQ(readKeyboardSetting("KEYBOARD", "x"), "AZERTY");
}

TEST_F(KeyboardTest, StoredValueOtherThanAzertyGivesQwerty) {
    ASSERT_TRUE(writeKeyboardSetting("KEYBOARD", "XYZ"));
    EXPECT_EQ(OnScreenKeyboard().layout(), "QWERTY");
    ASSERT_TRUE(writeKeyboardSetting("KEYBOARD", ""));
    EXPECT_EQ(OnScreenKeyboard().layout(), "QWERTY");
    ASSERT_TRUE(writeKeyboardSetting("KEYBOARD", "AZERTY"));
    EXPECT_EQ(OnScreenKeyboard().layout(), "AZERTY");
    testenv::clearSettings();
    EXPECT_EQ(OnScreenKeyboard().layout(), "AZERTY");  // nothing stored
    EXPECT_FALSE(writeKeyboardSetting("", "QWERTY"));
}

TEST_F(KeyboardTest, UnwritableStoreStillSwitchesTheLayout) {
    // A settings folder that cannot be created: its place is taken by a plain file.
    const QString blocked = testenv::configDir() + "/blocked";
    QFile f(blocked);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, blocked);
    EXPECT_FALSE(writeKeyboardSetting("KEYBOARD", "QWERTY"));
    hit("KTYPE");
    EXPECT_EQ(kb_->layout(), "QWERTY");
    EXPECT_EQ(readKeyboardSetting("KEYBOARD", "AZERTY"), "AZERTY");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, testenv::configDir());
    QFile::remove(blocked);
}

TEST_F(KeyboardTest, NeverTakesTheFocus) {
    EXPECT_EQ(QApplication::activeWindow(), dialog_.get());
    for (const char* key : {"Panel3", "Panel42", "KTYPE", "Panel43", "Panel44"}) {
        hit(key);
        EXPECT_EQ(QApplication::activeWindow(), dialog_.get()) << key;
        EXPECT_EQ(QApplication::focusWidget(), edit_) << key;
        EXPECT_FALSE(kb_->isActiveWindow());
    }
    kb_->hide();
    kb_->toggleBelow(dialog_.get());
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), dialog_.get());
}

TEST_F(KeyboardTest, BackspaceAndReturnReachTheEdit) {
    QSignalSpy returns(edit_, &QLineEdit::returnPressed);
    hit("Panel7");   // U
    hit("Panel16");  // H
    hit("Panel44");  // backspace
    EXPECT_EQ(edit_->text(), "u");
    EXPECT_EQ(edit_->cursorPosition(), 1);
    hit("Panel45");  // return
    EXPECT_EQ(returns.count(), 1);
}

TEST_F(KeyboardTest, ClickPendingWhenHiddenIsDropped) {
    click("Panel3");
    kb_->hide();
    tick();
    EXPECT_EQ(edit_->text(), "");
    kb_->toggleBelow(dialog_.get());
    tick();
    EXPECT_EQ(edit_->text(), "");
}

TEST_F(KeyboardTest, TimerExecutesClicksOnItsOwn) {
    auto* timer = kb_->findChild<QTimer*>("Timer1");
    timer->start();
    EXPECT_EQ(timer->interval(), 100);
    click("Panel9");               // O
    EXPECT_EQ(edit_->text(), "");  // nothing happens at the click itself
    EXPECT_TRUE(QTest::qWaitFor([&] { return edit_->text() == "o"; }, 5000));
}

TEST_F(KeyboardTest, UsableWhileAnApplicationModalDialogIsOpen) {
    QDialog modal;
    modal.setModal(true);
    QLineEdit* modalEdit = new QLineEdit(&modal);
    kb_->hide();
    modal.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&modal));
    modalEdit->setFocus();
    ASSERT_EQ(QGuiApplication::modalWindow(), modal.windowHandle());
    kb_->toggleBelow(&modal);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &modal; }));
    hit("Panel10");  // P
    EXPECT_EQ(modalEdit->text(), "p");
    EXPECT_EQ(QApplication::activeWindow(), &modal);
}

TEST_F(KeyboardTest, StaysEnabledWhenDisabled) {
    kb_->setEnabled(false);
    EXPECT_TRUE(kb_->isEnabled());
}

TEST_F(KeyboardTest, DrawsShiftStateAndCaptions) {
    const QImage off = kb_->grab().toImage();
    hit("Panel42");
    const QImage on = kb_->grab().toImage();
    const QRect shiftKey = kb_->key("Panel42")->bounds;
    bool changedInside = false, changedOutside = false;
    for (int y = 0; y < off.height(); ++y)
        for (int x = 0; x < off.width(); ++x)
            if (off.pixel(x, y) != on.pixel(x, y))
                (shiftKey.contains(x, y) ? changedInside : changedOutside) = true;
    EXPECT_TRUE(changedInside);
    EXPECT_FALSE(changedOutside);
    EXPECT_EQ(QColor(off.pixel(3, 3)), QColor(0x40, 0x40, 0x40));

    hit("KTYPE");
    const QImage qwerty = kb_->grab().toImage();
    const QRect a = kb_->key("Panel1")->bounds;
    EXPECT_NE(on.copy(a), qwerty.copy(a));
}
