// A SER recording that is cut short (process killed) or that fills the disk stays readable:
// the header's frame count follows the recording, the stamps wait in a side file, and the
// next start completes the file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "RecTestUtil.h"
#include "platform/Clock.h"
#include "recording/SerRecovery.h"
#include "recording/SerWriter.h"

using namespace rectest;
namespace fs = std::filesystem;

namespace {
int64_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int64_t>(v);
}

// Frame i of a recording: the pattern frame with a time stamp of its own.
FramePtr StampedFrame(int w, int h, int i) {
    FramePtr f = MakeFrame(w, h);
    f->TimeStamp = 45000.0 + i / 86400.0;
    return f;
}

// Header count, data and trailer agree, and the trailer holds `frames` rising stamps.
void ExpectComplete(const std::string& path, int w, int h, int frames) {
    const auto b = ReadAll(path);
    const size_t fb = static_cast<size_t>(w) * h;
    ASSERT_EQ(b.size(), SerHeaderSize + frames * fb + 8 * frames) << path;
    EXPECT_EQ(Le(b, SerFrameCountOffset, 4), frames);
    const size_t trailer = SerHeaderSize + frames * fb;
    for (int i = 1; i < frames; ++i)
        EXPECT_GT(Le(b, trailer + 8 * i, 8), Le(b, trailer + 8 * (i - 1), 8)) << i;
    EXPECT_FALSE(fs::exists(SerStampsPath(path)));
}
}  // namespace

TEST(SerCrash, HeaderCountFollowsTheRecordingAtLeastOnceASecond) {
    uint32_t now = 5000;
    testclock::SetMillis([&now] { return now; });
    TempDir dir;
    const std::string path = dir / "live.SER";
    SerWriter ser;
    ASSERT_TRUE(ser.open(path, 32, 8, 8));
    int i = 0;
    ASSERT_TRUE(ser.writeFrame(*StampedFrame(32, 8, i++)));
    EXPECT_EQ(Le(ReadAll(path), SerFrameCountOffset, 4), 1);  // the first frame at once
    now += SerCountUpdateMs - 1;
    for (; i < 4; ++i) ASSERT_TRUE(ser.writeFrame(*StampedFrame(32, 8, i)));
    EXPECT_EQ(Le(ReadAll(path), SerFrameCountOffset, 4), 1);
    EXPECT_EQ(fs::file_size(SerStampsPath(path)), 4u * 8);
    now += 1;
    ASSERT_TRUE(ser.writeFrame(*StampedFrame(32, 8, i++)));
    EXPECT_EQ(Le(ReadAll(path), SerFrameCountOffset, 4), 5);
    // The trailer at close is the side file's stamps.
    const auto stamps = ReadAll(SerStampsPath(path));
    ASSERT_TRUE(ser.close());
    ExpectComplete(path, 32, 8, 5);
    const auto b = ReadAll(path);
    EXPECT_TRUE(std::equal(stamps.begin(), stamps.end(), b.end() - 40));
    testclock::SetMillis(nullptr);
}

TEST(SerCrash, KilledRecordingIsReadableAndFinishedAtTheNextStart) {
    TempDir dir;
    const std::string path = dir / "killed_00000.SER";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SerWriter ser;
        if (!ser.open(path, 64, 16, 8)) ::_exit(2);
        for (int i = 0; i < 7; ++i)
            if (!ser.writeFrame(*StampedFrame(64, 16, i))) ::_exit(3);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // As the kill left it: a header that counts no more frames than the file holds.
    const auto killed = ReadAll(path);
    ASSERT_EQ(killed.size(), SerHeaderSize + 7u * 1024);
    EXPECT_GE(Le(killed, SerFrameCountOffset, 4), 1);
    EXPECT_LE(Le(killed, SerFrameCountOffset, 4), 7);
    // Part of an eighth frame, as a kill in the middle of a write leaves it.
    { std::ofstream(path, std::ios::app | std::ios::binary) << std::string(300, 'x'); }
    // A side file whose recording was deleted is only removed.
    { std::ofstream(SerStampsPath(dir / "gone.SER")) << "12345678"; }

    const auto finished = FinishInterruptedSerFiles(dir.path());
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, path);
    EXPECT_EQ(finished[0].error, "");
    EXPECT_EQ(finished[0].frames, 7);
    ExpectComplete(path, 64, 16, 7);
    EXPECT_FALSE(fs::exists(SerStampsPath(dir / "gone.SER")));
    EXPECT_TRUE(FinishInterruptedSerFiles(dir.path()).empty());
    // A side file beside something that is not a SER file is reported, not "repaired".
    { std::ofstream(dir / "notes.SER") << "not a recording"; }
    { std::ofstream(SerStampsPath(dir / "notes.SER")) << "12345678"; }
    const auto refused = FinishInterruptedSerFiles(dir.path());
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].error.find("notes.SER"), std::string::npos);
}

// Fills a small file system of its own (a tmpfs in a private mount namespace): the
// recording ends with the reason, header, frames and trailer agree, and once space is
// freed the next recording works. Where the machine allows no such mount, it is skipped.
TEST(SerCrash, FullDiskKeepsEveryStampAndTheNextRecordingWorks) {
    const char* small = std::getenv("TV_SMALL_FS");
    if (!small) {
        std::string out;
        if (RunCommand("unshare -rm true", out) != 0) GTEST_SKIP() << "no private mounts: " << out;
        TempDir mount;
        const int status = RunCommand(
            "unshare -rm sh -c 'mount -t tmpfs -o size=1m none " + Quote(mount.path()) +
                " && TV_SMALL_FS=" + Quote(mount.path()) + " exec " +
                Quote(fs::read_symlink("/proc/self/exe").string()) +
                " --gtest_filter=SerCrash.FullDiskKeepsEveryStampAndTheNextRecordingWorks'",
            out);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
        return;
    }
    const std::string dir = small;
    const std::string filler = dir + "/filler";
    { std::ofstream(filler, std::ios::binary) << std::string(300 * 1024, 'f'); }
    const std::string path = dir + "/full.SER";
    SerWriter ser;
    // Small frames: the trailer outgrows the slack of the file's last disk block.
    ASSERT_TRUE(ser.open(path, 16, 16, 8));
    int frames = 0;
    while (frames < 100000 && ser.writeFrame(*StampedFrame(16, 16, frames))) ++frames;
    ASSERT_GT(frames, 1000);
    ASSERT_LT(frames, 100000);
    EXPECT_NE(ser.error().find(path), std::string::npos) << ser.error();
    EXPECT_NE(ser.error().find("No space left on device"), std::string::npos) << ser.error();
    ASSERT_TRUE(ser.close()) << ser.error();
    ExpectComplete(path, 16, 16, frames);

    fs::remove(filler);
    const std::string next = dir + "/next.SER";
    ASSERT_TRUE(ser.open(next, 64, 64, 8));
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(ser.writeFrame(*StampedFrame(64, 64, i))) << i;
    ASSERT_TRUE(ser.close());
    ExpectComplete(next, 64, 64, 20);
}
