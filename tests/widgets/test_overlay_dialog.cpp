// The "Text Overlay Properties" dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "QtTestEnv.h"
#include "platform/DateTime.h"
#include "widgets/OverlayDialog.h"

namespace {

LocalDateTime sampleMoment() {
    DateTimeParts p;
    p.year = 2011;
    p.month = 3;
    p.day = 3;
    p.hour = 21;
    p.minute = 5;
    p.second = 9;
    p.millisecond = 42;
    return encodeDateTime(p);
}

}  // namespace

namespace {
template <class T>
T* child(const QWidget& w, const char* name) {
    T* child = w.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}
}  // namespace

TEST(StampDialog, ItemsCarrySamplesOfTheCreationMoment) {
    ensureApp();
    OverlayDialog dialog(nullptr, sampleMoment());
    EXPECT_EQ(dialog.windowTitle(), "Text Overlay Properties");
    EXPECT_EQ(dialog.size(), QSize(353, 202));
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(child<QGroupBox>(dialog, "RadioGroup1")->title(), "Date/Time format select");
    EXPECT_EQ(child<QGroupBox>(dialog, "RadioGroup1")->size(), QSize(339, 129));
    EXPECT_EQ(child<QLabel>(dialog, "Label2")->text(), "Text Prefix");
    EXPECT_EQ(child<QLineEdit>(dialog, "fixed")->width(), 273);
    EXPECT_EQ(child<QPushButton>(dialog, "Button1")->text(), "OK");
    EXPECT_TRUE(child<QToolButton>(dialog, "AdvGlassButton1")->text().isEmpty());
    EXPECT_FALSE(child<QToolButton>(dialog, "AdvGlassButton1")->icon().isNull());

    const QStringList expected = {
        "No Data", "Date (03/03/2011)", "Date/Time (s) (03/03/2011 21:05:09)",
        "Date/Time(ms) (03/03/2011 21:05:09.042)", "Time(ms) (21:05:09.042)"};
    const auto items = dialog.findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(items[i]->text(), expected[i]);
    EXPECT_EQ(dialog.itemIndex(), 3);
    EXPECT_EQ(dialog.format(), "dd/mm/yyyy hh:mm:ss.zzz");
    EXPECT_EQ(dialog.prefix(), "");
}

TEST(StampDialog, ChoicesTakeEffectAsTheyAreMade) {
    ensureApp();
    OverlayDialog dialog(nullptr, sampleMoment());
    QSignalSpy changes(&dialog, &OverlayDialog::stampChanged);
    int hides = 0;
    QWidget* toggledDialog = nullptr;
    QObject::connect(&dialog, &KeyboardDialog::keyboardHideRequested, [&] { ++hides; });
    QObject::connect(&dialog, &KeyboardDialog::keyboardToggleRequested,
                     [&](QWidget* d) { toggledDialog = d; });
    dialog.show();
    QApplication::processEvents();
    const auto items = dialog.findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 5);
    auto* prefix = child<QLineEdit>(dialog, "fixed");
    auto last = [&] {
        EXPECT_FALSE(changes.isEmpty());
        return changes.isEmpty()
                   ? QStringList()
                   : QStringList{changes.last()[0].toString(), changes.last()[1].toString()};
    };

    items[0]->click();
    EXPECT_EQ(last(), QStringList({"", ""}));
    // Checked without a click, as an assistive tool does it.
    items[4]->setChecked(true);
    EXPECT_EQ(last(), QStringList({"hh:mm:ss.zzz", ""}));

    prefix->setText("  M42 ");
    EXPECT_EQ(last(), QStringList({"hh:mm:ss.zzz", "  M42 "}));  // as typed, blanks kept
    prefix->clear();
    EXPECT_EQ(last(), QStringList({"hh:mm:ss.zzz", ""}));

    child<QToolButton>(dialog, "AdvGlassButton1")->click();
    EXPECT_EQ(toggledDialog, &dialog);
    EXPECT_EQ(QApplication::focusWidget(), prefix);

    const qsizetype before = changes.size();
    QTest::keyClick(prefix, Qt::Key_Escape);  // only OK closes it
    QTest::keyClick(prefix, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    child<QPushButton>(dialog, "Button1")->click();
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(hides, 1);
    EXPECT_EQ(changes.size(), before);  // OK applies nothing more
}

TEST(StampDialog, ConfigurePlacesTheDialogAndWaitsUntilItIsHidden) {
    EXPECT_EQ(overlayDialogPosition(QRect(100, 50, 800, 600), 353), QPoint(323, 105));
    EXPECT_EQ(overlayDialogPosition(QRect(0, 0, 300, 200), 353), QPoint(-26, 55));  // -26.5

    ensureApp();
    QWidget main;
    main.setGeometry(100, 50, 800, 600);
    main.show();
    QApplication::processEvents();
    const QPoint expected = overlayDialogPosition(main.frameGeometry(), 353);
    OverlayDialog dialog(&main, sampleMoment());
    bool ranMeanwhile = false;
    QTimer::singleShot(10, [&] {
        ranMeanwhile = dialog.isVisible();
        dialog.findChild<QPushButton*>("Button1")->click();
    });
    dialog.execOver(&main);
    EXPECT_TRUE(ranMeanwhile);
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(dialog.pos(), expected);
}
