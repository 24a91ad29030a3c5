#pragma once
// Whole transfers with pread and pwrite: the loops that retry interrupted and short calls
// until every byte has moved, for the recording files of the program and for the SER
// playback camera alike. Plain POSIX, no Qt, so a camera library can link it.
#include <sys/types.h>

#include <cstddef>

// Reads up to `size` bytes at `at` and returns how many it read: all of them, or fewer when
// the file ends first (errno EIO) or a read fails (errno as the call left it).
size_t readFullAt(int fd, void* data, size_t size, off_t at);
// Writes `size` bytes at `at` and returns how many it wrote: all of them, or fewer when the
// file system takes no more (errno ENOSPC) or a write fails (errno as the call left it).
size_t writeFullAt(int fd, const void* data, size_t size, off_t at);

// All `size` bytes or false, with errno set as above.
inline bool readAllAt(int fd, void* data, size_t size, off_t at) {
    return readFullAt(fd, data, size, at) == size;
}
inline bool writeAllAt(int fd, const void* data, size_t size, off_t at) {
    return writeFullAt(fd, data, size, at) == size;
}
