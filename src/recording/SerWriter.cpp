#include "recording/SerWriter.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "recording/FileNames.h"
#include "recording/FullScale.h"
#include "recording/Log.h"

namespace {
constexpr int64_t kTicksTo18991230 = 599264352000000000LL;
constexpr int64_t kTicksPerSecond = PreciseDateTime::kTicksPerSecond;

// Frames are written as they lie in memory; their 16-bit samples must be little-endian.
static_assert(std::endian::native == std::endian::little, "16-bit SER samples are little-endian");

using ser::put32;
using ser::put64;
}  // namespace

std::string serStampsPath(const std::string& serPath) {
    return serPath + kSerStampsSuffix;
}

int64_t toSerTicks(PreciseDateTime value) {
    return value.ticks() + kTicksTo18991230;
}

SerWriter::~SerWriter() {
    close();
}

bool SerWriter::open(const std::string& path, int32_t width, int32_t height, int32_t depth,
                     const SerTexts& texts) {
    if (file_.isOpen()) close();
    if (width <= 0 || height <= 0 || (depth != 8 && depth != 16)) {
        error_ = "Cannot record \"" + path + "\": unsupported frame format " +
                 std::to_string(width) + " x " + std::to_string(height) + ", " +
                 std::to_string(depth) + " bits";
        return false;
    }
    // The offset is read first, so DateTime and DateTime_UTC describe one instant in one zone.
    const int64_t offsetSeconds = utcOffsetSeconds();
    const int64_t localTicks = toSerTicks(localNow());
    utcShiftTicks_ = offsetSeconds * kTicksPerSecond;

    ser::Header fields;
    // Mono until the first frame says what it is (writeFrame labels the recording by it).
    fields.colorId = ser::KMono;
    // 16-bit samples are stored little-endian, and the field says 0: the value the stacking
    // programs read as little-endian (the format's text has it the other way round, and
    // readers following the text swap the bytes).
    fields.littleEndian = 0;
    fields.width = width;
    fields.height = height;
    fields.depth = depth;
    fields.frameCount = 0;  // written at close
    // A text set is padded with blanks (readers trim them); the fixed words keep the
    // underscores of the encoder.
    auto text = [](const std::string& set, const char* fixed) {
        std::string t = asciiText(set);
        if (t.empty()) return std::string(fixed);
        t.resize(ser::kTextSize, ' ');
        return t;
    };
    fields.observer = text(texts.observer, "OBSERVER");
    fields.instrument = text(texts.instrument, "INSTRUMENT");
    fields.telescope = text(texts.telescope, "TELESCOPE");
    fields.dateTime = localTicks;
    fields.dateTimeUtc = localTicks - utcShiftTicks_;
    uint8_t header[ser::kHeaderSize];
    ser::encodeHeader(fields, header);

    // Both files are created under free names only (never over a user's file, a link or a
    // FIFO of that name); frames of megabytes go straight to the disk, the rest through the
    // page cache.
    if (!file_.create(path, OutFile::Mode::Direct)) {
        error_ = file_.error();
        return false;
    }
    if (!stampsFile_.create(serStampsPath(path))) {
        error_ = stampsFile_.error();
        file_.discard();
        return false;
    }
    // The note names both files and the header's start time, which only this recording has.
    noteInJournal(path, width, height, depth, fields);
    if (!file_.write(header, sizeof header)) {
        error_ = file_.error();
        discardFiles();
        return false;
    }
    stampsReserved_ = 0;
    countUpdatedMs_ = monotonicMs();
    width_ = width;
    height_ = height;
    depth_ = depth;
    frames_ = 0;
    return true;
}

