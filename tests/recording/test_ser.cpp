#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "FakeCamera.h"
#include "FrameQueue.h"
#include "RecTestUtil.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "recording/OutFile.h"
#include "recording/SerWriter.h"

using namespace rectest;

namespace {
constexpr int64_t kTicks20240101 = 638396640000000000LL;  // 2024-01-01 00:00 in 100-ns ticks
constexpr int64_t kTicksPerDay = 864000000000LL;

int32_t le32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int32_t>(v);
}
int64_t le64(const std::vector<uint8_t>& b, size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b.at(at + i);
    return static_cast<int64_t>(v);
}
std::string text(const std::vector<uint8_t>& b, size_t at, size_t n) {
    return std::string(b.begin() + at, b.begin() + at + n);
}

LocalDateTime at(int y, int mo, int d, int h, int mi, int s, int ms) {
    DateTimeParts p;
    p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = mi, p.second = s,
    p.millisecond = ms;
    return encodeDateTime(p);
}

class SerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testclock::setNow([] { return at(2024, 3, 10, 21, 15, 30, 250); }, [] { return 3600; });
    }
    void TearDown() override {
        ser_.close();
        testclock::setNow(nullptr);
    }
    TempDir dir_;
    SerWriter ser_;
};
}  // namespace

TEST(ToSerTicks, EpochDaysAndTies) {
    EXPECT_EQ(toSerTicks(0.0), 599264352000000000LL);
    EXPECT_EQ(toSerTicks(1.0) - toSerTicks(0.0), kTicksPerDay);
    EXPECT_EQ(toSerTicks(-693593.0), 0);  // 0001-01-01
    EXPECT_NEAR(static_cast<double>(toSerTicks(at(2024, 1, 1, 0, 0, 0, 0))),
                static_cast<double>(kTicks20240101), 100.0);
    // Products that land exactly on a half round to the even neighbour.
    const double d = static_cast<double>(kTicksPerDay);
    ASSERT_EQ(2.5 / d * d, 2.5);
    ASSERT_EQ(3.5 / d * d, 3.5);
    EXPECT_EQ(toSerTicks(2.5 / d) - toSerTicks(0.0), 2);
    EXPECT_EQ(toSerTicks(3.5 / d) - toSerTicks(0.0), 4);
}

TEST_F(SerTest, HeaderFramesAndTrailerByteByByte) {
    const std::string path = dir_ / "moon_00000.SER";
    // Width 10 is not a multiple of 4: the buffer rows are 12 bytes, the file's 10.
    ASSERT_TRUE(ser_.open(path, 10, 3, 8));
    const LocalDateTime stamps[3] = {at(2024, 3, 10, 21, 15, 29, 0),
                                     at(2024, 3, 10, 21, 15, 29, 100),
                                     at(2024, 3, 10, 21, 15, 29, 250)};
    for (LocalDateTime s : stamps) {
        FramePtr f(makeFrame(10, 3));
        ASSERT_EQ(frameStride(f.get()), 12u);
        f->timeStamp = s;
        ASSERT_TRUE(ser_.writeFrame(*f));
    }
    EXPECT_EQ(ser_.frameCount(), 3);
    ASSERT_TRUE(ser_.close());
    EXPECT_FALSE(ser_.isOpen());

    const auto b = readAll(path);
    ASSERT_EQ(b.size(), 178u + 3 * 30 + 3 * 8);
    EXPECT_EQ(text(b, 0, 14), "LUCAM-RECORDER");
    EXPECT_EQ(le32(b, 14), 0);  // LuID
    EXPECT_EQ(le32(b, 18), 0);  // ColorID
    EXPECT_EQ(le32(b, 22), 0);  // LittleEndian
    EXPECT_EQ(le32(b, 26), 10);
    EXPECT_EQ(le32(b, 30), 3);
    EXPECT_EQ(le32(b, 34), 8);
    EXPECT_EQ(le32(b, 38), 3);  // FrameCount
    EXPECT_EQ(text(b, 42, 40), "OBSERVER________________________________");
    EXPECT_EQ(text(b, 82, 40), "INSTRUMENT______________________________");
    EXPECT_EQ(text(b, 122, 40), "TELESCOPE_______________________________");

    const int64_t local = le64(b, 162), utc = le64(b, 170);
    const int64_t expectLocal =
        kTicks20240101 + 69 * kTicksPerDay + (21 * 3600 + 15 * 60 + 30) * 10000000LL + 2500000;
    EXPECT_NEAR(static_cast<double>(local), static_cast<double>(expectLocal), 100.0);
    EXPECT_EQ(local - utc, 3600 * 10000000LL);  // the offset in force, exactly

    for (int k = 0; k < 3; ++k)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(b[178 + k * 30 + y * 10 + x], sample(x, y, 8))
                    << k << " " << x << "," << y;

    // Each trailer entry is the UTC time of the frame's own stamp, 100 ms and 150 ms apart.
    const size_t trailer = 178 + 90;
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(le64(b, trailer + 8 * k), toSerTicks(stamps[k]) - 3600 * 10000000LL);
    EXPECT_NEAR(static_cast<double>(le64(b, trailer + 8) - le64(b, trailer)), 1000000.0, 10.0);
    EXPECT_NEAR(static_cast<double>(le64(b, trailer + 16) - le64(b, trailer + 8)), 1500000.0, 10.0);
    EXPECT_NEAR(static_cast<double>(utc - le64(b, trailer)), 12500000.0, 10.0);
}

