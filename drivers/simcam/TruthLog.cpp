#include "TruthLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace simcam {

struct TruthLog::File {
    int fd = -1;
    ~File() {
        if (fd >= 0) ::close(fd);
    }
};

std::string TruthLog::open(const std::string& path) {
    std::shared_ptr<File> file;
    if (!path.empty()) {
        // Without blocking: opening a FIFO would wait for a reader.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) return path + ": " + std::strerror(errno);
        file = std::make_shared<File>();
        file->fd = fd;
        struct stat st {};
        if (fstat(fd, &st) != 0) return path + ": " + std::strerror(errno);
        if (!S_ISREG(st.st_mode)) return path + ": not a regular file";
    }
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = std::move(file);
    dropped_ = 0;
    if (file_ && !writerStarted_) {
        // Detached and never ended, like the camera's worker: the record lives as long as
        // the process.
        std::thread([this] { drain(); }).detach();
        writerStarted_ = true;
    }
    return {};
}

bool TruthLog::active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != nullptr;
}

void TruthLog::write(std::string line) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!file_) return;
        if (waiting_.size() >= kMaxWaiting) {
            ++dropped_;
            return;
        }
        line += '\n';
        if (dropped_ > 0) {
            line =
                "# " + std::to_string(dropped_) + " lines dropped: the file fell behind\n" + line;
            dropped_ = 0;
        }
        waiting_.emplace_back(file_, std::move(line));
    }
    wake_.notify_one();
}

void TruthLog::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !waiting_.empty(); });
        auto [file, text] = std::move(waiting_.front());
        waiting_.pop_front();
        lock.unlock();
        // Each line goes to the file at once (a reader sees it while the camera runs).
        const char* p = text.data();
        size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(file->fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // a full disk: the line is lost, the camera goes on
            p += n;
            left -= static_cast<size_t>(n);
        }
        file.reset();  // a file replaced meanwhile is closed with its last line
        lock.lock();
    }
}

bool TruthLog::started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writerStarted_;
}

}  // namespace simcam
