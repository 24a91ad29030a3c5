#pragma once
// Helpers of the recording tests: a private temporary folder, frames with a known pattern,
// and running the independent file readers.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "RunCommand.h"
#include "acquisition/Frame.h"

namespace rectest {

class TempDir {
  public:
    TempDir() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/tv-rec-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The sample at (x, y) of a test frame; every row differs, so a shear shows.
inline uint16_t sample(int x, int y, int depth) {
    const unsigned v = static_cast<unsigned>(x * 7 + y * 13);
    return static_cast<uint16_t>(depth == 16 ? (v * 257u + 1u) & 0xffff : v & 0xff);
}

// A frame filled with Sample(); the row padding bytes hold 0xEE.
inline FramePtr makeFrame(int width, int height, int depth = 8, const std::string& stamp = "") {
    FramePtr f = newFrame(width, height, stamp, false, depth);
    if (!f) return nullptr;
    uint8_t* base = frameData(f.get());
    const size_t stride = frameStride(f.get());
    for (int y = 0; y < height; ++y) {
        uint8_t* row = base + stride * y;
        std::fill(row, row + stride, uint8_t{0xEE});
        for (int x = 0; x < width; ++x) {
            if (depth == 16)
                reinterpret_cast<uint16_t*>(row)[x] = sample(x, y, 16);
            else
                row[x] = static_cast<uint8_t>(sample(x, y, 8));
        }
    }
    return f;
}

inline std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using tvtest::quote;
using tvtest::runCommand;

struct Probe {
    int frames = -1, width = -1, height = -1;
    int counted = -1;  // frames the header gives, -1 when it gives none
    std::string rate, output;
    bool errors = false;
};

// Decodes every frame with ffprobe; decoder complaints count as errors.
inline Probe ffProbe(const std::string& path) {
    Probe p;
    runCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames,nb_frames,width,height,r_frame_rate -of default=nw=1 " +
            quote(path),
        p.output);
    std::istringstream in(p.output);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq),
                          value = eq == std::string::npos ? "" : line.substr(eq + 1);
        if (key == "width")
            p.width = std::atoi(value.c_str());
        else if (key == "height")
            p.height = std::atoi(value.c_str());
        else if (key == "r_frame_rate")
            p.rate = value;
        else if (key == "nb_read_frames")
            p.frames = std::atoi(value.c_str());
        else if (key == "nb_frames")
            p.counted = value == "N/A" ? -1 : std::atoi(value.c_str());
        else
            p.errors = true;
    }
    return p;
}

// Limits the size of files this process writes (a full disk in miniature); writes past it
// fail with EFBIG instead of raising SIGXFSZ. Restored when the object goes.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = saved_;
        lim.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit saved_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

// Runs `work` in a child process, which calls the function it is given where it is to be
// stopped; this process then kills it with SIGKILL, as a crash or power cut stops the
// program: no destructor runs, nothing buffered is flushed. False when the child returned
// without reaching that point or did not die by the signal.
using KillPoint = std::function<void()>;
inline bool runAndKill(const std::function<void(const KillPoint&)>& work) {
    int ready[2];
    if (::pipe(ready) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::close(ready[0]);
        work([&] {
            const char here = 'k';
            if (::write(ready[1], &here, 1) == 1)
                for (;;) ::pause();
        });
        ::_exit(3);
    }
    ::close(ready[1]);
    char here = 0;
    const bool reached = ::read(ready[0], &here, 1) == 1;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    return reached && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace rectest
