#pragma once
// A file written with plain POSIX calls, where every create, write and close is checked
// and a failure leaves a reason text that names the file.
//
// A file created for large appends (Create with `direct`) sends the block-aligned middle of
// each append of at least kDirectMinBytes straight to the disk (O_DIRECT, through an
// aligned buffer of its own), bypassing the page cache: copying many megabytes a second
// into the page cache and writing them back costs the machine far more than the disk
// itself does. The unaligned ends go through the page cache as before, so after every
// Write all its bytes are in the file, where a crash of the program cannot take them; the
// durability calls (syncData) cover both roads. A file system that refuses O_DIRECT gets
// ordinary writes.
//
// A file is always the program's own: it is created only under a name that is free (never
// over a file, a link or a special file of that name), and it is deleted only while the name
// still leads to the very file it created. A file created whole-at-close has no name until
// it is complete: a crash leaves no half-written file behind.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class OutFile {
  public:
    OutFile() = default;
    ~OutFile();  // closes an open file without checking; call Close() to learn the result
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    enum class Mode {
        Append,       // ordinary writes
        Direct,       // large appends bypass the page cache where the file system allows it
        WholeAtClose  // the file appears under its name only once close() succeeds
    };
    // Creates the file under a name nothing has yet: a file, a link, a FIFO or a device of
    // that name is left alone and the create fails (EEXIST). Never blocks. The file is open
    // for reading too (readAt), so that its bytes can be read back when its name is gone.
    bool create(const std::string& path, Mode mode = Mode::Append);
    // Appends all bytes (retrying short writes); false on any error.
    bool write(const void* data, size_t size);
    // Appends `size` zero bytes.
    bool writeZeros(size_t size);
    // Writes at an absolute offset without moving the append position.
    bool writeAt(uint64_t offset, const void* data, size_t size);
    // Reads exactly `size` bytes at `offset`; false (with error()) when the file is shorter.
    bool readAt(uint64_t offset, void* data, size_t size);
    // Cuts the file to `size` bytes and continues appending there.
    bool truncate(uint64_t size);
    // Makes sure the disk blocks up to byte `end` are allocated, without changing the file's
    // size, so that later writes up to there cannot fail for want of space. A file system
    // that cannot allocate ahead counts as success (nothing is reserved there).
    bool reserve(uint64_t end);
    // As Reserve, but allocates `ahead` bytes more when it allocates at all, so that a file
    // growing by small pieces asks the file system once for many of them; where the disk has
    // not that much room left, just up to `end`.
    bool reserveAhead(uint64_t end, uint64_t ahead);
    // Waits until the data written so far is on the disk (fdatasync).
    bool syncData();
    // Blocks reserved past the end of the file are given back. A whole-at-close file gets
    // its name now (never over a file that has appeared under it meanwhile).
    bool close();
    // Closes (unchecked) and deletes the file, when its name still leads to the file this
    // object created; for output that must not be left half done.
    void discard();
    // The open file has no name any more (deleted, or its folder removed).
    bool isUnlinked() const;
    // Device and inode of the open file.
    dev_t device() const { return device_; }
    ino_t inode() const { return inode_; }

    bool isOpen() const { return fd_ >= 0; }
    // Appends go straight to the disk (Create with `direct` on a file system that allows it).
    bool direct() const { return directFd_ >= 0; }
    uint64_t position() const { return pos_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

    // Block size and alignment of the direct writes, and the least append that takes them
    // (measured: at 1.2 MB the page cache was the cheaper road, from 2.4 MB on the direct one).
    static constexpr size_t kDirectAlign = 4096;
    static constexpr size_t kDirectMinBytes = size_t{2} << 20;

  private:
    bool fail(const char* what, int err);
    // Writes every byte, at *offset (pwrite) when given, else at the append position.
    bool writeAll(const void* data, size_t size, uint64_t* offset);
    // Appends the block-aligned middle of `size` bytes straight to the disk; the bytes not
    // taken are left to the ordinary writes. False only on a failed write.
    bool writeDirect(const char*& data, size_t& size);
    void closeDirect();

    struct FreeAligned {
        void operator()(void* p) const;
    };

    // The path leads to the file this object created.
    bool pathIsOurs() const;

    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool unnamed_ = false;  // whole-at-close, not yet given its name
    std::string partial_;   // whole-at-close under a hidden name (no unnamed files here)
    int directFd_ = -1;     // the same file opened with O_DIRECT; -1 without
    std::unique_ptr<char, FreeAligned> stage_;  // kStageBytes, aligned to kDirectAlign
    uint64_t pos_ = 0;
    uint64_t reserved_ = 0;   // bytes allocated ahead by Reserve (0: none)
    bool canReserve_ = true;  // false once the file system refused to allocate ahead
    std::string path_;
    std::string error_;
};

// True when something (file, folder, device, link) exists under the name.
bool fileExists(const std::string& path);

// Opens `path` for the program's own use only when it is an existing regular file: never
// follows a link and never blocks on a FIFO or a device; -1 with errno otherwise (ELOOP for
// a link, EINVAL for a special file). `st` receives the file's status.
int openRegularFile(const std::string& path, int flags, struct stat* st);

// Renames `from` to `to` unless `to` exists; false with errno set otherwise.
bool renameNoReplace(const std::string& from, const std::string& to);
