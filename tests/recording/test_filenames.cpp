#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "RecTestUtil.h"
#include "recording/FileNames.h"
#include "recording/StillSeriesWriter.h"

using rectest::TempDir;

namespace {
void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}
}  // namespace

TEST(NumberText, FiveDigitsThenAllDigits) {
    EXPECT_EQ(NumberText(0), "00000");
    EXPECT_EQ(NumberText(42), "00042");
    EXPECT_EQ(NumberText(99999), "99999");
    EXPECT_EQ(NumberText(100000), "100000");
    EXPECT_EQ(NumberedName("/obs/moon.ser", 100000), "/obs/moon_100000.SER");
    EXPECT_EQ(NumberedName("/obs/moon.Fit", 3), "/obs/moon_00003.FIT");
}

TEST(NextRecordingNumber, SeriesOfSerRecordingsCountsUp) {
    TempDir dir;
    const std::string ser = dir / "moon.SER";
    EXPECT_EQ(NextRecordingNumber(ser), 0);
    Touch(NumberedName(ser, 0));
    EXPECT_EQ(NextRecordingNumber(ser), 1);
    EXPECT_EQ(NumberedName(ser, 1), dir / "moon_00001.SER");
}

TEST(NextRecordingNumber, AviPartsBlockSerNumbersButNotTheOtherWayRound) {
    TempDir dir;
    const std::string ser = dir / "moon.SER", avi = dir / "moon.AVI";
    Touch(dir / "moon_00000.SER");
    Touch(dir / "moon_00001.SER");
    // An AVI recording only looks for AVI names and parts: number 0 is free for it.
    EXPECT_EQ(NextRecordingNumber(avi), 0);
    Touch(dir / "moon_00000-PART1.AVI");
    EXPECT_EQ(NextRecordingNumber(ser), 2);
    Touch(dir / "moon_00002.SER");
    EXPECT_EQ(NextRecordingNumber(avi), 1);
    // A file carrying the AVI name itself also blocks; a SER file of that number does not.
    Touch(dir / "moon_00001.AVI");
    EXPECT_EQ(NextRecordingNumber(avi), 2);
    EXPECT_EQ(NextRecordingNumber(ser), 3);
}

TEST(NextRecordingNumber, PartNumbersZeroToNinetyNineBlock) {
    for (const char* part : {"-PART0.AVI", "-PART99.AVI"}) {
        TempDir dir;
        for (int n = 0; n < 7; ++n) Touch(NumberedName(dir / "moon.SER", n));
        for (int n = 0; n < 7; ++n) Touch(NumberedName(dir / "moon.AVI", n));
        Touch(dir / (std::string("moon_00007") + part));
        EXPECT_EQ(NextRecordingNumber(dir / "moon.SER"), 8) << part;
        EXPECT_EQ(NextRecordingNumber(dir / "moon.AVI"), 8) << part;
        EXPECT_TRUE(AviPartsExist(dir / "moon_00007.SER")) << part;
    }
    TempDir dir;
    Touch(dir / "moon_00000-PART100.AVI");
    EXPECT_FALSE(AviPartsExist(dir / "moon_00000.AVI"));
    EXPECT_EQ(NextRecordingNumber(dir / "moon.SER"), 0);
    EXPECT_EQ(NextRecordingNumber(dir / "moon.AVI"), 0);
}

TEST(NextStillPath, SeriesContinuesAfterExistingFiles) {
    TempDir dir;
    const std::string fit = dir / "moon.FIT", bmp = dir / "moon.BMP";
    StillSeriesWriter stills;
    stills.begin(fit);
    // Each name is taken by writing it, as the still writers do.
    for (int i = 0; i < 3; ++i) {
        const std::string name = stills.nextPath();
        EXPECT_EQ(name, NumberedName(fit, i));
        Touch(name);
    }
    // A name handed out but never written is handed out again.
    EXPECT_EQ(stills.nextPath(), dir / "moon_00003.FIT");
    EXPECT_EQ(stills.nextPath(), dir / "moon_00003.FIT");

    // Another still path starts over at 0 and skips what exists.
    Touch(dir / "moon_00000.BMP");
    stills.begin(bmp);
    EXPECT_EQ(stills.nextPath(), dir / "moon_00001.BMP");
    Touch(dir / "moon_00001.BMP");
    // Back to FIT: the search restarts at 0 and still lands after the existing series.
    stills.begin(fit);
    EXPECT_EQ(stills.nextPath(), dir / "moon_00003.FIT");
}

TEST(NextStillPath, ContinuesFromTheLastNumberOfTheSamePathOnly) {
    TempDir dir;
    Touch(dir / "a_00000.FIT");
    Touch(dir / "a_00001.FIT");
    StillSeriesWriter stills;
    stills.begin(dir / "a.FIT");
    EXPECT_EQ(stills.nextPath(), dir / "a_00002.FIT");
    // The same path again continues at the number given out last: a gap below it that
    // appears later is not filled.
    std::filesystem::remove(dir / "a_00000.FIT");
    stills.begin(dir / "a.FIT");
    EXPECT_EQ(stills.nextPath(), dir / "a_00002.FIT");
    // ".fit" is another still path: searched from 0, but it maps to the same upper-case names.
    stills.begin(dir / "a.fit");
    EXPECT_EQ(stills.nextPath(), dir / "a_00000.FIT");
}
