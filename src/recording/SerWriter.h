#pragma once
// SER writer: one recording as a SER file ("LUCAM-RECORDER" header of 178 bytes, the raw
// frames one after the other, a trailer of one UTC time stamp per frame). A writer holds
// at most one file open; the recording controller owns the one the program uses.
//
// A recording survives a crash of the program or of the machine: the header's frame count
// is brought up to date at least once a second (after the frames it counts are on the
// disk, so it never claims more than the file holds), and each frame's time stamp goes to
// a side file beside the recording (serStampsPath) as it comes. close() writes the trailer
// and removes the side file; a side file left behind marks a recording that was cut short,
// which the start-up recovery completes through the writer's journal note (RecoveryJournal). The
// disk room for the trailer is allocated with each frame, so a recording that fills the disk still
// ends with all its stamps.
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/Frame.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "recording/OutFile.h"
#include "recording/RecoveryJournal.h"
#include "recording/SessionRecord.h"
#include "serformat/SerFormat.h"

constexpr int kSerHeaderSize = static_cast<int>(ser::kHeaderSize);
constexpr int kSerFrameCountOffset = static_cast<int>(ser::kFrameCountOffset);
// Longest time the header's frame count lags behind the frames written.
constexpr uint32_t kSerCountUpdateMs = 1000;

// The side file holding the time stamps of the recording `serPath` while it is written:
// the 8-byte trailer entries, one per frame, in order.
std::string serStampsPath(const std::string& serPath);

// Date-time (since 1899-12-30) to 100-ns ticks since 0001-01-01: a frame's stamp as it is, a
// LocalDateTime (days) through the tick nearest its value, ties to even.
int64_t toSerTicks(PreciseDateTime value);

class SerWriter {
  public:
    SerWriter() = default;
    // A file still open is finished (trailer and frame count) before the writer goes.
    ~SerWriter();
    SerWriter(const SerWriter&) = delete;
    SerWriter& operator=(const SerWriter&) = delete;

    // Creates the file and its side file, both under names nothing has yet, and writes the
    // header. False, with error() set, when that failed (a name taken, by whatever: a file, a
    // link, a FIFO); a file whose header could not be written is removed. A file still open
    // is finished first. `texts` fill the observer, instrument and telescope fields (cut
    // to 40 bytes, padded with blanks); an empty one keeps the field's fixed word.
    bool open(const std::string& path, int32_t width, int32_t height, int32_t depth,
              const SerTexts& texts = SerTexts());

    // Appends the frame's pixels (width x height samples, without the buffer's row padding)
    // and remembers its time stamp. False, with error() set, when the frame does not match
    // the header or could not be written; such a frame is not counted and leaves no bytes.
    bool writeFrame(const Frame& frame);

    // Appends the trailer, writes the frame count into the header and closes the file;
    // the side file goes once the file is complete. False, with error() set, when any of
    // that failed; the frames stay in the file (and the side file, for the next start).
    // With a `finalPath`, the complete file is then renamed to it (never over a file that
    // exists); the side file and the journal note stay until the rename is done, so a crash
    // before it leaves the recording under its first name, which the recovery finishes.
    // A rename that fails leaves the file complete under its first name (closedPath()).
    bool close(const std::string& finalPath = std::string());
    // Where the file last closed lies.
    const std::string& closedPath() const { return closedPath_; }

    // Where the writer notes the file it has open, so that a crash can be finished at the
    // next start (null: no note).
    void setJournal(RecoveryJournal* journal) { journal_ = journal; }

    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }  // of the open file
    // Frames written to the open file, each with its stamp in the side file (which holds
    // them all, so memory stays flat however long the recording).
    int32_t frameCount() const { return frames_; }
    // Why the last failed open, write or close failed, naming the file; not cleared by a
    // success.
    const std::string& error() const { return error_; }

  private:
    // Waits until the frames and stamps written are on the disk, then writes their count
    // into the header; on failure `reason` names the file.
    bool updateHeaderCount(int32_t frames, std::string& reason);
    // Notes the file just created in the journal (when there is one).
    void noteInJournal(const std::string& path, int32_t width, int32_t height, int32_t depth,
                       const ser::Header& header);
    // The file is still named on the disk and its folder writable; otherwise error() says why.
    bool stillReachable();
    // Deletes both files (where they are still the ones created) and takes the note back.
    void discardFiles();

    OutFile file_;
    OutFile stampsFile_;           // the side file
    uint64_t stampsReserved_ = 0;  // bytes of the side file allocated ahead
    uint32_t countUpdatedMs_ = 0;  // monotonicMs of the last header count update
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t depth_ = 8;
    int64_t utcShiftTicks_ = 0;  // local minus UTC, from the offset in force at open
    int32_t frames_ = 0;
    std::vector<uint8_t> rowBuffer_;  // frame gathered without row padding
    std::string error_;
    RecoveryJournal* journal_ = nullptr;
    std::string journalKey_;  // the note of the open file; "" without one
    std::string closedPath_;
};
