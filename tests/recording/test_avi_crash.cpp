// An AVI part cut short by a kill is finished at the next start: every whole frame decodes
// and the headers count them; finished files are left alone; damaged files never crash it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "RecTestUtil.h"
#include "recording/AviRepair.h"
#include "recording/AviWriter.h"

using namespace rectest;
namespace fs = std::filesystem;

namespace {
cv::Mat TestFrame(int w, int h, int k) {
    cv::Mat m(h, w, CV_8UC1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) m.at<uint8_t>(y, x) = static_cast<uint8_t>(x + y * 3 + k * 9);
    return m;
}

// Part 1 of a recording of `frames` frames, killed (SIGKILL) before it was closed.
std::string KilledPart(const std::string& path, int32_t codec, int w, int h, int frames) {
    const bool killed = RunAndKill([&](const KillPoint& kill) {
        AviWriter avi;
        avi.setCodec(codec);
        if (!avi.open(path, w, h, false)) return;
        for (int k = 0; k < frames; ++k)
            if (!avi.writeFrame(TestFrame(w, h, k))) return;
        kill();
    });
    EXPECT_TRUE(killed);
    return AviPartName(path, 1);
}

AviRepairResult Finish(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return {};
    const AviRepairResult r = FinishCutAvi(fd, path);
    ::close(fd);
    return r;
}

// Frames decoded and frames the header counts, as ffprobe sees them; `errors` gets anything
// else it printed.
void Probe(const std::string& path, int& decoded, int& counted, std::string& errors) {
    std::string out;
    RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames,nb_frames -of default=nw=1 " +
            Quote(path),
        out);
    decoded = counted = -1;
    errors.clear();
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("nb_read_frames=", 0) == 0)
            decoded = std::atoi(line.c_str() + 15);
        else if (line.rfind("nb_frames=", 0) == 0)
            counted = std::atoi(line.c_str() + 10);
        else
            errors += line + "\n";
    }
}

class AviCrash : public ::testing::TestWithParam<int32_t> {
  protected:
    TempDir dir_;
};
}  // namespace

TEST_P(AviCrash, KilledPartIsFinishedWithEveryWholeFrame) {
    const int w = 200, h = 150, total = 60;
    const std::string part = KilledPart(dir_ / "cut.AVI", GetParam(), w, h, total);
    const auto killed = ReadAll(part);
    ASSERT_GT(killed.size(), 100000u);  // the library had flushed part of the recording

    const AviRepairResult r = Finish(part);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.changed);
    EXPECT_GT(r.frames, 0);
    EXPECT_LT(r.frames, total);
    int decoded = 0, counted = 0;
    std::string errors;
    Probe(part, decoded, counted, errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(decoded, r.frames);
    EXPECT_EQ(counted, r.frames);
    // The frames are the ones recorded, in order, and nothing before the cut moved.
    const auto finished = ReadAll(part);
    EXPECT_TRUE(
        std::equal(finished.begin() + 5800, finished.begin() + 100000, killed.begin() + 5800));

    // A second run finds nothing to do.
    const AviRepairResult again = Finish(part);
    EXPECT_TRUE(again.ok && !again.changed) << again.error;
    EXPECT_EQ(again.frames, r.frames);
    EXPECT_EQ(ReadAll(part), finished);
}

TEST_P(AviCrash, ClosedPartIsLeftAsItIs) {
    AviWriter avi;
    avi.setCodec(GetParam());
    ASSERT_TRUE(avi.open(dir_ / "closed.AVI", 64, 48, false));
    for (int k = 0; k < 5; ++k) ASSERT_TRUE(avi.writeFrame(TestFrame(64, 48, k)));
    ASSERT_TRUE(avi.close());
    const std::string part = dir_ / "closed-PART1.AVI";
    const auto before = ReadAll(part);
    const AviRepairResult r = Finish(part);
    EXPECT_TRUE(r.ok && !r.changed) << r.error;
    EXPECT_EQ(r.frames, 5);
    EXPECT_EQ(ReadAll(part), before);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviCrash, ::testing::Values(0, PackFourCC('I', 'Y', 'U', 'V')),
                         [](const auto& info) { return info.param ? "IYUV" : "Uncompressed"; });

// A short recording killed early leaves nothing but what the library had flushed: often an
// empty file. Damaged files, cut anywhere or with bytes overwritten, are refused unchanged or
// finished; never a crash, a read past the end or a loop.
TEST(AviCrashDamage, RefusedUnchangedOrFinished) {
    TempDir dir;
    const std::string empty = KilledPart(dir / "short.AVI", 0, 64, 48, 2);
    ASSERT_EQ(fs::file_size(empty), 0u);
    const AviRepairResult none = Finish(empty);
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.error.find(empty), std::string::npos) << none.error;
    EXPECT_EQ(fs::file_size(empty), 0u);

    const auto original = ReadAll(KilledPart(dir / "src.AVI", 0, 100, 80, 80));
    ASSERT_GT(original.size(), 6000u);
    std::mt19937 random(20240607);
    const std::string path = dir / "damaged.AVI";
    int finished = 0, refused = 0;
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> bytes = original;
        if (round % 3 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            // Damage mostly in the headers and chunk headers, where sizes live.
            for (int n = 0; n < 1 + round % 4; ++n) {
                const size_t at = round % 3 == 1 ? random() % 6000 : random() % bytes.size();
                bytes[at] = static_cast<uint8_t>(random());
                if (at + 4 <= bytes.size() && random() % 2)
                    for (int i = 0; i < 4; ++i) bytes[at + i] = random() % 2 ? 0xff : 0;
            }
        }
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const AviRepairResult r = Finish(path);
        if (!r.ok) {
            ++refused;
            EXPECT_FALSE(r.error.empty());
            EXPECT_EQ(ReadAll(path), bytes) << r.error;
            continue;
        }
        ++finished;
        const auto once = ReadAll(path);
        const AviRepairResult again = Finish(path);
        EXPECT_TRUE(again.ok && !again.changed) << round << " " << again.error;
        EXPECT_EQ(again.frames, r.frames);
        EXPECT_EQ(ReadAll(path), once) << round;
    }
    EXPECT_GT(finished, 0);
    EXPECT_GT(refused, 0);
}
