// An AVI part cut short by a kill is finished at the next start: every whole frame decodes
// and the headers count them; finished files are left alone; damaged files never crash it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "RecTestUtil.h"
#include "recording/AviRepair.h"
#include "recording/AviWriter.h"
#include "recording/RecoveryJournal.h"

using namespace rectest;

namespace {
// Part 1 of a grey recording of `frames` frames, killed (SIGKILL) before it was closed.
std::string killedPart(const std::string& path, int32_t codec, int w, int h, int frames,
                       RecoveryJournal* journal = nullptr) {
    EXPECT_TRUE(runAndKill([&](const KillPoint& kill) {
        AviWriter avi;
        avi.setCodec(codec);
        avi.setJournal(journal);
        cv::Mat frame(h, w, CV_8UC1);
        cv::randu(frame, 0, 256);
        if (!avi.open(path, w, h, false)) return;
        for (int k = 0; k < frames; ++k)
            if (!avi.writeFrame(frame + k)) return;
        kill();
    }));
    return aviPartName(path, 1);
}

AviRepairResult finish(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return {};
    const AviRepairResult r = finishCutAvi(fd, path);
    ::close(fd);
    return r;
}

// A run on a finished file changes nothing and reports what the first one did.
void expectSecondRunIdle(const std::string& path, const AviRepairResult& first) {
    const auto once = readAll(path);
    const AviRepairResult again = finish(path);
    EXPECT_TRUE(again.ok && !again.changed && again.frames == first.frames) << again.error;
    EXPECT_EQ(readAll(path), once);
}

// Finishes a killed part: ffprobe then decodes every frame the result reports, without a
// complaint, and the header counts as many.
int64_t expectFinished(const std::string& part) {
    const AviRepairResult r = finish(part);
    EXPECT_TRUE(r.ok && r.changed) << r.error;
    const Probe p = ffProbe(part);
    EXPECT_FALSE(p.errors) << p.output;
    EXPECT_EQ(p.frames, r.frames);
    EXPECT_EQ(p.counted, r.frames);
    expectSecondRunIdle(part, r);
    return r.frames;
}

class AviCrash : public ::testing::TestWithParam<int32_t> {};
}  // namespace

TEST_P(AviCrash, KilledPartIsFinishedAndClosedPartLeftAsItIs) {
    TempDir dir;
    RecoveryJournal journal(dir / "journal");
    const std::string part = killedPart(dir / "cut.AVI", GetParam(), 200, 150, 60, &journal);
    const auto killed = readAll(part);
    ASSERT_GT(killed.size(), 100000u);  // the library had flushed part of the recording
    // The next start finishes it through the note the writer left.
    const auto outcomes = recoverInterruptedRecordings(journal);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].finished) << outcomes[0].text;
    EXPECT_TRUE(journal.pending().empty());
    const AviRepairResult done = finish(part);
    EXPECT_TRUE(done.ok && !done.changed) << done.error;
    const Probe probe = ffProbe(part);
    EXPECT_FALSE(probe.errors) << probe.output;
    EXPECT_EQ(probe.frames, done.frames);
    EXPECT_EQ(probe.counted, done.frames);
    const int64_t frames = done.frames;
    EXPECT_TRUE(frames > 0 && frames < 60) << frames;  // the last ones were in a buffer
    const auto finished = readAll(part);               // with the frames as recorded
    EXPECT_TRUE(
        std::equal(finished.begin() + 6000, finished.begin() + 100000, killed.begin() + 6000));

    AviWriter avi;
    avi.setCodec(GetParam());
    ASSERT_TRUE(avi.open(dir / "closed.AVI", 64, 48, false));
    for (int k = 0; k < 5; ++k)
        ASSERT_TRUE(avi.writeFrame(cv::Mat(48, 64, CV_8UC1, cv::Scalar(k))));
    ASSERT_TRUE(avi.close());
    expectSecondRunIdle(dir / "closed-PART1.AVI", {true, false, 5, ""});
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviCrash, ::testing::Values(0, packFourCc('I', 'Y', 'U', 'V')),
                         [](const auto& info) { return info.param ? "IYUV" : "Uncompressed"; });