TEST_F(SerTest, EmptyRecordingAndTimeZoneZero) {
    testclock::setNow([] { return at(2024, 6, 1, 0, 0, 0, 0); }, [] { return 0; });
    const std::string path = dir_ / "empty.SER";
    ASSERT_TRUE(ser_.open(path, 640, 480, 8));
    ASSERT_TRUE(ser_.close());
    const auto b = readAll(path);
    ASSERT_EQ(b.size(), 178u);
    EXPECT_EQ(le32(b, 38), 0);
    EXPECT_EQ(le64(b, 162), le64(b, 170));
}

TEST_F(SerTest, SixteenBitFramesKeepTwoBytesPerSampleWithoutPadding) {
    const std::string path = dir_ / "deep.SER";
    ASSERT_TRUE(ser_.open(path, 5, 2, 16));
    FramePtr f(makeFrame(5, 2, 16));
    ASSERT_EQ(frameStride(f.get()), 12u);
    ASSERT_TRUE(ser_.writeFrame(*f));
    ASSERT_TRUE(ser_.close());
    const auto b = readAll(path);
    ASSERT_EQ(b.size(), 178u + 20 + 8);
    EXPECT_EQ(le32(b, 34), 16);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            const size_t at = 178 + (y * 5 + x) * 2;
            EXPECT_EQ(b[at] | b[at + 1] << 8, sample(x, y, 16));
        }
}

TEST_F(SerTest, MoreThanFiftyThousandFramesKeepEveryStamp) {
    const std::string path = dir_ / "long.SER";
    constexpr int kFrames = 50010;
    ASSERT_TRUE(ser_.open(path, 4, 1, 8));
    FramePtr f(makeFrame(4, 1));
    const LocalDateTime start = at(2024, 3, 10, 20, 0, 0, 0);
    for (int i = 0; i < kFrames; ++i) {
        f->timeStamp = start + i / 86400000.0;  // one millisecond apart
        ASSERT_TRUE(ser_.writeFrame(*f)) << i;
    }
    ASSERT_TRUE(ser_.close());
    const auto b = readAll(path);
    const size_t trailer = 178 + 4 * kFrames;
    ASSERT_EQ(b.size(), trailer + 8u * kFrames);
    EXPECT_EQ(le32(b, 38), kFrames);
    for (int i = 1; i < kFrames; ++i)
        ASSERT_NEAR(static_cast<double>(le64(b, trailer + 8 * i) - le64(b, trailer + 8 * (i - 1))),
                    10000.0, 10.0)
            << i;
    EXPECT_EQ(le64(b, trailer + 8 * (kFrames - 1)),
              toSerTicks(start + (kFrames - 1) / 86400000.0) - 3600 * 10000000LL);
}

