#pragma once
// SER writer: one recording as a SER file ("LUCAM-RECORDER" header of 178 bytes, the raw
// frames one after the other, a trailer of one UTC time stamp per frame). One file is open
// at a time; the state lives in this unit.
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/ImageList.h"
#include "platform/Clock.h"

constexpr int SerHeaderSize = 178;
constexpr int SerFrameCountOffset = 38;

// Frames written to the open file, and their time stamps (UTC ticks) in order. The table
// grows with the recording, so every frame keeps its stamp.
extern int32_t SerStampCount;
extern std::vector<int64_t> SerStamps;

// Date-time (days since 1899-12-30) to 100-ns ticks since 0001-01-01; the product is
// rounded to the nearest integer, ties to even.
int64_t ToSerTicks(TDateTime value);

// Creates (or replaces) the file and writes the header. Returns WriterSer, or WriterNone
// with LastWriterError() set; a file whose header could not be written is removed.
// An earlier file still open is finished first.
int32_t SerOpen(const std::string& path, int32_t width, int32_t height, int32_t depth);

// Appends the frame's pixels (width x height samples, without the buffer's row padding)
// and remembers its time stamp. False, with LastWriterError() set, when the frame does not
// match the header or could not be written; such a frame is not counted and leaves no bytes.
bool SerWriteFrame(const FrameNode* frame);

// Appends the trailer, writes the frame count into the header and closes the file. False,
// with LastWriterError() set, when any of that failed; the frames stay in the file.
bool SerClose();

bool SerIsOpen();
