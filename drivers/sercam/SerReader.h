// Reading SER video files frame by frame: the header, the frame geometry and each frame as
// 8-bit samples, for the SER playback camera.
#ifndef SERCAM_SERREADER_H
#define SERCAM_SERREADER_H

#include <cstdint>
#include <string>
#include <vector>

#include "serformat/SerFormat.h"

namespace sercam {

class SerReader {
  public:
    SerReader() = default;
    SerReader(const SerReader&) = delete;
    SerReader& operator=(const SerReader&) = delete;
    ~SerReader();

    // Frames larger than this are refused: the reader holds one frame in memory.
    static constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 30;

    // Opens a mono or Bayer SER file of 1 to 16 bits per sample holding at least one
    // complete frame of at most kMaxFrameBytes; only regular files, and without blocking.
    // On failure returns false and says why in *error. Never throws.
    bool open(const std::string& path, std::string* error);

    int width() const { return header_.width; }
    int height() const { return header_.height; }
    int frameCount() const { return frameCount_; }
    int depth() const { return header_.depth; }
    int colorId() const { return header_.colorId; }

    // Frame `index` (0-based), Width() x Height() 8-bit samples without padding, into
    // *frame: samples of up to 8 bits as stored, deeper samples shifted down to their top
    // 8 bits.
    bool readFrame(int index, std::vector<uint8_t>* frame, std::string* error);
    // The same with the samples as stored, unshifted, in the machine's byte order (files
    // of up to 8 bits give their bytes).
    bool readFrame(int index, std::vector<uint16_t>* frame, std::string* error);

  private:
    bool readRaw(int index, std::string* error);
    // Sample i of the frame last read, as stored.
    unsigned sample(size_t i) const;

    int fd_ = -1;
    ser::Header header_;
    int frameCount_ = 0;
    std::vector<uint8_t> raw_;
};

}  // namespace sercam

#endif
