#include "recording/OutFile.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
// The aligned buffer the direct writes go through; a frame's middle is written in pieces of
// this size.
constexpr size_t kStageBytes = size_t{8} << 20;
}  // namespace

void OutFile::FreeAligned::operator()(void* p) const {
    std::free(p);
}

OutFile::~OutFile() {
    closeDirect();
    if (fd_ >= 0) ::close(fd_);
}

void OutFile::closeDirect() {
    if (directFd_ >= 0) ::close(directFd_);
    directFd_ = -1;
}

bool OutFile::fail(const char* what, int err) {
    error_ = std::string(what) + " \"" + path_ + "\": " + std::strerror(err);
    return false;
}

bool OutFile::create(const std::string& path, bool direct) {
    closeDirect();
    if (fd_ >= 0) ::close(fd_);
    path_ = path;
    pos_ = 0;
    reserved_ = 0;
    canReserve_ = true;
    error_.clear();
    do {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) return fail("Cannot create file", errno);
    if (direct) {
        // A second descriptor of the very file just created, for the direct writes; where
        // the file system refuses O_DIRECT the file is written the ordinary way.
        int d;
        do {
            d = ::open(path.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
        } while (d < 0 && errno == EINTR);
        struct stat a {
        }, b{};
        if (d >= 0 && ::fstat(fd_, &a) == 0 && ::fstat(d, &b) == 0 && a.st_dev == b.st_dev &&
            a.st_ino == b.st_ino) {
            directFd_ = d;
        } else if (d >= 0) {
            ::close(d);
        }
    }
    return true;
}

bool OutFile::write(const void* data, size_t size) {
    return writeAll(data, size, nullptr);
}

bool OutFile::writeZeros(size_t size) {
    static const char kZeros[4096] = {};
    while (size > 0) {
        const size_t chunk = std::min(size, sizeof kZeros);
        if (!write(kZeros, chunk)) return false;
        size -= chunk;
    }
    return true;
}

bool OutFile::writeAt(uint64_t offset, const void* data, size_t size) {
    return writeAll(data, size, &offset);
}

bool OutFile::writeDirect(const char*& data, size_t& size) {
    // The ordinary write fills the block the append position is in; the whole blocks after
    // it go straight to the disk; the rest is left to the ordinary write again.
    const uint64_t head = (kDirectAlign - pos_ % kDirectAlign) % kDirectAlign;
    if (head > 0 && !writeAll(data, static_cast<size_t>(head), &pos_)) return false;
    data += head;
    size -= static_cast<size_t>(head);
    if (!stage_) {
        stage_.reset(static_cast<char*>(std::aligned_alloc(kDirectAlign, kStageBytes)));
        if (!stage_) {
            closeDirect();  // no memory for the buffer: ordinary writes
            return true;
        }
    }
    while (size >= kDirectAlign && directFd_ >= 0) {
        const size_t piece = std::min(size / kDirectAlign * kDirectAlign, kStageBytes);
        std::memcpy(stage_.get(), data, piece);
        const ssize_t n = ::pwrite(directFd_, stage_.get(), piece, static_cast<off_t>(pos_));
        if (n < 0) {
            if (errno == EINTR) continue;
            // A file system that takes the descriptor but not the write itself: the
            // ordinary road from here on.
            if (errno == EINVAL || errno == EOPNOTSUPP) {
                closeDirect();
                break;
            }
            return fail("Cannot write to file", errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
        pos_ += static_cast<uint64_t>(n);
        // A short write leaves the position off the block grid: the rest goes the ordinary way.
        if (static_cast<size_t>(n) != piece) break;
    }
    return true;
}

bool OutFile::writeAll(const void* data, size_t size, uint64_t* offset) {
    if (fd_ < 0) return fail("File is not open:", EBADF);
    const char* p = static_cast<const char*>(data);
    if (!offset && directFd_ >= 0 && size >= kDirectMinBytes + 2 * kDirectAlign &&
        !writeDirect(p, size))
        return false;
    // The append position follows every byte written, also when a later write fails.
    uint64_t& at = offset ? *offset : pos_;
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("Cannot write to file", errno);
        }
        if (n == 0) return fail("Cannot write to file", ENOSPC);
        p += n;
        size -= static_cast<size_t>(n);
        at += static_cast<uint64_t>(n);
    }
    return true;
}

bool OutFile::truncate(uint64_t size) {
    if (fd_ < 0) return fail("File is not open:", EBADF);
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return fail("Cannot shorten file", errno);
    pos_ = size;
    return true;
}

bool OutFile::reserve(uint64_t end) {
    if (fd_ < 0) return fail("File is not open:", EBADF);
    if (!canReserve_ || end <= reserved_ || end <= pos_) return true;
    const uint64_t from = std::max(reserved_, pos_);
    int r;
    do {
        r = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                        static_cast<off_t>(end - from));
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        if (errno == EOPNOTSUPP || errno == ENOSYS) {
            canReserve_ = false;
            return true;
        }
        return fail("Cannot write to file", errno);
    }
    reserved_ = end;
    return true;
}

bool OutFile::reserveAhead(uint64_t end, uint64_t ahead) {
    if (!canReserve_ || end <= reserved_ || end <= pos_) return true;
    if (reserve(end + ahead)) return true;
    const std::string reason = error_;
    if (reserve(end)) {
        error_.clear();
        return true;
    }
    error_ = reason;
    return false;
}

bool OutFile::syncData() {
    if (fd_ < 0) return fail("File is not open:", EBADF);
    int r;
    do r = ::fdatasync(fd_);
    while (r != 0 && errno == EINTR);
    return r == 0 || fail("Cannot write to file", errno);
}

bool OutFile::close() {
    if (fd_ < 0) return true;
    struct stat st {};
    if (reserved_ > 0 && ::fstat(fd_, &st) == 0 && reserved_ > static_cast<uint64_t>(st.st_size))
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, st.st_size,
                    static_cast<off_t>(reserved_ - static_cast<uint64_t>(st.st_size)));
    reserved_ = 0;
    closeDirect();
    const int fd = fd_;
    fd_ = -1;
    // close() may report a delayed write error (network file systems); the descriptor is
    // gone either way, so it is not retried.
    if (::close(fd) != 0 && errno != EINTR) return fail("Cannot finish file", errno);
    return true;
}

void OutFile::discard() {
    closeDirect();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!path_.empty()) ::unlink(path_.c_str());
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}
