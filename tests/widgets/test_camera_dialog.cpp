// "Select Camera...": the fields made from the stored choice and the choice made from the
// fields. The device listing against a real INDI server is tested in tests/indicam.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "QtTestEnv.h"
#include "widgets/CameraDialog.h"

namespace {
const std::vector<std::string> kFound = {"indi", "ser", "sim"};

void clickOk(CameraDialog& dialog) {
    find<QDialogButtonBox>(dialog, "Buttons")->button(QDialogButtonBox::Ok)->click();
}

void choose(CameraDialog& dialog, const QString& name) {
    auto* list = find<QListWidget>(dialog, "CameraList");
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(Qt::UserRole).toString() == name) list->setCurrentRow(i);
}
}  // namespace

TEST(CameraDialog, IndiServerAndDeviceHaveTheirOwnFieldsAndAreStoredWithTheOptions) {
    ensureApp();
    std::vector<CameraSelection> stored;
    CameraDialog dialog(kFound,
                        {QStringLiteral("indi"),
                         {QStringLiteral("server=scope:7624"), QStringLiteral("device=Cam A"),
                          QStringLiteral("x=1")}},
                        [&](const CameraSelection& s) {
                            stored.push_back(s);
                            return true;
                        });
    EXPECT_FALSE(find<QWidget>(dialog, "IndiBox")->isHidden());
    EXPECT_EQ(find<QLineEdit>(dialog, "ServerEdit")->text(), QStringLiteral("scope:7624"));
    EXPECT_EQ(find<QListWidget>(dialog, "DeviceList")->currentItem()->text(),
              QStringLiteral("Cam A"));
    EXPECT_EQ(find<QPlainTextEdit>(dialog, "OptionsEdit")->toPlainText(), QStringLiteral("x=1"));
    EXPECT_TRUE(find<QLabel>(dialog, "NoteLabel")->text().contains(QStringLiteral("in place of")));

    // A server typed among the options gives way to the server field.
    find<QLineEdit>(dialog, "ServerEdit")->setText(QStringLiteral("other:7000"));
    find<QPlainTextEdit>(dialog, "OptionsEdit")
        ->setPlainText(QStringLiteral("x=1\n\nserver=a:1\n"));
    clickOk(dialog);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, QStringLiteral("indi"));
    EXPECT_EQ(stored[0].options,
              (QStringList{QStringLiteral("x=1"), QStringLiteral("server=other:7000"),
                           QStringLiteral("device=Cam A")}));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(CameraDialog, BadOptionsAndFailedSavesKeepTheDialogOpen) {
    ensureApp();
    std::vector<CameraSelection> stored;
    bool saves = true;
    const QString file = QStringLiteral("/opt/cams/libtarvidll-x.so");
    CameraDialog dialog(kFound, {file, {}}, [&](const CameraSelection& s) {
        if (saves) stored.push_back(s);
        return saves;
    });
    // A library chosen by its file stays in the list, chosen.
    EXPECT_EQ(find<QListWidget>(dialog, "CameraList")->currentItem()->data(Qt::UserRole).toString(),
              file);
    EXPECT_TRUE(find<QWidget>(dialog, "IndiBox")->isHidden());

    choose(dialog, QStringLiteral("ser"));
    auto* options = find<QPlainTextEdit>(dialog, "OptionsEdit");
    auto* error = find<QLabel>(dialog, "ErrorLabel");
    options->setPlainText(QStringLiteral("file=/a.ser\nloop"));
    clickOk(dialog);
    EXPECT_TRUE(stored.empty());
    EXPECT_FALSE(error->isHidden());
    EXPECT_TRUE(error->text().contains(QStringLiteral("KEY=VALUE: loop")))
        << error->text().toStdString();

    options->setPlainText(QStringLiteral("file=/a.ser"));
    saves = false;
    clickOk(dialog);
    EXPECT_TRUE(error->text().contains(QStringLiteral("could not be saved")));
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    saves = true;
    clickOk(dialog);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, QStringLiteral("ser"));
    EXPECT_EQ(stored[0].options, QStringList{QStringLiteral("file=/a.ser")});
}

TEST(CameraDialog, ASlowServerLeavesTheWindowAnsweringAndAClosedDialogBehind) {
    ensureApp();
    // Shared with the lister's thread, which may outlive the dialog.
    struct Gate {
        std::atomic<bool> open{false};
        std::atomic<int> answered{0};
    };
    const auto gate = std::make_shared<Gate>();
    const DeviceLister slow = [gate](const std::string& server, std::vector<std::string>& devices,
                                     std::string&) {
        while (!gate->open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        devices = {server + " A", server + " B"};
        ++gate->answered;
        return true;
    };
    auto dialog = std::make_unique<CameraDialog>(
        kFound, CameraSelection{QStringLiteral("indi"), {}}, nullptr, nullptr, slow);
    find<QLineEdit>(*dialog, "ServerEdit")->setText(QStringLiteral("scope:1"));
    dialog->fetchDevices();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(dialog->fetching());
    EXPECT_FALSE(find<QPushButton>(*dialog, "FetchButton")->isEnabled());
    gate->open = true;
    // Bounded by time, not by turns: a turn without events returns at once.
    QDeadlineTimer answered(10000);
    while (dialog->fetching() && !answered.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(find<QListWidget>(*dialog, "DeviceList")->count(), 3);
    EXPECT_EQ(find<QLabel>(*dialog, "DeviceStatus")->text(),
              QStringLiteral("2 camera(s) on the server."));
    EXPECT_TRUE(find<QPushButton>(*dialog, "FetchButton")->isEnabled());

    // Closed while the server has not answered: the answer comes to nobody.
    gate->open = false;
    dialog->fetchDevices();
    dialog.reset();
    gate->open = true;
    QDeadlineTimer second(10000);
    while (gate->answered < 2 && !second.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(gate->answered, 2);
    QCoreApplication::processEvents();
}
