#pragma once
// AVI writer: a recording as AVI video through the video library, 10.0 frames per second,
// split into part files "<path less .AVI>-PART1.AVI", "-PART2.AVI", ... so that no part
// grows past 4000 MiB of frame data as stored in the file. A writer holds at most one recording
// open; the recording controller owns the one the program uses, with its codec setting.
#include <cstdint>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "recording/RecoveryJournal.h"

namespace cv {
class VideoWriter;
}

constexpr int32_t kCodecAsk = -1;  // the codec setting that asks before every part
constexpr int64_t kAviPartLimitMiB = 4000;
constexpr double kAviFramesPerSecond = 10.0;

// c1 in the lowest byte.
constexpr int32_t packFourCc(char c1, char c2, char c3, char c4) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(c1)) |
                                static_cast<uint32_t>(static_cast<uint8_t>(c2)) << 8 |
                                static_cast<uint32_t>(static_cast<uint8_t>(c3)) << 16 |
                                static_cast<uint32_t>(static_cast<uint8_t>(c4)) << 24);
}
// "Uncompressed" for 0, "(ask)" for kCodecAsk, else the four characters.
std::string fourCcName(int32_t fourcc);

// A codec the video library writes here, found by writing and reading back a short clip.
struct AviCodec {
    int32_t fourCc = 0;
    std::string name;
    bool grey = false;    // grey recordings decode correctly (possibly as 3-channel frames)
    bool colour = false;  // colour recordings decode with their colours
};
// Every codec that can write grey or colour recordings here. What the library can do does
// not change while the program runs, so each codec is probed once and the result kept in a
// cache local to this function's unit (guarded by a mutex; the only process-wide state of
// the recording code).
std::vector<AviCodec> availableCodecs();

// Asked before every part when the codec setting is kCodecAsk: the codecs that can write
// this recording (grey or colour) and the part's file name. Sets `fourcc` and returns true,
// or returns false for Cancel.
using AviCodecChooser = std::function<bool(const std::vector<AviCodec>& offered,
                                           const std::string& partName, int32_t& fourcc)>;

// "<path less its last four characters>-PART<part>.AVI".
std::string aviPartName(const std::string& path, int32_t part);

class AviWriter {
  public:
    AviWriter();
    // A recording still open is finished before the writer goes.
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Codec of the recordings opened from now on. The start value is IYUV; 0 stores
    // uncompressed frames; kCodecAsk asks the chooser before every part. A recording keeps
    // the codec it was opened with for all its parts: the setting may change (on the window
    // thread) while the writer thread creates the parts of the running one.
    void setCodec(int32_t fourcc) { codec_ = fourcc; }
    int32_t codec() const { return codec_; }
    void setCodecChooser(AviCodecChooser chooser) { chooser_ = std::move(chooser); }
    const AviCodecChooser& codecChooser() const { return chooser_; }
    // A part takes a frame while its file, with that frame added (the average of its
    // frames so far) and what the library may still buffer, stays within this many bytes
    // (4000 MiB); a part takes at least one frame. A test may lower it.
    void setPartLimitBytes(int64_t bytes) { partLimitBytes_ = bytes; }
    // Where the writer notes each part it has open, so that a crash can be finished at the
    // next start (null: no note).
    void setJournal(RecoveryJournal* journal) { journal_ = journal; }

    // Starts a recording and creates its first part file. False, with error() set, when
    // that failed. A recording still open is finished first.
    bool open(const std::string& path, int32_t width, int32_t height, bool color);

    // Writes one 8-bit image of the recording's size (grey or BGR), starting the next part
    // first when the current one is full. False, with error() set, when the frame was not
    // written (wrong size, no part could be created, a forecast of too little disk space
    // for it and the part's finishing); it is then not counted. Once a second it also
    // checks that the part is still on the disk and its folder writable, and refuses the
    // frame with the reason when not.
    bool writeFrame(const cv::Mat& image);

    // Finishes the current part and resets the part state. False, with error() set, when
    // a part of this recording could not be finished or read back.
    bool close();

    bool isOpen() const { return open_; }
    const std::string& path() const { return path_; }   // as given to open()
    int32_t partNumber() const { return partNumber_; }  // number of the next part to create
    int64_t partBytes() const { return partBytes_; }    // bytes of this part on disk
    // Why the last failed open, write or close failed, naming the file; not cleared by a
    // success.
    const std::string& error() const { return error_; }

  private:
    bool createPart();
    void notePartInJournal();
    void finishPart();
    void storeToken();
    bool stillReachable();
    std::string createFailureReason(const std::string& path, int32_t fourcc) const;

    int32_t codec_ = packFourCc('I', 'Y', 'U', 'V');
    int32_t recordingCodec_ = 0;  // codec_ as it was when the recording was opened
    AviCodecChooser chooser_;
    int64_t partLimitBytes_ = kAviPartLimitMiB * 1024 * 1024;

    // The recording.
    bool open_ = false;
    std::string path_;  // the recording path given to open(), ending in ".AVI"
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool color_ = false;      // colour (3 channels) or grey (1 channel)
    int32_t frameBytes_ = 0;  // width x height, times 3 for colour
    int32_t partNumber_ = 1;  // number of the next part to create
    int64_t partBytes_ = 0;   // size of the current part's file after its last frame
    std::unique_ptr<cv::VideoWriter> writer_;  // writer of the current part, null between parts
    bool writerColour_ = false;                // the writer takes 3-channel frames
    std::string partPath_;
    int64_t partFrames_ = 0;
    std::string choiceRefused_;  // set when the user cancelled the codec choice for a later part
    std::string partFailure_;    // first part of this recording that could not be finished
    cv::Mat converted_;
    std::string error_;
    RecoveryJournal* journal_ = nullptr;
    std::string journalKey_;  // the note of the open part; "" without one
    std::string partToken_;   // the token of its note, stored into the part's header
    bool tokenPending_ = false;
    uint64_t partDevice_ = 0, partInode_ = 0;  // the part file the library created
    uint32_t checkedMs_ = 0;  // monotonicMs when the part was last found on the disk
};
