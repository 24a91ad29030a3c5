#pragma once
// SER writer: one recording as a SER file ("LUCAM-RECORDER" header of 178 bytes, the raw
// frames one after the other, a trailer of one UTC time stamp per frame). A writer holds
// at most one file open; the recording controller owns the one the program uses.
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/Frame.h"
#include "platform/Clock.h"
#include "recording/OutFile.h"

constexpr int SerHeaderSize = 178;
constexpr int SerFrameCountOffset = 38;

// Date-time (days since 1899-12-30) to 100-ns ticks since 0001-01-01; the product is
// rounded to the nearest integer, ties to even.
int64_t ToSerTicks(TDateTime value);

class SerWriter {
  public:
    SerWriter() = default;
    // A file still open is finished (trailer and frame count) before the writer goes.
    ~SerWriter();
    SerWriter(const SerWriter&) = delete;
    SerWriter& operator=(const SerWriter&) = delete;

    // Creates (or replaces) the file and writes the header. False, with error() set, when
    // that failed; a file whose header could not be written is removed. A file still open
    // is finished first.
    bool open(const std::string& path, int32_t width, int32_t height, int32_t depth);

    // Appends the frame's pixels (width x height samples, without the buffer's row padding)
    // and remembers its time stamp. False, with error() set, when the frame does not match
    // the header or could not be written; such a frame is not counted and leaves no bytes.
    bool writeFrame(const Frame& frame);

    // Appends the trailer, writes the frame count into the header and closes the file.
    // False, with error() set, when any of that failed; the frames stay in the file.
    bool close();

    bool isOpen() const { return file_.IsOpen(); }
    // Frames written to the open file (one time stamp each; the table grows with the
    // recording, so every frame keeps its stamp).
    int32_t frameCount() const { return static_cast<int32_t>(stamps_.size()); }
    // Why the last failed open, write or close failed, naming the file; not cleared by a
    // success.
    const std::string& error() const { return error_; }

  private:
    OutFile file_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t depth_ = 8;
    int64_t utcShiftTicks_ = 0;       // local minus UTC, from the offset in force at open
    std::vector<int64_t> stamps_;     // UTC ticks of the frames written, in order
    std::vector<uint8_t> rowBuffer_;  // frame gathered without row padding
    std::string error_;
};
