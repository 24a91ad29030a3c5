// Target profiles: a profile written and read back is the same profile; a broken one is refused
// with its line and reason, by the parser and by the window, which then changes nothing; the
// profile applied last comes back at the next start.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "FakeCamera.h"
#include "LiveWindow.h"
#include "acquisition/CaptureThread.h"
#include "settings/ProfileStore.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"

namespace {
TargetProfile everySetting() {
    TargetProfile p;
    p.name = "Jupiter 2026";
    p.session = {"Jupiter", "A. Observer", "C11 = 2800 mm", "L", 48.8566, -2.35};
    p.exposureUs = 8'500;
    p.gain = 40;
    p.balanceRed = 140;
    p.balanceGreen = 127;
    p.balanceBlue = 100;
    p.width = 640;
    p.height = 480;
    p.depth = 16;
    p.format = CaptureFormat::Avi;
    p.filters = {{"R", 6'000, 35, -120}, {"CH4", std::nullopt, 90, 300}};
    p.steps = {{"R", 0, 60, 5}, {"CH4", 400, 0, 0}};
    p.loops = 0;
    p.loopBudgetSeconds = 150;
    return p;
}

bool writeFile(const std::string& path, const std::string& text) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::WriteOnly) &&
           f.write(text.data(), qint64(text.size())) == qint64(text.size());
}
}  // namespace

TEST(TargetProfiles, AProfileWrittenAndReadBackIsTheSameAndCanBeRenamedAndDeleted) {
    QTemporaryDir dir;
    const ProfileStore store(dir.path().toStdString() + "/profiles");
    const TargetProfile p = everySetting();
    std::string error;
    ASSERT_TRUE(store.save(p, error)) << error;
    const auto back = store.load(p.name, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, p) << profileText(*back);

    ASSERT_TRUE(store.rename(p.name, "Saturn", error)) << error;
    EXPECT_FALSE(store.rename("Saturn", "Saturn", error));  // never over another profile
    EXPECT_EQ(store.names(), std::vector<std::string>{"Saturn"});
    ASSERT_TRUE(store.remove("Saturn", error)) << error;
    EXPECT_TRUE(store.names().empty());
}

struct BrokenText {
    const char* text;
    int line;
    const char* reason;
};

class BrokenProfile : public ::testing::TestWithParam<BrokenText> {};

TEST_P(BrokenProfile, IsRefusedWithItsLineAndReason) {
    ProfileError error;
    EXPECT_FALSE(parseProfile(GetParam().text, error));
    EXPECT_EQ(error.line, GetParam().line);
    EXPECT_NE(error.reason.find(GetParam().reason), std::string::npos) << error.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenProfile,
    ::testing::Values(BrokenText{"gain = 40\n\nexposure_ms = 0\n", 3, "'exposure_ms' must be"},
                      BrokenText{"gain = 101\n", 1, "'gain' must be a whole number"},
                      BrokenText{"[filter R]\nfocus_offset = 1.5\n", 2, "'focus_offset'"},
                      BrokenText{"[filter R]\n[filter R]\n", 2, "set twice"},
                      BrokenText{"[step]\nfilter = R\n[step]\nfilter = G\nframes = 3\n", 1,
                                 "either frames or seconds"},
                      BrokenText{"# ok\n[step]\nframes = 3\n", 2, "names no filter"},
                      BrokenText{"colour = red\n", 1, "no setting 'colour'"},
                      BrokenText{"gain 40\n", 1, "'key = value'"},
                      BrokenText{"format = MP4\n", 1, "SER, AVI, FIT or BMP"},
                      BrokenText{"[target]\n", 1, "no section 'target'"}));

TEST(TargetProfiles, TheWindowAppliesAProfileWholeRefusesABrokenOneAndAppliesTheLastAtStart) {
    DisplayStateGuard guard;
    tvtest::FakeCamera cam(320, 240);
    cam.install();
    const ProfileStore store;
    std::string error;
    TargetProfile saturn;
    saturn.name = "Saturn";
    saturn.exposureUs = 25'000;
    saturn.gain = 33;
    saturn.format = CaptureFormat::Ser;
    ASSERT_TRUE(store.save(saturn, error)) << error;
    ASSERT_TRUE(
        writeFile(store.pathOf("Broken"), "gain = 77\nexposure_ms = 50\nwhite_balance = 1 2\n"));
    {
        MainWindow mainWindow;
        ASSERT_TRUE(startLiveWindow(mainWindow));
        const CaptureSettings before = mainWindow.capture().settings();
        const QString refused = mainWindow.applyProfile(QStringLiteral("Broken"));
        EXPECT_TRUE(refused.contains(QStringLiteral(" line 3: 'white_balance' must be")))
            << refused.toStdString();
        EXPECT_EQ(mainWindow.capture().settings().gain, before.gain);
        EXPECT_EQ(mainWindow.capture().settings().exposureUs, before.exposureUs);
        EXPECT_TRUE(readLastProfile().empty());

        EXPECT_EQ(mainWindow.applyProfile(QStringLiteral("Saturn")), QString());
        EXPECT_EQ(mainWindow.capture().settings().exposureUs, 25'000);
        EXPECT_EQ(mainWindow.capture().settings().gain, 33);
        EXPECT_EQ(mainWindow.capturePanel().format(), CaptureFormat::Ser);
        mainWindow.saveAndStop();
    }
    MainWindow next;
    ASSERT_TRUE(startLiveWindow(next));
    EXPECT_EQ(next.capture().settings().exposureUs, 25'000);
    EXPECT_EQ(next.capturePanel().format(), CaptureFormat::Ser);
}