// A camera library that reports its exposure starts to the microsecond, through the capture
// thread into the file: each trailer entry is that start in UTC ticks, exactly, whatever the
// local zone (UTC + 1 h here) the frames travel in.
TEST_F(SerTest, TrailerHoldsEachStartTheCameraReportedToTheMicrosecond) {
    constexpr int64_t kTicksTo1970 = 621355968000000000LL;  // 1970-01-01 in 100-ns ticks
    // 2024-03-10 21:15:29.000001 UTC, then 33.367 ms apart: parts of 0.001 to 0.999 ms.
    const auto reported = [](int exposure) {
        return 1'710'105'329'000'001LL + exposure * 33'367LL;
    };
    tvtest::FakeCamera cam(16, 4);
    cam.install();
    cam.setReportedStart(reported);
    cam.setAutoRelease(true);
    FrameQueue queue;
    CaptureThread capture(queue.poster());
    ASSERT_TRUE(capture.openCamera());
    capture.start();
    const std::string path = dir_ / "timing.SER";
    ASSERT_TRUE(ser_.open(path, 16, 4, 8));
    std::vector<int64_t> want;
    while (want.size() < 8) {
        FramePtr f = queue.pop(5000);
        ASSERT_TRUE(f && ser_.writeFrame(*f));
        want.push_back(kTicksTo1970 + reported(static_cast<int>(f->exposureNumber) - 1) * 10);
    }
    ASSERT_TRUE(ser_.close());
    const auto b = readAll(path);
    ASSERT_EQ(b.size(), 178u + 8 * 64 + 8 * 8);
    for (size_t k = 0; k < 8; ++k) EXPECT_EQ(le64(b, 178 + 8 * 64 + 8 * k), want[k]) << k;
}

TEST_F(SerTest, OpenFailuresAreReportedAndLeaveNoFile) {
    // A missing folder, a path under a regular file; a name taken by a link, by a FIFO, or
    // (only the side file's name) by a user's file: these are left exactly as they were, and
    // opening never waits on the FIFO.
    std::ofstream(dir_ / "plain") << "x";
    ASSERT_EQ(::symlink("/dev/full", (dir_ / "full.SER").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir_ / "fifo.SER.stamps").c_str(), 0600), 0);
    std::ofstream(dir_ / "mine.SER.stamps") << "my own notes";
    for (const std::string& path : {dir_ / "missing/a.SER", dir_ / "plain/a.SER", dir_ / "full.SER",
                                    dir_ / "fifo.SER", dir_ / "mine.SER"}) {
        SerWriter ser;
        EXPECT_FALSE(ser.open(path, 8, 8, 8)) << path;
        EXPECT_FALSE(ser.isOpen());
        EXPECT_NE(ser.error().find(path), std::string::npos) << ser.error();
        if (path == dir_ / "full.SER")
            EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/full");
        else
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path))) << path;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir_ / "fifo.SER.stamps"));
    EXPECT_EQ(readAll(dir_ / "mine.SER.stamps").size(), 12u);
    EXPECT_FALSE(ser_.open(dir_ / "bad.SER", 0, 8, 8));
    EXPECT_FALSE(ser_.open(dir_ / "bad.SER", 8, 8, 12));
    EXPECT_FALSE(ser_.isOpen());
}

TEST_F(SerTest, FailedFrameIsNotCountedAndLeavesAConsistentFile) {
    const std::string path = dir_ / "partial.SER";
    ASSERT_TRUE(ser_.open(path, 64, 64, 8));
    FramePtr f(makeFrame(64, 64));
    ASSERT_TRUE(ser_.writeFrame(*f));
    ASSERT_TRUE(ser_.writeFrame(*f));
    {
        // Room for half of the third frame: the write fails part way.
        FileSizeLimit limit(178 + 2 * 4096 + 2048);
        EXPECT_FALSE(ser_.writeFrame(*f));
        EXPECT_NE(ser_.error().find(path), std::string::npos);
        EXPECT_EQ(ser_.frameCount(), 2);
        ASSERT_TRUE(ser_.close());
    }
    const auto b = readAll(path);
    ASSERT_EQ(b.size(), 178u + 2 * 4096 + 2 * 8);
    EXPECT_EQ(le32(b, 38), 2);
}