bool SerWriter::writeFrame(const Frame& frame) {
    if (!file_.isOpen()) {
        error_ = "No SER file is open";
        return false;
    }
    if (frameWidth(&frame) != width_ || frameHeight(&frame) != height_ ||
        frameDepth(&frame) != depth_) {
        error_ = "Frame does not match the recording \"" + file_.path() + "\" (" +
                 std::to_string(width_) + " x " + std::to_string(height_) + ", " +
                 std::to_string(depth_) + " bits)";
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(width_) * ser::bytesPerSample(depth_);
    const size_t stride = frameStride(&frame);
    const uint8_t* src = frame.rawImage.data;
    const uint8_t* data = src;
    const size_t frameBytes = rowBytes * static_cast<size_t>(height_);
    // 16-bit samples of fewer significant bits are stored at full scale (FullScale.h).
    const bool shift = depth_ == 16 && frame.bitsPerSample < 16;
    if (stride != rowBytes || shift) {
        rowBuffer_.resize(frameBytes);
        for (int y = 0; y < height_; ++y)
            std::memcpy(rowBuffer_.data() + rowBytes * y, src + stride * y, rowBytes);
        if (shift)
            shiftToFullScale(reinterpret_cast<uint16_t*>(rowBuffer_.data()), frameBytes / 2,
                             frame.bitsPerSample);
        data = rowBuffer_.data();
    }
    const uint64_t goodEnd = file_.position();
    const uint64_t stampsEnd = stampsFile_.position();
    const int32_t frames = frameCount() + 1;
    const uint64_t trailerBytes = ser::kStampSize * static_cast<uint64_t>(frames);
    // Room for this frame and for the stamps of every frame up to it, in the recording and
    // in the side file, before anything is written: a full disk refuses the frame whole and
    // leaves room for the trailer of the frames before it. The side file grows in steps.
    if (trailerBytes > stampsReserved_) {
        const uint64_t step = 65536;
        if (!stampsFile_.reserve((trailerBytes + step - 1) / step * step)) {
            error_ = stampsFile_.error();
            return false;
        }
        stampsReserved_ = (trailerBytes + step - 1) / step * step;
    }
    // Ahead by 16 MiB at a time: a call for each small frame cost the writer a tenth of its
    // pace at 640 x 480.
    if (!file_.reserveAhead(goodEnd + frameBytes + trailerBytes, uint64_t{16} << 20)) {
        error_ = file_.error();
        return false;
    }
    uint8_t stamp[ser::kStampSize];
    put64(stamp, toSerTicks(frame.timeStamp) - utcShiftTicks_);
    const uint32_t now = monotonicMs();
    const bool countDue = frames == 1 || now - countUpdatedMs_ >= kSerCountUpdateMs;
    // Once a second: a recording whose folder was removed or made read-only ends now, as
    // one on a full disk does, instead of writing on into a file nobody can reach.
    if (countDue && !stillReachable()) return false;
    if (frames == 1) {
        // The recording's colour label: the mosaic of its frames as stored, or mono.
        uint8_t colorId[4];
        put32(colorId, static_cast<int32_t>(frame.pattern));
        if (!file_.writeAt(ser::kColorIdOffset, colorId, sizeof colorId)) {
            error_ = file_.error();
            return false;
        }
    }
    if (!file_.write(data, frameBytes)) {
        std::string reason = file_.error();
        // A partly written frame would shift every later frame: cut it off again.
        file_.truncate(goodEnd);
        error_ = std::move(reason);
        return false;
    }
    std::string reason;
    if (!stampsFile_.write(stamp, sizeof stamp))
        reason = stampsFile_.error();
    else if (countDue)
        updateHeaderCount(frames, reason);
    if (!reason.empty()) {
        error_ = std::move(reason);
        file_.truncate(goodEnd);
        stampsFile_.truncate(stampsEnd);
        return false;
    }
    if (countDue) countUpdatedMs_ = now;
    frames_ = frames;
    return true;
}

bool SerWriter::stillReachable() {
    if (file_.isUnlinked() || stampsFile_.isUnlinked()) {
        error_ = "The recording \"" + file_.path() +
                 "\" is no longer on the disk: its folder was removed or the file deleted";
        return false;
    }
    const std::string folder = folderOfPath(file_.path());
    if (::access(folder.c_str(), W_OK) != 0) {
        error_ = "The capture folder \"" + folder +
                 "\" can no longer be written to: " + std::strerror(errno);
        return false;
    }
    return true;
}

void SerWriter::discardFiles() {
    file_.discard();
    stampsFile_.discard();
    if (journal_) journal_->remove(journalKey_);
    journalKey_.clear();
}

bool SerWriter::updateHeaderCount(int32_t frames, std::string& reason) {
    uint8_t count[4];
    put32(count, frames);
    if (!stampsFile_.syncData()) {
        reason = stampsFile_.error();
        return false;
    }
    if (!file_.syncData() || !file_.writeAt(kSerFrameCountOffset, count, sizeof count)) {
        reason = file_.error();
        return false;
    }
    return true;
}

bool SerWriter::close(const std::string& finalPath) {
    if (!file_.isOpen()) return true;
    closedPath_ = file_.path();
    bool ok = true;
    std::string reason;
    const uint64_t dataEnd = file_.position();
    if (file_.isUnlinked()) {
        // Nothing is left to finish or to recover: the file went with its folder.
        error_ = "The recording \"" + closedPath_ +
                 "\" is no longer on the disk: its folder was removed or the file deleted";
        discardFiles();
        return false;
    }
    // The trailer is the side file, copied in pieces through its own descriptor (its name
    // may be gone).
    std::vector<uint8_t> piece(65536);
    for (uint64_t at = 0, left = ser::kStampSize * static_cast<uint64_t>(frames_);
         ok && left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
        if (!stampsFile_.readAt(at, piece.data(), n)) {
            ok = false;
            reason = stampsFile_.error();
        } else if (!file_.write(piece.data(), n)) {
            ok = false;
            reason = file_.error();
        }
        at += n;
        left -= n;
    }
    // Without its full trailer the file is still a valid SER file: drop the partial one.
    if (!ok) file_.truncate(dataEnd);
    uint8_t count[4];
    put32(count, frameCount());
    if (!file_.writeAt(kSerFrameCountOffset, count, sizeof count) && ok) {
        ok = false;
        reason = file_.error();
    }
    // The side file goes only once the recording is complete on the disk.
    if (ok && !file_.syncData()) {
        ok = false;
        reason = file_.error();
    }
    if (!file_.close() && ok) {
        ok = false;
        reason = file_.error();
    }
    if (ok && !finalPath.empty() && finalPath != closedPath_) {
        // The file is complete on the disk; a crash from here on leaves it under its first
        // name, with its side file and note, and the recovery finishes it there.
        if (renameNoReplace(closedPath_, finalPath))
            closedPath_ = finalPath;
        else
            qCWarning(lcRecording, "Cannot rename \"%s\" to \"%s\": %s", closedPath_.c_str(),
                      finalPath.c_str(), std::strerror(errno));
    }
    if (ok) {
        stampsFile_.discard();
        // Complete: nothing is left to finish after a crash.
        if (journal_) journal_->remove(journalKey_);
    } else {
        // The note stays, so that the next start finishes the file from its side file.
        stampsFile_.close();
    }
    journalKey_.clear();
    if (!ok) error_ = std::move(reason);
    return ok;
}

void SerWriter::noteInJournal(const std::string& path, int32_t width, int32_t height, int32_t depth,
                              const ser::Header& header) {
    journalKey_.clear();
    if (!journal_) return;
    JournalEntry entry;
    entry.format = "SER";
    entry.path = absoluteFilePath(path);
    entry.sidePath = absoluteFilePath(serStampsPath(path));
    entry.width = width;
    entry.height = height;
    entry.depth = depth;
    entry.colorId = header.colorId;
    entry.token = serHeaderToken(header);
    std::string why;
    journalKey_ = journal_->add(entry, &why);
    // The recording goes on; only its finishing after a crash is not possible (the window
    // asked before the recording whether the journal can be written).
    if (journalKey_.empty())
        qCWarning(lcRecording, "%s (a crash would leave this recording unfinished)", why.c_str());
}
