#include "SerReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "serformat/FileIo.h"

namespace sercam {
namespace {
std::string mib(uint64_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}
}  // namespace

SerReader::~SerReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool SerReader::open(const std::string& path, std::string* error) try {
    auto fail = [&](const std::string& why) {
        *error = path + ": " + why;
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return false;
    };
    if (fd_ >= 0) ::close(fd_);
    // Without blocking: opening a FIFO for reading would wait for a writer for ever.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return fail(std::strerror(errno));
    struct stat st {};
    if (fstat(fd_, &st) != 0) return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("not a regular file");
    uint8_t h[ser::kHeaderSize];
    ser::Header header;
    if (!readAllAt(fd_, h, sizeof h, 0) || !ser::decodeHeader(h, &header))
        return fail("not a SER file");
    const std::string problem = ser::geometryProblem(header);
    if (!problem.empty()) return fail(problem);
    if (header.colorId != ser::KMono &&
        (header.colorId < ser::KBayerRggb || header.colorId > ser::KBayerBggr))
        return fail("colour format " + std::to_string(header.colorId) +
                    " is not supported (only mono and Bayer mosaics)");
    const uint64_t frameBytes = ser::frameBytes(header);
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    const std::string size = std::to_string(header.width) + " x " + std::to_string(header.height) +
                             " x " + std::to_string(header.depth) + " bits";
    if (frameBytes == 0 || frameBytes > kMaxFrameBytes)
        return fail("frames of " + size + " are larger than the " + mib(kMaxFrameBytes) +
                    " this camera can hold");
    // A recording cut off before its header was completed says 0 frames, and a header may
    // claim more frames than the file holds: the complete frames present are played.
    const uint64_t present = ser::framesInFile(header, fileSize);
    if (present == 0)
        return fail("no complete frame in the file (a frame of " + size + " is " +
                    std::to_string(frameBytes) + " bytes, the file " + std::to_string(fileSize) +
                    " bytes)");
    const uint64_t frames =
        header.frameCount > 0 ? std::min<uint64_t>(header.frameCount, present) : present;
    header_ = header;
    frameCount_ = static_cast<int>(std::min<uint64_t>(frames, INT32_MAX));
    // The frame's memory is taken at the first read: a camera that the program refuses for
    // the size of its frames never holds it.
    raw_.clear();
    return true;
} catch (const std::bad_alloc&) {
    *error = path + ": not enough memory";
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
}

bool SerReader::readRaw(int index, std::string* error) {
    if (fd_ < 0 || index < 0 || index >= frameCount_) {
        *error = "no such frame";
        return false;
    }
    try {
        raw_.resize(ser::frameBytes(header_));
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for a frame of the SER file";
        return false;
    }
    const off_t offset = static_cast<off_t>(ser::frameOffset(header_, index));
    if (!readAllAt(fd_, raw_.data(), raw_.size(), offset)) {
        *error = "cannot read frame " + std::to_string(index) + " of the SER file";
        return false;
    }
    return true;
}

unsigned SerReader::sample(size_t i) const {
    if (header_.depth <= 8) return raw_[i];
    // Capture programs write 16-bit samples in the machine's order, little-endian, and most
    // of them (this program too) leave the LittleEndian field at 0: 0 means little-endian
    // here, 1 big-endian.
    const size_t lo = header_.littleEndian != 0 ? 1 : 0, hi = 1 - lo;
    return raw_[2 * i + lo] | static_cast<unsigned>(raw_[2 * i + hi]) << 8;
}

bool SerReader::readFrame(int index, std::vector<uint8_t>* frame, std::string* error) {
    if (!readRaw(index, error)) return false;
    const size_t samples = static_cast<size_t>(width()) * height();
    frame->resize(samples);
    if (header_.depth <= 8) {
        std::memcpy(frame->data(), raw_.data(), samples);
        return true;
    }
    const int shift = header_.depth - 8;
    for (size_t i = 0; i < samples; ++i)
        (*frame)[i] = static_cast<uint8_t>(std::min(sample(i) >> shift, 255u));
    return true;
}

bool SerReader::readFrame(int index, std::vector<uint16_t>* frame, std::string* error) {
    if (!readRaw(index, error)) return false;
    const size_t samples = static_cast<size_t>(width()) * height();
    frame->resize(samples);
    for (size_t i = 0; i < samples; ++i) (*frame)[i] = static_cast<uint16_t>(sample(i));
    return true;
}

}  // namespace sercam