TEST_F(SerTest, TrailerThatDoesNotFitIsReportedAndDropped) {
    const std::string path = dir_ / "notrailer.SER";
    ASSERT_TRUE(ser_.open(path, 16, 16, 8));
    FramePtr f(makeFrame(16, 16));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ser_.writeFrame(*f));
    {
        FileSizeLimit limit(178 + 3 * 256 + 12);
        EXPECT_FALSE(ser_.close());
    }
    EXPECT_FALSE(ser_.isOpen());
    const auto b = readAll(path);
    ASSERT_EQ(b.size(), 178u + 3 * 256);  // frames kept, no partial trailer
    EXPECT_EQ(le32(b, 38), 3);
}

TEST_F(SerTest, FramesOfAnotherSizeAreRefused) {
    ASSERT_TRUE(ser_.open(dir_ / "size.SER", 8, 8, 8));
    FramePtr wrong(makeFrame(12, 8)), deep(makeFrame(8, 8, 16));
    EXPECT_FALSE(ser_.writeFrame(*wrong));
    EXPECT_FALSE(ser_.writeFrame(*deep));
    EXPECT_EQ(ser_.frameCount(), 0);
    ASSERT_TRUE(ser_.close());
    EXPECT_EQ(readAll(dir_ / "size.SER").size(), 178u);
    EXPECT_FALSE(ser_.writeFrame(*wrong));  // nothing open
}

// Appends of megabytes (their aligned middle straight to the disk where the file system
// allows it) beside small ones, header patches, a sync and a cut: the file holds every byte
// after each call, as a killed program would leave it, and the model's bytes at the end.
class OutFileAppends : public ::testing::TestWithParam<OutFile::Mode> {};

TEST_P(OutFileAppends, EveryByteIsInTheFileAfterEachCall) {
    TempDir dir;
    const std::string path = dir / "big.bin";
    OutFile file;
    ASSERT_TRUE(file.create(path, GetParam()));
    std::vector<uint8_t> model;
    auto append = [&](size_t n, uint8_t seed) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 31 + i / 4096);
        ASSERT_TRUE(file.write(bytes.data(), bytes.size())) << file.error();
        model.insert(model.end(), bytes.begin(), bytes.end());
        ASSERT_EQ(file.position(), model.size());
        ASSERT_EQ(readAll(path), model);
    };
    const size_t big = OutFile::kDirectMinBytes + 3 * OutFile::kDirectAlign + 123;
    append(178, 1);  // a header: every later append starts off the block grid
    append(big, 2);
    ASSERT_TRUE(file.writeAt(38, "ABCD", 4));
    std::memcpy(&model[38], "ABCD", 4);
    append(big + 777, 3);
    ASSERT_TRUE(file.syncData());
    ASSERT_EQ(readAll(path), model);
    // A frame cut off again after a failure, then the next one in its place.
    const size_t cut = model.size();
    append(big, 4);
    ASSERT_TRUE(file.truncate(cut));
    model.resize(cut);
    append(2 * big, 5);
    append(10, 6);
    ASSERT_TRUE(file.close());
    EXPECT_EQ(readAll(path), model);
}

INSTANTIATE_TEST_SUITE_P(DirectAndOrdinary, OutFileAppends,
                         ::testing::Values(OutFile::Mode::Direct, OutFile::Mode::Append));

// A whole-at-close file has no name until it is complete (a kill leaves nothing behind), and
// a closed recording keeps no disk room reserved past its end.
TEST(OutFileNames, WholeFilesAppearAtCloseAndReservesAreGivenBack) {
    TempDir dir;
    OutFile whole;
    ASSERT_TRUE(whole.create(dir / "still.FIT", OutFile::Mode::WholeAtClose));
    ASSERT_TRUE(whole.write("SIMPLE", 6));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    ASSERT_TRUE(whole.close()) << whole.error();
    EXPECT_EQ(readAll(dir / "still.FIT").size(), 6u);

    SerWriter ser;
    ASSERT_TRUE(ser.open(dir / "small.SER", 64, 48, 8));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(ser.writeFrame(*makeFrame(64, 48)));
    ASSERT_TRUE(ser.close());
    struct stat st {};
    ASSERT_EQ(::stat((dir / "small.SER").c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, st.st_size + 65536) << st.st_size;
}
