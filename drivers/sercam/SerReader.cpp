#include "SerReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace sercam {
namespace {
constexpr size_t kHeaderSize = 178;
constexpr char kMagic[] = "LUCAM-RECORDER";

int32_t Le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

// Reads exactly n bytes at offset; false on an error or a short file.
bool ReadAt(int fd, uint8_t* dst, size_t n, off_t offset) {
    while (n > 0) {
        const ssize_t got = pread(fd, dst, n, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        dst += got;
        n -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}
}  // namespace

SerReader::~SerReader() {
    if (fd_ >= 0) close(fd_);
}

bool SerReader::Open(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        *error = path + ": " + why;
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        return false;
    };
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return fail(std::strerror(errno));
    struct stat st {};
    if (fstat(fd_, &st) != 0) return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("not a regular file");
    uint8_t h[kHeaderSize];
    if (!ReadAt(fd_, h, sizeof h, 0) || std::memcmp(h, kMagic, sizeof kMagic - 1) != 0)
        return fail("not a SER file");

    const int32_t colour = Le32(h + 18);
    width_ = Le32(h + 26);
    height_ = Le32(h + 30);
    depth_ = Le32(h + 34);
    const int32_t count = Le32(h + 38);
    // Capture programs write 16-bit samples in the machine's order, little-endian, and most
    // of them (this program too) leave the LittleEndian field at 0: 0 means little-endian
    // here, 1 big-endian.
    bigEndian_ = Le32(h + 22) != 0;
    if (colour != 0 && (colour < 8 || colour > 11))
        return fail("colour format " + std::to_string(colour) +
                    " is not supported (only mono and Bayer mosaics)");
    if (depth_ < 1 || depth_ > 16)
        return fail("unsupported sample depth of " + std::to_string(depth_) + " bits");
    if (width_ < 1 || height_ < 1 || width_ > 65536 || height_ > 65536)
        return fail("bad frame size " + std::to_string(width_) + " x " + std::to_string(height_));

    // A recording cut off before its header was completed says 0 frames: the complete
    // frames present are played then.
    const uint64_t frameBytes = static_cast<uint64_t>(width_) * height_ * (depth_ > 8 ? 2 : 1);
    const uint64_t present = (static_cast<uint64_t>(st.st_size) - kHeaderSize) / frameBytes;
    uint64_t frames =
        count > 0 ? std::min<uint64_t>(static_cast<uint64_t>(count), present) : present;
    if (frames == 0) return fail("no complete frame in the file");
    frameCount_ = static_cast<int>(std::min<uint64_t>(frames, INT32_MAX));
    raw_.resize(frameBytes);
    return true;
}

bool SerReader::ReadFrame(int index, std::vector<uint8_t>* frame, std::string* error) {
    if (fd_ < 0 || index < 0 || index >= frameCount_) {
        *error = "no such frame";
        return false;
    }
    const off_t offset = static_cast<off_t>(kHeaderSize + raw_.size() * static_cast<size_t>(index));
    if (!ReadAt(fd_, raw_.data(), raw_.size(), offset)) {
        *error = "cannot read frame " + std::to_string(index);
        return false;
    }
    const size_t samples = static_cast<size_t>(width_) * height_;
    frame->resize(samples);
    if (depth_ <= 8) {
        std::memcpy(frame->data(), raw_.data(), samples);
        return true;
    }
    const int shift = depth_ - 8;
    const size_t lo = bigEndian_ ? 1 : 0, hi = 1 - lo;
    for (size_t i = 0; i < samples; ++i) {
        const unsigned v = raw_[2 * i + lo] | static_cast<unsigned>(raw_[2 * i + hi]) << 8;
        (*frame)[i] = static_cast<uint8_t>(std::min(v >> shift, 255u));
    }
    return true;
}

}  // namespace sercam
