// The SER playback reader, the SER layout module and the start-up recovery against thousands of
// recordings of the program's own writer, mutated with a fixed seed: each is refused or played,
// never a crash, a hang or memory beyond the file's size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <random>

#include "RecTestUtil.h"
#include "SerReader.h"
#include "recording/RecoveryJournal.h"
#include "recording/SerWriter.h"
#include "serformat/SerFormat.h"

namespace {
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr int kCases = 40000;
// Each finished case syncs the file to the disk: fewer of them.
constexpr int kRecoveryCases = 5000;
constexpr int32_t kInteresting[] = {0,  1,   -1,  7,     8,     11,      12,      16,     17,
                                    19, 100, 101, 65535, 65536, 1 << 20, INT_MAX, INT_MIN};
constexpr size_t kFields[] = {14, 18, 22, 26, 30, 34, 38};  // the header's integers

Bytes record(const std::string& path, int w, int h, int depth, int frames) {
    std::filesystem::remove(path);  // the writer creates only a file of its own
    SerWriter ser;
    EXPECT_TRUE(ser.open(path, w, h, depth)) << ser.error();
    for (int i = 0; i < frames; ++i) ser.writeFrame(*rectest::makeFrame(w, h, depth));
    EXPECT_TRUE(ser.close()) << ser.error();
    return rectest::readAll(path);
}

void mutate(Bytes& b, std::mt19937& rng) {
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    for (size_t k = 1 + pick(4); k > 0 && !b.empty(); --k) switch (pick(6)) {
            case 0:
                b[pick(b.size())] ^= static_cast<uint8_t>(1 << pick(8));
                break;
            case 1:
                b[pick(b.size())] = static_cast<uint8_t>(rng());
                break;
            case 2:
            case 3:
                if (b.size() >= ser::kHeaderSize)
                    ser::put32(b.data() + kFields[pick(std::size(kFields))],
                               kInteresting[pick(std::size(kInteresting))]);
                break;
            case 4:
                b.resize(pick(b.size() + 1));
                break;
            default:
                b.resize(b.size() + pick(300), static_cast<uint8_t>(rng()));
                break;
        }
}
}  // namespace

TEST(SerReaderFuzz, MutatedRecordingsAreRefusedOrPlayedWithinBounds) {
    rectest::TempDir dir;
    const std::string path = dir / "case.ser";
    const std::vector<Bytes> seeds = {record(path, 6, 4, 8, 3), record(path, 5, 3, 16, 2),
                                      record(path, 12, 2, 8, 0)};
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::mt19937 rng(20240310);
    int played = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kCases; ++i) {
        Bytes b = seeds[i % seeds.size()];
        mutate(b, rng);
        // Rewritten in place: truncating to 0 first would flush the disk each time.
        ASSERT_EQ(::pwrite(fd, b.data(), b.size(), 0), static_cast<ssize_t>(b.size()));
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(b.size())), 0);

        ser::Header h;
        if (b.size() >= ser::kHeaderSize && ser::decodeHeader(b.data(), &h)) {
            uint8_t again[ser::kHeaderSize];  // the layout reads and writes the same bytes
            ser::encodeHeader(h, again);
            ASSERT_TRUE(std::equal(again, again + sizeof again, b.begin())) << "case " << i;
        }
        const auto start = std::chrono::steady_clock::now();
        sercam::SerReader reader;
        std::string why;
        if (reader.open(path, &why)) {
            ++played;
            const uint64_t frameBytes = ser::frameBytes(h);
            ASSERT_GE(reader.frameCount(), 1);
            ASSERT_LE(ser::kHeaderSize + frameBytes * reader.frameCount(), b.size()) << i;
            Bytes frame;
            for (int index : {0, reader.frameCount() - 1}) {
                ASSERT_TRUE(reader.readFrame(index, &frame, &why)) << "case " << i << why;
                ASSERT_EQ(frame.size(), static_cast<size_t>(reader.width()) * reader.height());
            }
            ASSERT_FALSE(reader.readFrame(reader.frameCount(), &frame, &why));
        } else {
            ASSERT_NE(why.find(path), std::string::npos) << why;
        }
        ASSERT_LT(std::chrono::steady_clock::now() - start, 1s) << "case " << i;
    }
    ::close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%d mutated SER files, %d played, %.2f s\n", kCases, played, seconds);
    EXPECT_GT(played, kCases / 20);  // the mutations leave many files playable
    EXPECT_LT(played, kCases);
}

