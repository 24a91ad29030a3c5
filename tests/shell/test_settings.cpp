// The settings store: round trip, defaults, and what a damaged or unwritable store does.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "ShellTestEnv.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

TEST(SettingsStore, RoundTripKeepsTheTextsInTheirGroup) {
    TempConfig config;
    StoredSettings in;
    in.exposureUs = 2'350;   // 2.35 ms
    in.frameCountText = "";  // an emptied count field is stored as typed
    in.capturePath = "/home/obs/moon, crater";
    in.gain = 42;
    in.subframeLeft = 312;
    ASSERT_TRUE(writeStoredSettings(in));

    const StoredSettings out = readStoredSettings();
    EXPECT_EQ(out.exposureUs, 2'350);
    EXPECT_EQ(out.frameCountText, "");
    EXPECT_EQ(out.capturePath, "/home/obs/moon, crater");
    EXPECT_EQ(out.gain, 42);
    EXPECT_EQ(out.subframeLeft, 312);
    EXPECT_EQ(out.subframeTop, -1);  // centred

    const QByteArray ini = config.readIni();
    EXPECT_TRUE(ini.contains("[TarviVideo2R]")) << ini.constData();
    EXPECT_TRUE(ini.contains("GAIN=42")) << ini.constData();
    // Whole ms for older programs; once one has changed EXPOLENGTH, the fraction is stale.
    EXPECT_TRUE(ini.contains("EXPOLENGTH=2\n")) << ini.constData();
    ASSERT_TRUE(config.writeIni("[TarviVideo2R]\nEXPOLENGTH=40\nEXPOLENGTHUS=2350\n"));
    EXPECT_EQ(readStoredSettings().exposureUs, 40'000);
}

TEST(SettingsStore, MissingFileGivesTheDefaults) {
    TempConfig config;
    const StoredSettings s = readStoredSettings();
    EXPECT_EQ(s.exposureUs, 100'000);
    EXPECT_EQ(s.frameCountText, "1");
    EXPECT_EQ(s.capturePath, "");
    EXPECT_EQ(s.gain, 10);
    EXPECT_FALSE(QFile::exists(config.iniPath()));  // reading creates nothing
}

TEST(SettingsStore, ValuesOfAnotherTypeOrAnotherGroupCountAsMissing) {
    TempConfig config;
    ASSERT_TRUE(
        config.writeIni("[TarviVideo2R]\n"
                        "EXPOLENGTH=1, 2\n"          // a list
                        "EXPOCOUNT=@ByteArray(7)\n"  // a byte array
                        "FILENAME=\n"
                        "[Other]\nGAIN=55\n"));
    auto store = openSettings();
    EXPECT_EQ(readSetting(*store, "EXPOLENGTH", "100"), "100");
    EXPECT_EQ(readSetting(*store, "EXPOCOUNT", "1"), "1");
    EXPECT_EQ(readSetting(*store, "FILENAME", "x"), "");  // present and empty: kept
    EXPECT_EQ(readSetting(*store, "GAIN", "10"), "10");
}

TEST(SettingsStore, GarbageFileReadsAsDefaults) {
    TempConfig config;
    ASSERT_TRUE(config.writeIni(QByteArray("\x01\xff[[[=\n\0\0garbage", 17)));
    const StoredSettings s = readStoredSettings();
    EXPECT_EQ(s.exposureUs, 100'000);
    EXPECT_EQ(s.gain, 10);
}

TEST(SettingsStore, WriteSettingIgnoresAnEmptyName) {
    TempConfig config;
    {
        auto store = openSettings();
        writeSetting(*store, "", "lost");
        writeSetting(*store, "GAIN", "3");
        ASSERT_TRUE(flushSettings(*store));
    }
    auto store = openSettings();
    store->beginGroup(kSettingsGroup);
    EXPECT_EQ(store->childKeys(), QStringList{"GAIN"});
}

TEST(SettingsStore, UnwritableFolderIsReportedToTheCaller) {
    TempConfig config;
    // A regular file where the settings folder would go: no one can create the folder.
    QFile blocker(config.dir() + "/TarviVideo5X");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(writeStoredSettings(StoredSettings{}));
}

TEST(SettingsStore, DecimalParsing) {
    int32_t v = 0;
    EXPECT_TRUE(parseDecimal("007", &v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(parseDecimal(" 12 ", &v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(parseDecimal("-5", &v));
    EXPECT_EQ(v, -5);
    EXPECT_TRUE(parseDecimal("2147483647", &v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(parseDecimal("-2147483648", &v));
    for (const char* bad : {"", " ", "12a", "0x10", "1e3", "1.5", "--1", "2147483648", "+", "١٢"})
        EXPECT_FALSE(parseDecimal(QString::fromUtf8(bad), &v)) << bad;
    EXPECT_EQ(decimalOr("abc", 100), 100);
    EXPECT_EQ(decimalOr("2500", 100), 2500);
}
