#include "serformat/FileIo.h"

#include <unistd.h>

#include <cerrno>

size_t readFullAt(int fd, void* data, size_t size, off_t at) {
    auto* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, p + done, size - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

size_t writeFullAt(int fd, const void* data, size_t size, off_t at) {
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, p + done, size - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}
