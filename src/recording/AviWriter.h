#pragma once
// AVI writer: a recording as AVI video through the video library, 10.0 frames per second,
// split into part files "<path less .AVI>-PART1.AVI", "-PART2.AVI", ... so that no part
// holds more than 4000 MiB of raw frame data. One recording is open at a time; the state
// lives in this unit.
#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

// Codec of the parts created from now on. The start value is IYUV; 0 stores uncompressed
// frames; -1 asks the codec chooser before every part.
extern int32_t CodecFourCC;
constexpr int32_t CodecAsk = -1;

constexpr int64_t AviPartLimitMiB = 4000;
// A part takes frames while it holds no more than this many raw bytes (4000 MiB); a test
// may lower it.
extern int64_t AviPartLimitBytes;
constexpr double AviFramesPerSecond = 10.0;

extern std::string AviPath;    // the recording path given to AviOpen, ending in ".AVI"
extern int32_t AviPartNumber;  // number of the next part to create
extern int64_t AviPartBytes;   // raw frame bytes counted into the current part
extern int32_t AviFrameBytes;  // width x height, times 3 for colour
extern int32_t AviWidth;
extern int32_t AviHeight;
extern int32_t AviColor;  // 1 colour (3 channels), 0 grey (1 channel)

// c1 in the lowest byte.
constexpr int32_t PackFourCC(char c1, char c2, char c3, char c4) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(c1)) |
                                static_cast<uint32_t>(static_cast<uint8_t>(c2)) << 8 |
                                static_cast<uint32_t>(static_cast<uint8_t>(c3)) << 16 |
                                static_cast<uint32_t>(static_cast<uint8_t>(c4)) << 24);
}
void SetCodecFourCC(char c1, char c2, char c3, char c4);
// "Uncompressed" for 0, else the four characters.
std::string FourCCName(int32_t fourcc);

// A codec the video library writes here, found by writing and reading back a short clip.
struct AviCodec {
    int32_t FourCC = 0;
    std::string Name;
    bool Grey = false;    // grey recordings decode correctly (possibly as 3-channel frames)
    bool Colour = false;  // colour recordings decode with their colours
};
// Every codec that can write grey or colour recordings here; probed once, then cached.
std::vector<AviCodec> AvailableCodecs();

// Asked before every part when CodecFourCC is -1: the codecs that can write this recording
// (grey or colour) and the part's file name. Sets `fourcc` and returns true, or returns
// false for Cancel.
using AviCodecChooser = std::function<bool(const std::vector<AviCodec>& offered,
                                           const std::string& partName, int32_t& fourcc)>;
void SetAviCodecChooser(AviCodecChooser chooser);

// "<path less its last four characters>-PART<AviPartNumber>.AVI"; then AviPartNumber + 1.
std::string AviPartName(const std::string& path);

// Starts a recording and creates its first part file. Returns WriterAvi, or WriterNone with
// LastWriterError() set. A recording still open is finished first.
int32_t AviOpen(const std::string& path, int32_t width, int32_t height, int32_t color);

// Writes one 8-bit image of AviWidth x AviHeight (grey or BGR), starting the next part first
// when the current one is full. False, with LastWriterError() set, when the frame was not
// written (wrong size, no part could be created, too little disk space); it is then not counted.
bool AviWriteFrame(const cv::Mat& image);

// Finishes the current part and resets the part state. False, with LastWriterError() set,
// when a part of this recording could not be finished or read back.
bool AviClose();

bool AviIsOpen();