// The start-up recovery against noted recordings whose file and side file were mutated: each
// is finished or left exactly as it was, never with fewer frames than its header counted,
// never a crash, a hang or a read beyond the file.
TEST(SerRecoveryFuzz, MutatedNotedRecordingsAreFinishedOrLeftAsTheyWere) {
    rectest::TempDir dir;
    const std::string path = dir / "noted.ser";
    const std::vector<Bytes> seeds = {record(path, 6, 4, 8, 3), record(path, 5, 3, 16, 2)};
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    std::mt19937 rng(20261209);
    int finished = 0;
    for (int i = 0; i < kRecoveryCases; ++i) {
        if (st.st_nlink == 0) {
            // The last case was cleared away as an empty recording: a new file for the next.
            ::close(fd);
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
        }
        ASSERT_EQ(::fstat(fd, &st), 0);
        Bytes b = seeds[i % seeds.size()];
        mutate(b, rng);
        ASSERT_EQ(::pwrite(fd, b.data(), b.size(), 0), static_cast<ssize_t>(b.size()));
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(b.size())), 0);
        ser::Header h;
        const bool decoded = b.size() >= ser::kHeaderSize && ser::decodeHeader(b.data(), &h);
        {
            // Rising stamps from the header's start, some of them cut.
            std::ofstream side(serStampsPath(path), std::ios::binary | std::ios::trunc);
            for (unsigned n = rng() % 25, k = 0; k < n; ++k) {
                const int64_t stamp = h.dateTimeUtc + k * 10000;
                side.write(reinterpret_cast<const char*>(&stamp), k + 1 < n ? 8 : rng() % 9);
            }
        }
        struct stat sideSt {};
        ASSERT_EQ(::stat(serStampsPath(path).c_str(), &sideSt), 0);
        // Noted with the header's own geometry and start, so that the finishing is really tried.
        JournalEntry note{"SER",     path,      serStampsPath(path),
                          st.st_dev, st.st_ino, h.width,
                          h.height,  h.depth,   h.colorId};
        note.sideDevice = sideSt.st_dev;
        note.sideInode = sideSt.st_ino;
        note.token = serHeaderToken(h);
        const auto start = std::chrono::steady_clock::now();
        const RecoveryOutcome outcome = finishInterruptedSer(note);
        ASSERT_LT(std::chrono::steady_clock::now() - start, 1s) << "case " << i;
        const Bytes after = rectest::readAll(path);
        if (outcome.text.rfind("Removed the empty recording", 0) == 0) {
            // Only an empty file, or one of its own header without a single frame, goes.
            ASSERT_TRUE(b.empty() || (decoded && b.size() < ser::kHeaderSize + ser::frameBytes(h)))
                << i;
            ASSERT_FALSE(std::filesystem::exists(path));
            ASSERT_EQ(::fstat(fd, &st), 0);
            continue;
        }
        if (!outcome.finished) {
            ASSERT_EQ(after, b) << "case " << i << ": " << outcome.text;
            continue;
        }
        ++finished;
        ASSERT_TRUE(decoded);
        const int32_t count = ser::get32(after.data() + ser::kFrameCountOffset);
        ASSERT_GE(count, std::max(h.frameCount, 0)) << "case " << i;
        ASSERT_EQ(after.size(), ser::kHeaderSize + count * (ser::frameBytes(h) + 8)) << i;
    }
    ::close(fd);
    std::printf("%d mutated noted recordings, %d finished\n", kRecoveryCases, finished);
    EXPECT_GT(finished, kRecoveryCases / 20);
}
