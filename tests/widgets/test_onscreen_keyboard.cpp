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

QString Press(int key, const QString& text, Qt::KeyboardModifiers mods) {
    return QString("press:%1:%2:%3").arg(key, 0, 16).arg(text).arg(int(mods), 0, 16);
}

class KeyboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testenv::ClearSettings();
        dialog = std::make_unique<QWidget>();
        dialog->setGeometry(300, 200, 296, 72);
        edit = new QLineEdit(dialog.get());
        auto* layout = new QVBoxLayout(dialog.get());
        layout->addWidget(edit);
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        edit->setFocus();
        edit->installEventFilter(&recorder);

        kb = std::make_unique<OnScreenKeyboard>();
        kb->findChild<QTimer*>("Timer1")
            ->stop();  // ticks are driven by hand unless a test says otherwise
        kb->toggleBelow(dialog.get());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(kb.get()));
    }
    void TearDown() override {
        kb.reset();
        dialog.reset();
    }

    QPoint Centre(const char* name) const {
        const KeyPanel* k = kb->key(name);
        EXPECT_NE(k, nullptr) << name;
        return k ? k->bounds.center() : QPoint();
    }
    void ClickAt(QPoint p) { QTest::mouseClick(kb->windowHandle(), Qt::LeftButton, {}, p); }
    void Click(const char* name) { ClickAt(Centre(name)); }
    void Tick() {
        kb->executePendingClick();
        QCoreApplication::sendPostedEvents();
    }
    // A click and the timer tick that executes it.
    void Hit(const char* name) {
        Click(name);
        Tick();
    }

    std::unique_ptr<QWidget> dialog;
    QLineEdit* edit = nullptr;
    std::unique_ptr<OnScreenKeyboard> kb;
    KeyRecorder recorder;
};
}  // namespace

