// Free disk space against df, the recording's data rate, and the status panel text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/DiskSpace.h"

namespace {

// "Avail" of df for `folder`, in bytes, read independently of the code under test.
std::optional<uint64_t> dfAvailable(const std::string& folder) {
    const std::string command = "df -B1 --output=avail '" + folder + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    char header[64] = {};
    unsigned long long avail = 0;
    const bool ok = std::fscanf(pipe, "%63s %llu", header, &avail) == 2;
    pclose(pipe);
    if (!ok) return std::nullopt;
    return avail;
}

}  // namespace

TEST(DiskSpace, FreeBytesMatchDfAndAMissingFolderHasNone) {
    const std::string folder = std::filesystem::temp_directory_path().string();
    const auto df = dfAvailable(folder);
    ASSERT_TRUE(df.has_value());
    const auto free = freeDiskBytes(folder);
    ASSERT_TRUE(free.has_value());
    // Others write to the same disk meanwhile: allow a few hundred megabytes.
    EXPECT_NEAR(static_cast<double>(*free), static_cast<double>(*df), 256e6);

    EXPECT_FALSE(freeDiskBytes(folder + "/no such folder here").has_value());
    EXPECT_EQ(diskStatusOf("", std::nullopt).text, "");
    EXPECT_EQ(diskStatusOf(folder + "/no such folder here", 1e6).text, "");
    EXPECT_EQ(diskStatusOf(folder, std::nullopt).text.rfind("Disk ", 0), 0u);
}

TEST(DiskSpace, PanelTextAndTimeLeftAtAFixedRate) {
    EXPECT_EQ(formatDiskStatus(41'234'000'000, std::nullopt).text, "Disk 41.2 GB free");
    EXPECT_EQ(formatDiskStatus(987'600'000, std::nullopt).text, "Disk 1.0 GB free");
    EXPECT_FALSE(formatDiskStatus(0, std::nullopt).low);

    // 41.2 GB at 50 MB/s: 824 s, 13 min 44 s.
    const DiskStatus recording = formatDiskStatus(41'200'000'000, 50e6);
    EXPECT_EQ(recording.text, "Disk 41.2 GB free, 13 min left");
    EXPECT_FALSE(recording.low);
    // Whole minutes, rounded down; hours from 100 minutes on.
    EXPECT_EQ(formatDiskStatus(5'999'000'000, 1e6).text, "Disk 6.0 GB free, 99 min left");
    EXPECT_EQ(formatDiskStatus(6'000'000'000, 1e6).text, "Disk 6.0 GB free, 1 h 40 min left");
    EXPECT_EQ(formatDiskStatus(7'530'000'000, 1e6).text, "Disk 7.5 GB free, 2 h 05 min left");
    // Red below two minutes.
    EXPECT_TRUE(formatDiskStatus(119'000'000, 1e6).low);
    EXPECT_EQ(formatDiskStatus(119'000'000, 1e6).text, "Disk 0.1 GB free, 1 min left");
    EXPECT_FALSE(formatDiskStatus(121'000'000, 1e6).low);
    // No rate measured yet, or nothing written lately: no time left.
    EXPECT_EQ(formatDiskStatus(41'200'000'000, 0.0).text, "Disk 41.2 GB free");
}

TEST(WriteRateMeter, RateOverTheLastSecondsAcrossTheTimerWrap) {
    for (uint32_t start : {0u, 0xFFFFF000u}) {
        WriteRateMeter meter;
        // 20 frames of 1 MB a second for 10 s, then 40 a second for 3 s.
        uint32_t t = start;
        for (int i = 0; i < 200; ++i, t += 50) {
            meter.add(t, 1'000'000);
            if (i == 10) {
                EXPECT_FALSE(meter.bytesPerSecond(t).has_value()) << "first second";
            }
        }
        EXPECT_NEAR(*meter.bytesPerSecond(t), 20e6, 0.3e6);
        for (int i = 0; i < 120; ++i, t += 25) meter.add(t, 1'000'000);
        // The window holds 3 s at 40 MB/s and 2 s at 20 MB/s.
        EXPECT_NEAR(*meter.bytesPerSecond(t), 32e6, 0.5e6);
        // Writing stalls: the rate falls, then reaches nothing left in the window.
        EXPECT_LT(*meter.bytesPerSecond(t + 2000), 25e6);
        EXPECT_DOUBLE_EQ(*meter.bytesPerSecond(t + 6000), 0.0);
        meter.reset();
        EXPECT_FALSE(meter.bytesPerSecond(t + 7000).has_value());
    }
}
