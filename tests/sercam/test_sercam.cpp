#include <gtest/gtest.h>
#include <semaphore.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "FrameInfoProbe.h"
#include "LoadedCamera.h"
#include "SemaphoreWait.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Frame = std::vector<uint8_t>;

sem_t g_done;  // lives as long as the process: the library keeps its address

bool waitDone(int ms) {
    return waitPosted(g_done, ms);
}

void put32(std::vector<uint8_t>& b, size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> 8 * i);
}

// A SER file as capture programs write it: header, frames (8-bit samples, or 16-bit in the
// given byte order), a trailer of time stamps.
void writeSer(const std::string& path, int w, int h, int depth, int colour,
              const std::vector<std::vector<uint16_t>>& frames, bool bigEndian = false) {
    std::vector<uint8_t> b(178, 0);
    std::memcpy(b.data(), "LUCAM-RECORDER", 14);
    put32(b, 18, colour);
    put32(b, 22, bigEndian ? 1 : 0);
    put32(b, 26, w);
    put32(b, 30, h);
    put32(b, 34, depth);
    put32(b, 38, static_cast<int32_t>(frames.size()));
    for (const auto& f : frames)
        for (uint16_t v : f) {
            if (depth <= 8) {
                b.push_back(static_cast<uint8_t>(v));
            } else if (bigEndian) {
                b.push_back(static_cast<uint8_t>(v >> 8));
                b.push_back(static_cast<uint8_t>(v));
            } else {
                b.push_back(static_cast<uint8_t>(v));
                b.push_back(static_cast<uint8_t>(v >> 8));
            }
        }
    b.resize(b.size() + 8 * frames.size(), 0x5A);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class SerCamTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { sem_init(&g_done, 0, 0); }

    void SetUp() override {
        std::string tmpl = ::testing::TempDir() + "sercamXXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        cam_.exposureSemaphore(&g_done);
        while (sem_trywait(&g_done) == 0) {
        }
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Opens `name` in the test folder as the camera; exposures of 1 ms.
    bool open(const std::string& name) {
        const std::string path = dir_ + "/" + name;
        if (cam_.cameraOption("file", path.c_str()) != 1 || cam_.openUSB(0) != 1) return false;
        cam_.setExposureLength(1);
        cam_.horizontalFlip(0);
        return true;
    }

    // One w x h exposure into a buffer whose rows are padded to 4 bytes and pre-filled
    // with 0xAB; returns the samples without the padding, after checking the padding.
    Frame expose(int w, int h) {
        const size_t stride = (static_cast<size_t>(w) + 3) & ~size_t{3};
        std::vector<uint8_t> buffer(stride * h, 0xAB);
        EXPECT_EQ(cam_.threadedExposure(buffer.data(), 0, 1), 1);
        EXPECT_TRUE(waitDone(10000));
        Frame out;
        for (int y = 0; y < h; ++y) {
            out.insert(out.end(), buffer.begin() + stride * y, buffer.begin() + stride * y + w);
            for (size_t x = w; x < stride; ++x) EXPECT_EQ(buffer[stride * y + x], 0xAB);
        }
        return out;
    }

    const TarviApi& cam_ = tvtest::loadedCamera(TV_SERCAM_LIB);
    std::string dir_;
};

// Frame i of a w x h test video: every sample distinct within the frame, and different
// from the same sample of every other frame.
std::vector<uint16_t> testFrame(int w, int h, int i) {
    std::vector<uint16_t> f(static_cast<size_t>(w) * h);
    for (size_t k = 0; k < f.size(); ++k) f[k] = static_cast<uint16_t>((k + 50 * i) % 256);
    return f;
}

Frame bytes(const std::vector<uint16_t>& f) {
    return Frame(f.begin(), f.end());
}

TEST_F(SerCamTest, PlaysTheFramesBitExactInOrderAndLoops) {
    const int w = 10, h = 6;  // rows padded to 12 bytes in the buffer
    std::vector<std::vector<uint16_t>> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(testFrame(w, h, i));
    writeSer(dir_ + "/planet.ser", w, h, 8, 8, frames);
    ASSERT_TRUE(open("planet.ser")) << cam_.cameraLastError();
    EXPECT_STREQ(cam_.cameraLastError(), "");
    int cw = 0, ch = 0;
    EXPECT_STREQ(cam_.getCameraInfo(&cw, &ch), "SER playback: planet.ser");
    EXPECT_EQ(cw, w);
    EXPECT_EQ(ch, h);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(expose(w, h), bytes(frames[i % 3])) << "exposure " << i;

    // Opening again starts from the first frame.
    ASSERT_TRUE(open("planet.ser"));
    EXPECT_EQ(expose(w, h), bytes(frames[0]));
}

TEST_F(SerCamTest, SubframeIsTheCentreAndFlipMirrors) {
    const int w = 12, h = 8;
    const auto full = testFrame(w, h, 0);
    writeSer(dir_ + "/moon.ser", w, h, 8, 0, {full, full});
    ASSERT_TRUE(open("moon.ser"));
    auto at = [&](int x, int y) { return static_cast<uint8_t>(full[y * w + x]); };

    // 5 x 3 from the centre: left (12 - 5) / 2 = 3 and top (8 - 3) / 2 = 2, down to even.
    ASSERT_EQ(cam_.subframe(5, 3), 1);
    Frame crop, mirrored;
    for (int y = 2; y < 5; ++y)
        for (int x = 2; x < 7; ++x) {
            crop.push_back(at(x, y));
            mirrored.push_back(at(8 - x, y));
        }
    EXPECT_EQ(expose(5, 3), crop);
    cam_.horizontalFlip(1);
    EXPECT_EQ(expose(5, 3), mirrored);

    Frame flippedFull;
    for (int y = 0; y < h; ++y)
        for (int x = w - 1; x >= 0; --x) flippedFull.push_back(at(x, y));
    ASSERT_EQ(cam_.subframe(w, h), 1);
    EXPECT_EQ(expose(w, h), flippedFull);
    EXPECT_EQ(cam_.subframe(w + 1, h), 0);  // larger than the file's frames: refused
    EXPECT_EQ(cam_.subframe(w, 0), 0);
}

TEST_F(SerCamTest, SubframeOriginMovesTheCropOnEvenPixelsInsideTheFrame) {
    const int w = 12, h = 8;
    const auto full = testFrame(w, h, 0);
    writeSer(dir_ + "/bayer.ser", w, h, 8, 8, {full});
    ASSERT_TRUE(open("bayer.ser"));
    ASSERT_EQ(cam_.subframe(4, 2), 1);
    // Asked, then where it lies: rounded down to even, and kept inside the 12 x 8 frame.
    for (const auto& [ask, at] : {std::pair{std::pair{3, 5}, std::pair{2, 4}},
                                  std::pair{std::pair{100, 100}, std::pair{8, 6}}}) {
        ASSERT_EQ(cam_.subframeOrigin(ask.first, ask.second), 1);
        Frame crop;
        for (int y = at.second; y < at.second + 2; ++y)
            for (int x = at.first; x < at.first + 4; ++x) crop.push_back(full[y * w + x]);
        EXPECT_EQ(expose(4, 2), crop) << ask.first << ", " << ask.second;
        TarviFrameInfo info{sizeof info, 0, 0, 0, 0, -1, -1};
        ASSERT_EQ(cam_.cameraFrameInfo(&info), 1);
        EXPECT_EQ(info.subframeLeft, at.first);
        EXPECT_EQ(info.subframeTop, at.second);
        EXPECT_EQ(info.colorPattern, TARVI_PATTERN_RGGB);  // the file's, on even sites
    }
}

TEST_F(SerCamTest, DeepSamplesAreScaledToTheirTopEightBits) {
    const int w = 4, h = 2;
    const std::vector<uint16_t> levels = {0, 1, 17, 100, 128, 200, 254, 255};
    std::vector<uint16_t> deep16, deep12;
    for (uint16_t v : levels) {
        deep16.push_back(static_cast<uint16_t>(v * 257));
        deep12.push_back(static_cast<uint16_t>(v << 4 | 0xF));
    }
    writeSer(dir_ + "/deep16.ser", w, h, 16, 0, {deep16});
    writeSer(dir_ + "/deep12.ser", w, h, 12, 9, {deep12});
    writeSer(dir_ + "/deep16be.ser", w, h, 16, 0, {deep16}, true);
    for (const char* name : {"deep16.ser", "deep12.ser", "deep16be.ser"}) {
        ASSERT_TRUE(open(name)) << cam_.cameraLastError();
        EXPECT_EQ(expose(w, h), bytes(levels)) << name;
    }
}

TEST_F(SerCamTest, ExposureLengthPacesTheFramesAndCancelEndsAtOnce) {
    writeSer(dir_ + "/paced.ser", 8, 4, 8, 0, {testFrame(8, 4, 0)});
    ASSERT_TRUE(open("paced.ser"));
    std::vector<uint8_t> buffer(8 * 4);
    cam_.setExposureLength(400);
    const auto t0 = Clock::now();
    ASSERT_EQ(cam_.threadedExposure(buffer.data(), 0, 1), 1);
    EXPECT_EQ(cam_.threadedExposure(buffer.data(), 0, 1), 0);  // busy
    std::this_thread::sleep_for(100ms);
    EXPECT_NE(sem_trywait(&g_done), 0);
    ASSERT_TRUE(waitDone(10000));
    EXPECT_GE(Clock::now() - t0, 390ms);

    cam_.setExposureLength(10000);
    const auto t1 = Clock::now();
    ASSERT_EQ(cam_.threadedExposure(buffer.data(), 0, 1), 1);
    EXPECT_EQ(cam_.cancelExposure(), 1);
    ASSERT_TRUE(waitDone(9000));
    EXPECT_LT(Clock::now() - t1, 9000ms);
    EXPECT_EQ(cam_.cancelExposure(), 0);  // nothing running
    EXPECT_EQ(bytes(testFrame(8, 4, 0)), Frame(buffer.begin(), buffer.end()));
}

TEST_F(SerCamTest, FrameInfoTellsTheStartAndAFrameThatCouldNotBeReadFailed) {
    writeSer(dir_ + "/short.ser", 8, 4, 8, 0, {testFrame(8, 4, 0), testFrame(8, 4, 1)});
    ASSERT_TRUE(open("short.ser"));
    cam_.setExposureLength(30);
    FrameInfoProbe probe{cam_.threadedExposure, cam_.cameraFrameInfo};
    std::vector<uint8_t> buffer(8 * 4);
    EXPECT_EQ(probe.expose(g_done, buffer.data()).status, TARVI_FRAME_GOOD);
    // The file shrinks under the camera: the second frame is gone.
    ASSERT_EQ(truncate((dir_ + "/short.ser").c_str(), 178 + 32), 0);
    EXPECT_EQ(probe.expose(g_done, buffer.data()).status, TARVI_FRAME_FAILED);
    EXPECT_NE(std::string(cam_.cameraLastError()).find("frame 1"), std::string::npos);
}

// A FIFO (chosen, or put where a chosen file was) and a header of 65535 x 65535 16-bit
// frames over a sparse file of 9 GiB: refused at once, saying why.
TEST_F(SerCamTest, HostileFilesAreRefusedAtOnceWithAReason) {
    const auto t0 = Clock::now();
    const std::string fifo = dir_ + "/pipe.ser", later = dir_ + "/later.ser";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(cam_.cameraOption("file", fifo.c_str()), 0);
    EXPECT_NE(std::string(cam_.cameraLastError()).find("not a regular file"), std::string::npos);
    writeSer(later, 4, 2, 8, 0, {testFrame(4, 2, 0)});
    ASSERT_EQ(cam_.cameraOption("file", later.c_str()), 1);
    ASSERT_EQ(unlink(later.c_str()), 0);
    ASSERT_EQ(mkfifo(later.c_str(), 0600), 0);
    EXPECT_EQ(cam_.openUSB(0), 0);
    EXPECT_NE(std::string(cam_.cameraLastError()).find("not a regular file"), std::string::npos);

    writeSer(dir_ + "/giant.ser", 65535, 65535, 16, 0, {});
    ASSERT_EQ(truncate((dir_ + "/giant.ser").c_str(), off_t{9} << 30), 0);
    EXPECT_FALSE(open("giant.ser"));
    EXPECT_NE(std::string(cam_.cameraLastError()).find("65535 x 65535 x 16 bits"),
              std::string::npos)
        << cam_.cameraLastError();
    EXPECT_LT(Clock::now() - t0, 1s);
}

TEST_F(SerCamTest, TheLastErrorReadStaysAsItWasWhileAnotherThreadSetsTheNext) {
    EXPECT_EQ(cam_.cameraOption("speed", "2"), 0);
    const char* read = cam_.cameraLastError();
    const std::string before = read;
    ASSERT_NE(before, "");
    // A longer reason, set on another thread, would move or overwrite a shared text.
    std::thread([&] {
        EXPECT_EQ(cam_.cameraOption(std::string(200, 'k').c_str(), "1"), 0);
        EXPECT_NE(std::string(cam_.cameraLastError()), before);
    }).join();
    EXPECT_EQ(std::string(read), before);
}

TEST_F(SerCamTest, WithoutAPlayableFileThereIsNoCameraAndTheReasonIsGiven) {
    EXPECT_EQ(cam_.cameraOption("speed", "2"), 0);
    EXPECT_NE(std::string(cam_.cameraLastError()), "");
    EXPECT_EQ(cam_.cameraOption("file", ""), 0);

    std::ofstream(dir_ + "/notes.ser") << "these are not frames";
    writeSer(dir_ + "/rgb.ser", 4, 2, 8, 100, {std::vector<uint16_t>(24, 1)});
    writeSer(dir_ + "/empty.ser", 4, 2, 8, 0, {});
    for (const char* name : {"missing.ser", "notes.ser", "rgb.ser", "empty.ser"}) {
        EXPECT_FALSE(open(name)) << name;
        const std::string why = cam_.cameraLastError();
        EXPECT_NE(why.find(name), std::string::npos) << why;
        int w = -1, h = -1;
        cam_.getCameraInfo(&w, &h);
        EXPECT_EQ(w, 0) << name;
        std::vector<uint8_t> buffer(64);
        EXPECT_EQ(cam_.threadedExposure(buffer.data(), 0, 1), 0) << name;
    }
}

}  // namespace
