#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "RecTestUtil.h"
#include "recording/FileNames.h"
#include "recording/StillSeriesWriter.h"

using rectest::TempDir;

namespace {
void touch(const std::string& path) {
    std::ofstream(path) << "x";
}
}  // namespace

TEST(NumberText, FiveDigitsThenAllDigits) {
    EXPECT_EQ(numberText(0), "00000");
    EXPECT_EQ(numberText(42), "00042");
    EXPECT_EQ(numberText(99999), "99999");
    EXPECT_EQ(numberText(100000), "100000");
    EXPECT_EQ(numberedName("/obs/moon.ser", 100000), "/obs/moon_100000.SER");
    EXPECT_EQ(numberedName("/obs/moon.Fit", 3), "/obs/moon_00003.FIT");
}

TEST(NextRecordingNumber, SeriesOfSerRecordingsCountsUp) {
    TempDir dir;
    const std::string ser = dir / "moon.SER";
    EXPECT_EQ(nextRecordingNumber(ser), 0);
    touch(numberedName(ser, 0));
    EXPECT_EQ(nextRecordingNumber(ser), 1);
    EXPECT_EQ(numberedName(ser, 1), dir / "moon_00001.SER");
}

TEST(NextRecordingNumber, AviPartsBlockSerNumbersButNotTheOtherWayRound) {
    TempDir dir;
    const std::string ser = dir / "moon.SER", avi = dir / "moon.AVI";
    touch(dir / "moon_00000.SER");
    touch(dir / "moon_00001.SER");
    // An AVI recording only looks for AVI names and parts: number 0 is free for it.
    EXPECT_EQ(nextRecordingNumber(avi), 0);
    touch(dir / "moon_00000-PART1.AVI");
    EXPECT_EQ(nextRecordingNumber(ser), 2);
    touch(dir / "moon_00002.SER");
    EXPECT_EQ(nextRecordingNumber(avi), 1);
    // A file carrying the AVI name itself also blocks; a SER file of that number does not.
    touch(dir / "moon_00001.AVI");
    EXPECT_EQ(nextRecordingNumber(avi), 2);
    EXPECT_EQ(nextRecordingNumber(ser), 3);
}

TEST(NextRecordingNumber, PartNumbersZeroToNinetyNineBlock) {
    for (const char* part : {"-PART0.AVI", "-PART99.AVI"}) {
        TempDir dir;
        for (int n = 0; n < 7; ++n) touch(numberedName(dir / "moon.SER", n));
        for (int n = 0; n < 7; ++n) touch(numberedName(dir / "moon.AVI", n));
        touch(dir / (std::string("moon_00007") + part));
        EXPECT_EQ(nextRecordingNumber(dir / "moon.SER"), 8) << part;
        EXPECT_EQ(nextRecordingNumber(dir / "moon.AVI"), 8) << part;
        EXPECT_TRUE(aviPartsExist(dir / "moon_00007.SER")) << part;
    }
    TempDir dir;
    touch(dir / "moon_00000-PART100.AVI");
    EXPECT_FALSE(aviPartsExist(dir / "moon_00000.AVI"));
    EXPECT_EQ(nextRecordingNumber(dir / "moon.SER"), 0);
    EXPECT_EQ(nextRecordingNumber(dir / "moon.AVI"), 0);
}

TEST(NextStillPath, SeriesContinuesAfterExistingFiles) {
    TempDir dir;
    const std::string fit = dir / "moon.FIT", bmp = dir / "moon.BMP";
    StillSeriesWriter stills;
    stills.begin(fit);
    // Each name is taken by writing it, as the still writers do.
    for (int i = 0; i < 3; ++i) {
        const std::string name = stills.nextPath();
        EXPECT_EQ(name, numberedName(fit, i));
        touch(name);
    }
    // A name handed out but never written is handed out again.
    EXPECT_EQ(stills.nextPath(), dir / "moon_00003.FIT");
    EXPECT_EQ(stills.nextPath(), dir / "moon_00003.FIT");

    // Another still path starts over at 0 and skips what exists.
    touch(dir / "moon_00000.BMP");
    stills.begin(bmp);
    EXPECT_EQ(stills.nextPath(), dir / "moon_00001.BMP");
    touch(dir / "moon_00001.BMP");
    // Back to FIT: the search restarts at 0 and still lands after the existing series.
    stills.begin(fit);
    EXPECT_EQ(stills.nextPath(), dir / "moon_00003.FIT");
}

TEST(NextStillPath, ContinuesFromTheLastNumberOfTheSamePathOnly) {
    TempDir dir;
    touch(dir / "a_00000.FIT");
    touch(dir / "a_00001.FIT");
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