TEST_F(KeyboardTest, WindowShape) {
    EXPECT_EQ(kb->size(), QSize(591, 198));
    EXPECT_TRUE(kb->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(kb->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(kb->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    // 45 keys, inside the window, none overlapping another.
    const auto& keys = kb->keys();
    EXPECT_EQ(keys.size(), 45u);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_TRUE(kb->rect().contains(keys[i].bounds)) << keys[i].name.toStdString();
        for (size_t j = i + 1; j < keys.size(); ++j)
            EXPECT_FALSE(keys[i].bounds.intersects(keys[j].bounds))
                << keys[i].name.toStdString() << " " << keys[j].name.toStdString();
    }
    EXPECT_EQ(kb->key("Panel43")->bounds, QRect(56, 146, 404, 45));
    EXPECT_EQ(kb->key("Panel27")->bounds, QRect(256, 100, 40, 45));
}

TEST_F(KeyboardTest, ShowBelowCentresUnderTheDialogAndToggles) {
    // Left: dialog left - (591 - dialog width) div 2; top: 20 below the dialog's frame.
    const QRect d = dialog->frameGeometry();
    EXPECT_EQ(kb->pos(), QPoint(d.left() - (591 - d.width()) / 2, d.bottom() + 1 + 20));
    EXPECT_EQ(KeyboardPositionBelow(QRect(300, 200, 296, 72), QSize(591, 198)), QPoint(153, 292));
    EXPECT_EQ(KeyboardPositionBelow(QRect(0, 0, 300, 50), QSize(591, 198)), QPoint(-145, 70));
    // The difference is odd and negative here: div truncates toward zero.
    EXPECT_EQ(KeyboardPositionBelow(QRect(10, 0, 700, 50), QSize(591, 198)), QPoint(64, 70));
    kb->toggleBelow(dialog.get());
    EXPECT_FALSE(kb->isVisible());
    kb->toggleBelow(dialog.get());
    EXPECT_TRUE(kb->isVisible());
}

TEST_F(KeyboardTest, LettersFollowTheShiftLock) {
    Hit("Panel3");  // E
    EXPECT_EQ(edit->text(), "e");

    Hit("Panel42");
    EXPECT_TRUE(kb->shiftLocked());
    Hit("Panel3");
    Hit("Panel12");                  // S
    EXPECT_EQ(edit->text(), "eES");  // a lock: it stays on

    Hit("Panel42");
    EXPECT_FALSE(kb->shiftLocked());
    Hit("Panel3");
    EXPECT_EQ(edit->text(), "eESe");
}

TEST_F(KeyboardTest, ShiftLockLeavesOtherKeysAlone) {
    Hit("Panel42");
    ASSERT_TRUE(kb->shiftLocked());
    for (const char* key : {"Panel28", "Panel37", "Panel43", "Panel41", "Panel38", "Panel40"})
        Hit(key);
    EXPECT_EQ(edit->text(), "70 -._");
    // Only the underscore came with Shift: Shift down, the minus key, Shift up.
    const std::vector<QString> expectShifted = {
        "press:" + QString::number(Qt::Key_Shift, 16) +
            "::" + QString::number(int(Qt::ShiftModifier), 16),
        Press(Qt::Key_Underscore, "_", Qt::ShiftModifier),
    };
    int shiftPresses = 0;
    for (const QString& e : recorder.events)
        if (e.startsWith("press:" + QString::number(Qt::Key_Shift, 16))) ++shiftPresses;
    EXPECT_EQ(shiftPresses, 1);
    const auto& ev = recorder.events;
    ASSERT_GE(ev.size(), 4u);
    EXPECT_EQ(ev[ev.size() - 4], expectShifted[0]);
    EXPECT_EQ(ev[ev.size() - 3], expectShifted[1]);
    EXPECT_TRUE(ev.back().startsWith("release:" + QString::number(Qt::Key_Shift, 16)));
    EXPECT_NE(std::find(ev.begin(), ev.end(), Press(Qt::Key_7, "7", Qt::KeypadModifier)), ev.end());
}

TEST_F(KeyboardTest, UnderscoreAlwaysShifted) {
    ASSERT_FALSE(kb->shiftLocked());
    Hit("Panel40");
    EXPECT_EQ(edit->text(), "_");
}

TEST_F(KeyboardTest, OnlyTheLastClickOfAPeriodActs) {
    Click("Panel3");   // E
    Click("Panel13");  // D
    Tick();
    EXPECT_EQ(edit->text(), "d");
    Tick();  // nothing pending any more
    EXPECT_EQ(edit->text(), "d");
}

TEST_F(KeyboardTest, DoubleClickCountsAsTwoClicks) {
    Hit("Panel5");  // T
    QTest::mouseDClick(kb->windowHandle(), Qt::LeftButton, {}, Centre("Panel5"));
    EXPECT_TRUE(kb->clickPending());
    Tick();
    EXPECT_EQ(edit->text(), "tt");
}

TEST_F(KeyboardTest, EdgeLinesBelongToNoKey) {
    ClickAt(QPoint(56, 30));  // between Panel1 and Panel2
    Tick();
    ClickAt(QPoint(30, 8));  // top edge of Panel1
    Tick();
    ClickAt(QPoint(5, 5));  // background
    Tick();
    EXPECT_EQ(edit->text(), "");
    EXPECT_FALSE(kb->clickPending());
    ClickAt(QPoint(57, 30));  // just inside Panel2
    Tick();
    EXPECT_EQ(edit->text(), "z");
}

TEST_F(KeyboardTest, LayoutsSwapMAndThePoint) {
    ASSERT_EQ(kb->layout(), "AZERTY");
    EXPECT_EQ(kb->key("KTYPE")->caption, "QWERTY");
    Hit("Panel20");  // right of L
    Hit("Panel39");  // right of N
    Hit("Panel1");
    Hit("Panel11");
    EXPECT_EQ(edit->text(), "m.aq");
    EXPECT_NE(std::find(recorder.events.begin(), recorder.events.end(),
                        Press(Qt::Key_Period, ".", Qt::KeypadModifier)),
              recorder.events.end());

    Hit("KTYPE");
    EXPECT_EQ(kb->layout(), "QWERTY");
    EXPECT_EQ(kb->key("KTYPE")->caption, "AZERTY");
    EXPECT_EQ(kb->key("Panel20")->caption, ".");
    EXPECT_EQ(kb->key("Panel39")->caption, "M");
    edit->clear();
    Hit("Panel20");
    Hit("Panel39");
    Hit("Panel1");
    Hit("Panel2");
    Hit("Panel11");
    Hit("Panel22");
    EXPECT_EQ(edit->text(), ".mqwaz");
}

TEST_F(KeyboardTest, LayoutSurvivesARestart) {
    Hit("KTYPE");
    ASSERT_EQ(kb->layout(), "QWERTY");
    kb.reset();
    QFile ini(testenv::SettingsFile());
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
    EXPECT_EQ(ReadKeyboardSetting("KEYBOARD", "x"), "AZERTY");
}

TEST_F(KeyboardTest, StoredValueOtherThanAzertyGivesQwerty) {
    ASSERT_TRUE(WriteKeyboardSetting("KEYBOARD", "XYZ"));
    EXPECT_EQ(OnScreenKeyboard().layout(), "QWERTY");
    ASSERT_TRUE(WriteKeyboardSetting("KEYBOARD", ""));
    EXPECT_EQ(OnScreenKeyboard().layout(), "QWERTY");
    ASSERT_TRUE(WriteKeyboardSetting("KEYBOARD", "AZERTY"));
    EXPECT_EQ(OnScreenKeyboard().layout(), "AZERTY");
    testenv::ClearSettings();
    EXPECT_EQ(OnScreenKeyboard().layout(), "AZERTY");  // nothing stored
    EXPECT_FALSE(WriteKeyboardSetting("", "QWERTY"));
}

TEST_F(KeyboardTest, UnwritableStoreStillSwitchesTheLayout) {
    // A settings folder that cannot be created: its place is taken by a plain file.
    const QString blocked = testenv::ConfigDir() + "/blocked";
    QFile f(blocked);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, blocked);
    EXPECT_FALSE(WriteKeyboardSetting("KEYBOARD", "QWERTY"));
    Hit("KTYPE");
    EXPECT_EQ(kb->layout(), "QWERTY");
    EXPECT_EQ(ReadKeyboardSetting("KEYBOARD", "AZERTY"), "AZERTY");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, testenv::ConfigDir());
    QFile::remove(blocked);
}