// Past 1 GiB the library continues a part in RIFF AVIX extensions, indexed by standard
// indexes and a super index that only a normal close completes.
TEST(AviCrashLarge, KilledPartWithExtensionsIsFinished) {
#if defined(__SANITIZE_ADDRESS__)
    // A gigabyte through the instrumented video library takes many minutes and tests no
    // memory handling the small cases do not.
    GTEST_SKIP() << "not in the sanitizer build";
#endif
    TempDir dir;
    if (std::filesystem::space(dir.path()).available < (3ULL << 30))
        GTEST_SKIP() << "needs 3 GiB free in the temporary folder for a 1.1 GB part";
    EXPECT_GT(expectFinished(killedPart(dir / "big.AVI", 0, 1920, 1080, 540)), 520);
}

// A short recording killed early leaves only what the library had flushed: often an empty
// file. Damaged files, cut anywhere or with bytes overwritten, are refused unchanged or
// finished; never a crash, a read past the end or a loop.
TEST(AviCrashDamage, RefusedUnchangedOrFinished) {
    TempDir dir;
    const std::string empty = killedPart(dir / "short.AVI", 0, 64, 48, 2);
    ASSERT_EQ(std::filesystem::file_size(empty), 0u);
    const AviRepairResult none = finish(empty);
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.error.find(empty), std::string::npos) << none.error;

    const auto original = readAll(killedPart(dir / "src.AVI", 0, 100, 80, 80));
    ASSERT_GT(original.size(), 6000u);
    std::mt19937 random(20240607);
    const std::string path = dir / "damaged.AVI";
    int finished = 0, refused = 0;
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> bytes = original;
        if (round % 3 == 0) bytes.resize(random() % bytes.size());
        // Damage mostly the headers and chunk headers, where the sizes are.
        for (int n = 0; round % 3 != 0 && n < 1 + round % 4; ++n) {
            const size_t at = (round % 3 == 1 ? random() % 6000 : random() % bytes.size()) & ~3u;
            const uint32_t v = random() % 2 ? random() : 0xffffffff;
            std::memcpy(&bytes[at], &v, std::min<size_t>(4, bytes.size() - at));
        }
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const AviRepairResult r = finish(path);
        if (!r.ok) {
            ++refused;
            EXPECT_EQ(readAll(path), bytes) << r.error;
            continue;
        }
        ++finished;
        expectSecondRunIdle(path, r);
    }
    EXPECT_GT(finished, 0);
    EXPECT_GT(refused, 0);
}

// The part of a note carries its token once the header is on the disk. A part deleted and
// another AVI written under its name (the inode number may well be reused) is left exactly as
// it is; a part killed before anything reached the disk is cleared away.
TEST(AviCrashNotes, OnlyThePartTheNoteDescribesIsTouched) {
    TempDir dir;
    RecoveryJournal journal(dir / "journal");
    const std::string part = killedPart(dir / "moon.AVI", 0, 200, 150, 30, &journal);
    {
        const int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(readAviToken(fd).size(), 32u);
        ::close(fd);
    }
    std::filesystem::remove(part);
    killedPart(dir / "moon.AVI", 0, 200, 150, 30);  // a foreign cut AVI under the same name
    const auto foreign = readAll(part);
    const std::string empty = killedPart(dir / "short.AVI", 0, 64, 48, 2, &journal);
    ASSERT_EQ(std::filesystem::file_size(empty), 0u);

    const auto outcomes = recoverInterruptedRecordings(journal);
    ASSERT_EQ(outcomes.size(), 2u);
    for (const RecoveryOutcome& o : outcomes) EXPECT_FALSE(o.finished) << o.text;
    EXPECT_EQ(readAll(part), foreign);
    EXPECT_FALSE(std::filesystem::exists(empty));
    EXPECT_TRUE(journal.pending().empty());
}
