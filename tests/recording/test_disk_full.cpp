// Recordings onto a file system that fills up: the recording ends with a message naming the
// file and the reason, what was written stays readable to its last frame, no half-written
// still is left, and the next recording works once there is room again.
//
// Each case runs in a child process with a private mount namespace and a small tmpfs. Where
// the machine does not allow that, the still series falls back to a file size limit (writes
// past it fail as on a full disk) and the AVI case is skipped, since a file size limit is
// not something the free-space forecast can see.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/videoio.hpp>

#include "RecTestUtil.h"
#include "recording/RecordingController.h"
#include "support/RecordingLog.h"

using namespace rectest;
namespace fs = std::filesystem;

namespace {
constexpr int kSkipped = 77;  // exit status of a child that cannot run its case

using View = tvtest::RecordingLog;

// Turns `dir` into a tmpfs of `bytes` bytes seen only by this process; the reason when the
// machine does not allow it.
std::string mountSmallFs(const std::string& dir, size_t bytes) {
    if (::unshare(CLONE_NEWNS) != 0) {
        // Without the privilege: a user namespace of its own, in which this user is root.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return std::string("no private mount namespace: ") + std::strerror(errno);
        const auto put = [](const char* file, const std::string& text) {
            std::ofstream(file) << text;
        };
        put("/proc/self/setgroups", "deny");
        put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make the mounts private: ") + std::strerror(errno);
    const std::string opts = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) != 0)
        return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    return std::string();
}

// Runs `body(mounted)` in a child process with `dir` a file system of `bytes` bytes when
// `mounted`; the child's gtest failures are printed by the child and make it exit with 1.
int runOnSmallFs(const std::string& dir, size_t bytes,
                 const std::function<void(bool mounted)>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string why = mountSmallFs(dir, bytes);
        if (!why.empty())
            std::printf("disk full simulated without a small file system: %s\n", why.c_str());
        body(why.empty());
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

size_t count(const std::string& dir) {
    return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
}

void clear(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
}

void step(RecordingController& rec, int w, int h) {
    rec.recordFrame(makeFrame(w, h));
    rec.waitForWriter();
}
}  // namespace

TEST(DiskFull, StillSeriesStopsWithTheReasonAndLeavesOnlyWholeFiles) {
    TempDir tmp;
    const std::string dir = tmp / "small";
    fs::create_directory(dir);
    const int w = 320, h = 240;  // a FIT file of about 80 KB
    const int status = runOnSmallFs(dir, 1 << 20, [&](bool mounted) {
        // Without the small file system, every file may hold a little under one still.
        std::unique_ptr<FileSizeLimit> limit;
        if (!mounted) limit = std::make_unique<FileSizeLimit>(w * h / 2);
        for (CaptureFormat format : {CaptureFormat::Fit, CaptureFormat::Bmp}) {
            View view;
            RecordingController rec;
            view.listenTo(rec);
            const std::string still = dir + (format == CaptureFormat::Fit ? "/m.FIT" : "/m.BMP");
            ASSERT_TRUE(rec.startStillSeries(format, still, {0, false}, false));
            for (int i = 0; i < 40 && rec.busy(); ++i) step(rec, w, h);
            EXPECT_FALSE(rec.busy()) << "the series went on past a full disk";
            ASSERT_EQ(view.failures.size(), 1u);
            const std::string& msg = view.failures[0];
            EXPECT_NE(msg.find(dir + "/m_"), std::string::npos) << msg;
            EXPECT_NE(msg.find(mounted ? std::strerror(ENOSPC) : std::strerror(EFBIG)),
                      std::string::npos)
                << msg;
            // Only whole stills: as many files as frames written, all of one size.
            EXPECT_EQ(count(dir), static_cast<size_t>(rec.framesWritten()));
            for (const auto& e : fs::directory_iterator(dir))
                EXPECT_EQ(fs::file_size(e.path()),
                          fs::file_size(fs::directory_iterator(dir)->path()));

            // Room again: the next series writes.
            clear(dir);
            limit.reset();
            ASSERT_TRUE(rec.startStillSeries(format, still, {2, false}, false));
            for (int i = 0; i < 3; ++i) step(rec, w, h);
            EXPECT_EQ(rec.framesWritten(), 2);
            EXPECT_EQ(view.failures.size(), 1u);
            clear(dir);
            if (!mounted) limit = std::make_unique<FileSizeLimit>(w * h / 2);
        }
    });
    EXPECT_EQ(status, 0);
}

TEST(DiskFull, AviStopsBeforeTheDiskIsFullAndThePartStaysReadable) {
    TempDir tmp;
    const std::string dir = tmp / "small";
    fs::create_directory(dir);
    const int w = 640, h = 480;
    const int status = runOnSmallFs(dir, 4 << 20, [&](bool mounted) {
        if (!mounted) {
            std::fflush(nullptr);
            ::_exit(kSkipped);
        }
        View view;
        RecordingController rec;
        view.listenTo(rec);
        rec.avi().setCodec(0);
        const std::string path = dir + "/m_00000.AVI";
        ASSERT_TRUE(rec.startRecording(CaptureFormat::Avi, path, w, h, false, 8, {0, false}, false))
            << rec.lastError();
        for (int i = 0; i < 40 && rec.busy(); ++i) step(rec, w, h);
        EXPECT_FALSE(rec.busy());
        ASSERT_EQ(view.failures.size(), 1u);
        const std::string part = dir + "/m_00000-PART1.AVI";
        EXPECT_NE(view.failures[0].find(part + "\": not enough free space"), std::string::npos)
            << view.failures[0];
        // Raw 640 x 480 frames of 300 KiB (900 KiB when stored as colour): the forecast must
        // not stop far short of the space there is.
        const int64_t stored = static_cast<int64_t>(fs::file_size(part)) / rec.framesWritten();
        EXPECT_GE(rec.framesWritten(), static_cast<int>((4 << 20) / stored) - 2) << stored;
        {
            cv::VideoCapture reader(part, cv::CAP_FFMPEG);
            ASSERT_TRUE(reader.isOpened());
            int frames = 0;
            for (cv::Mat m; reader.read(m);) ++frames;
            EXPECT_EQ(frames, rec.framesWritten());
        }  // the reader lets go of the file, so that removing it frees its space

        fs::remove(part);
        ASSERT_TRUE(rec.startRecording(CaptureFormat::Avi, dir + "/m_00001.AVI", w, h, false, 8,
                                       {2, false}, false));
        for (int i = 0; i < 3; ++i) step(rec, w, h);
        EXPECT_EQ(rec.framesWritten(), 2);
        EXPECT_EQ(view.failures.size(), 1u) << view.failures.back();
    });
    if (status == kSkipped) GTEST_SKIP() << "no small file system can be mounted here";
    EXPECT_EQ(status, 0);
}
