#include "recording/SerRecovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "recording/SerWriter.h"

namespace {
const char kStampsSuffix[] = ".stamps";

bool ReadAllAt(int fd, void* data, size_t size, off_t at) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool WriteAllAt(int fd, const void* data, size_t size, off_t at) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Closes the descriptor when it goes.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

std::string Reason(const char* what, const std::string& path, int err) {
    return std::string(what) + " \"" + path + "\": " + std::strerror(err);
}
}  // namespace

FinishedSerFile FinishInterruptedSerFile(const std::string& serPath) {
    FinishedSerFile result;
    result.path = serPath;
    const std::string stampsPath = SerStampsPath(serPath);

    Fd ser, stamps;
    ser.fd = ::open(serPath.c_str(), O_RDWR | O_CLOEXEC);
    if (ser.fd < 0) {
        result.error = Reason("Cannot open file", serPath, errno);
        return result;
    }
    stamps.fd = ::open(stampsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (stamps.fd < 0) {
        result.error = Reason("Cannot open file", stampsPath, errno);
        return result;
    }
    uint8_t header[SerHeaderSize];
    struct stat serStat {
    }, stampsStat{};
    if (!ReadAllAt(ser.fd, header, sizeof header, 0) || ::fstat(ser.fd, &serStat) != 0 ||
        ::fstat(stamps.fd, &stampsStat) != 0) {
        result.error = "Cannot read the header of \"" + serPath + "\"";
        return result;
    }
    ser::Header fields;
    if (!ser::DecodeHeader(header, &fields) || ser::FrameBytes(fields) == 0) {
        result.error = "\"" + serPath + "\" is not a SER file this program wrote";
        return result;
    }
    // Every frame whose pixels and stamp were both written. A stamp is written after its
    // frame, and a trailer cut short by the crash is shorter than the stamps before it,
    // so the side file bounds the count where the file's size does not.
    const uint64_t whole =
        std::min<uint64_t>(ser::FramesInFile(fields, static_cast<uint64_t>(serStat.st_size)),
                           static_cast<uint64_t>(stampsStat.st_size) / ser::kStampSize);
    const int32_t frames = static_cast<int32_t>(std::min<uint64_t>(whole, INT32_MAX));
    std::vector<uint8_t> trailer(static_cast<size_t>(frames) * ser::kStampSize);
    const off_t dataEnd = static_cast<off_t>(ser::FrameOffset(fields, frames));
    uint8_t count[4];
    ser::Put32(count, frames);
    if (!ReadAllAt(stamps.fd, trailer.data(), trailer.size(), 0)) {
        result.error = Reason("Cannot read file", stampsPath, errno ? errno : EIO);
        return result;
    }
    if (::ftruncate(ser.fd, dataEnd) != 0 ||
        !WriteAllAt(ser.fd, trailer.data(), trailer.size(), dataEnd) ||
        !WriteAllAt(ser.fd, count, sizeof count, SerFrameCountOffset) || ::fsync(ser.fd) != 0) {
        result.error = Reason("Cannot write to file", serPath, errno ? errno : ENOSPC);
        return result;
    }
    ::unlink(stampsPath.c_str());
    result.frames = frames;
    return result;
}

std::vector<FinishedSerFile> FinishInterruptedSerFiles(const std::string& folder) {
    std::vector<std::string> found;
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        const size_t suffix = sizeof kStampsSuffix - 1;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > suffix &&
                name.compare(name.size() - suffix, suffix, kStampsSuffix) == 0)
                found.push_back(name.substr(0, name.size() - suffix));
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<FinishedSerFile> finished;
    for (const std::string& name : found) {
        const std::string path = (folder.empty() ? std::string() : folder + "/") + name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
            ::unlink(SerStampsPath(path).c_str());  // the recording was deleted
            continue;
        }
        finished.push_back(FinishInterruptedSerFile(path));
    }
    return finished;
}
