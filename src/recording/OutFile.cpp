#include "recording/OutFile.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serformat/FileIo.h"

namespace {
// The aligned buffer the direct writes go through; a frame's middle is written in pieces of
// this size.
constexpr size_t kStageBytes = size_t{8} << 20;

// The hidden name a whole-at-close file is written under where the file system has no
// unnamed files: ".<name>.partial" beside it.
std::string partialName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t at = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, at) + "." + path.substr(at) + ".partial";
}
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

bool OutFile::create(const std::string& path, Mode mode) {
    closeDirect();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_ = path;
    pos_ = 0;
    reserved_ = 0;
    canReserve_ = true;
    unnamed_ = false;
    error_.clear();
    if (mode == Mode::WholeAtClose) {
        // A file without a name in the target's folder, linked under the name once whole.
        const size_t slash = path.find_last_of('/');
        const std::string folder =
            slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        do {
            fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ >= 0) {
            unnamed_ = true;
        } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return fail("Cannot create file", errno);
        }
        // A file system without unnamed files: a hidden name of its own, renamed at close.
    }
    if (!unnamed_) {
        const std::string name = mode == Mode::WholeAtClose ? partialName(path) : path;
        do {
            fd_ = ::open(name.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                         0666);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) return fail("Cannot create file", errno);
        // Blocking writes for the file itself (O_NONBLOCK only kept open() from waiting).
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        if (mode == Mode::WholeAtClose) partial_ = name;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    if (mode == Mode::Direct) {
        // A second descriptor of the very file just created, for the direct writes; where
        // the file system refuses O_DIRECT the file is written the ordinary way.
        int d;
        do {
            d = ::open(path.c_str(), O_WRONLY | O_DIRECT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        } while (d < 0 && errno == EINTR);
        struct stat b {};
        if (d >= 0 && ::fstat(d, &b) == 0 && b.st_dev == device_ && b.st_ino == inode_) {
            ::fcntl(d, F_SETFL, ::fcntl(d, F_GETFL) & ~O_NONBLOCK);
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

bool OutFile::readAt(uint64_t offset, void* data, size_t size) {
    if (fd_ < 0) return fail("File is not open:", EBADF);
    if (!readAllAt(fd_, data, size, static_cast<off_t>(offset)))
        return fail("Cannot read file", errno);
    return true;
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
    const size_t written = writeFullAt(fd_, p, size, static_cast<off_t>(at));
    at += written;
    return written == size || fail("Cannot write to file", errno);
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
    // Blocks allocated past the end are given back: cutting the file at its own size frees
    // them (a hole punched past the end does not, on ext4).
    if (reserved_ > 0 && ::fstat(fd_, &st) == 0 && reserved_ > static_cast<uint64_t>(st.st_size))
        ::ftruncate(fd_, st.st_size);
    reserved_ = 0;
    closeDirect();
    bool ok = true;
    if (unnamed_) {
        // Linked under its name only now that it is whole; never over a file of that name.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) != 0)
            ok = fail("Cannot create file", errno);
    } else if (!partial_.empty()) {
        if (!renameNoReplace(partial_, path_)) {
            ok = fail("Cannot create file", errno);
            ::unlink(partial_.c_str());
        }
    }
    unnamed_ = false;
    partial_.clear();
    const int fd = fd_;
    fd_ = -1;
    // close() may report a delayed write error (network file systems); the descriptor is
    // gone either way, so it is not retried.
    if (::close(fd) != 0 && errno != EINTR && ok) return fail("Cannot finish file", errno);
    return ok;
}

bool OutFile::pathIsOurs() const {
    struct stat st {};
    const std::string& name = partial_.empty() ? path_ : partial_;
    return !unnamed_ && ::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_dev == device_ && st.st_ino == inode_;
}

void OutFile::discard() {
    closeDirect();
    // Only the file this object created goes: a name that leads elsewhere now is left alone.
    if (fd_ >= 0 && pathIsOurs()) ::unlink((partial_.empty() ? path_ : partial_).c_str());
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    unnamed_ = false;
    partial_.clear();
}

bool OutFile::isUnlinked() const {
    struct stat st {};
    return fd_ >= 0 && !unnamed_ && ::fstat(fd_, &st) == 0 && st.st_nlink == 0;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int openRegularFile(const std::string& path, int flags, struct stat* st) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Back to ordinary blocking transfers for the file itself.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}