TEST_F(KeyboardTest, NeverTakesTheFocus) {
    EXPECT_EQ(QApplication::activeWindow(), dialog.get());
    for (const char* key : {"Panel3", "Panel42", "KTYPE", "Panel43", "Panel44"}) {
        Hit(key);
        EXPECT_EQ(QApplication::activeWindow(), dialog.get()) << key;
        EXPECT_EQ(QApplication::focusWidget(), edit) << key;
        EXPECT_FALSE(kb->isActiveWindow());
    }
    kb->hide();
    kb->toggleBelow(dialog.get());
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), dialog.get());
}

TEST_F(KeyboardTest, BackspaceAndReturnReachTheEdit) {
    QSignalSpy returns(edit, &QLineEdit::returnPressed);
    Hit("Panel7");   // U
    Hit("Panel16");  // H
    Hit("Panel44");  // backspace
    EXPECT_EQ(edit->text(), "u");
    EXPECT_EQ(edit->cursorPosition(), 1);
    Hit("Panel45");  // return
    EXPECT_EQ(returns.count(), 1);
}

TEST_F(KeyboardTest, ClickPendingWhenHiddenIsDropped) {
    Click("Panel3");
    kb->hide();
    Tick();
    EXPECT_EQ(edit->text(), "");
    kb->toggleBelow(dialog.get());
    Tick();
    EXPECT_EQ(edit->text(), "");
}

TEST_F(KeyboardTest, TimerExecutesClicksOnItsOwn) {
    auto* timer = kb->findChild<QTimer*>("Timer1");
    timer->start();
    EXPECT_EQ(timer->interval(), 100);
    Click("Panel9");              // O
    EXPECT_EQ(edit->text(), "");  // nothing happens at the click itself
    EXPECT_TRUE(QTest::qWaitFor([&] { return edit->text() == "o"; }, 5000));
}

TEST_F(KeyboardTest, UsableWhileAnApplicationModalDialogIsOpen) {
    QDialog modal;
    modal.setModal(true);
    QLineEdit* modalEdit = new QLineEdit(&modal);
    kb->hide();
    modal.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&modal));
    modalEdit->setFocus();
    ASSERT_EQ(QGuiApplication::modalWindow(), modal.windowHandle());
    kb->toggleBelow(&modal);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &modal; }));
    Hit("Panel10");  // P
    EXPECT_EQ(modalEdit->text(), "p");
    EXPECT_EQ(QApplication::activeWindow(), &modal);
}

TEST_F(KeyboardTest, StaysEnabledWhenDisabled) {
    kb->setEnabled(false);
    EXPECT_TRUE(kb->isEnabled());
}

TEST_F(KeyboardTest, DrawsShiftStateAndCaptions) {
    const QImage off = kb->grab().toImage();
    Hit("Panel42");
    const QImage on = kb->grab().toImage();
    const QRect shiftKey = kb->key("Panel42")->bounds;
    bool changedInside = false, changedOutside = false;
    for (int y = 0; y < off.height(); ++y)
        for (int x = 0; x < off.width(); ++x)
            if (off.pixel(x, y) != on.pixel(x, y))
                (shiftKey.contains(x, y) ? changedInside : changedOutside) = true;
    EXPECT_TRUE(changedInside);
    EXPECT_FALSE(changedOutside);
    EXPECT_EQ(QColor(off.pixel(3, 3)), QColor(0x40, 0x40, 0x40));

    Hit("KTYPE");
    const QImage qwerty = kb->grab().toImage();
    const QRect a = kb->key("Panel1")->bounds;
    EXPECT_NE(on.copy(a), qwerty.copy(a));
}
