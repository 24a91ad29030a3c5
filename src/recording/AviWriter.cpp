#include "recording/AviWriter.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "platform/Clock.h"
#include "recording/AviRepair.h"
#include "recording/FileNames.h"
#include "recording/Log.h"
#include "recording/OutFile.h"

namespace {
// How a codec copes with each kind of input, found by a round trip through the library.
struct Support {
    bool greyNative = false;    // 1-channel frames written as they are
    bool greyExpanded = false;  // grey frames handed over as 3 equal channels
    bool colour = false;        // BGR frames keep their colours
};

// Candidates for the codec list; the library's own build decides which of them work.
const char* const kCandidates[] = {"IYUV", "I420", "YV12", "Y800", "GREY", "MJPG", "XVID",
                                   "DIVX", "FMP4", "MP42", "DIV3", "H264", "X264", "avc1",
                                   "FFV1", "HFYU", "FFVH", "MPNG", "WMV1", "WMV2", "VP80",
                                   "VP90", "FLV1", "UYVY", "YUY2"};

int32_t fourcc(const char* s) {
    return packFourCc(s[0], s[1], s[2], s[3]);
}

// A private folder for the probe clips, removed again when the probing is done.
class ProbeDir {
  public:
    ProbeDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tv-codec-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ProbeDir() {
        if (path_.empty()) return;
        ::unlink((path_ + "/probe.avi").c_str());
        ::rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Quiets the video library's decoder log while a probe clip is read back: a codec that
// cannot hold grey frames fails the round trip, which is the answer the probe wants, but
// the decoder also reports it on standard error, where it reads like a fault. The log
// level lives in the decoder library the video library loads; it is reached by name, so
// the program does not link that library itself, and left alone when it is not found.
class QuietDecoderLog {
  public:
    QuietDecoderLog() {
        get_ = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "av_log_get_level"));
        set_ = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "av_log_set_level"));
        if (!get_ || !set_) return;
        saved_ = get_();
        apply();
    }
    // Again after opening a file: the video library sets its own level at every open.
    void apply() {
        if (set_) set_(kQuiet);
    }
    ~QuietDecoderLog() {
        if (get_ && set_) set_(saved_);
    }
    QuietDecoderLog(const QuietDecoderLog&) = delete;
    QuietDecoderLog& operator=(const QuietDecoderLog&) = delete;

  private:
    static constexpr int kQuiet = -8;  // the decoder library's "print nothing" level
    int (*get_)() = nullptr;
    void (*set_)(int) = nullptr;
    int saved_ = 0;
};

// A 64 x 48 clip of three frames: top half dark (blue in colour), bottom half bright (red).
bool probeRoundTrip(const std::string& dir, int32_t fourcc, bool colourInput, bool colourContent) {
    const std::string path = dir + "/probe.avi";
    const cv::Size size(64, 48);
    bool ok = false;
    try {
        cv::VideoWriter writer;
        if (!writer.open(path, cv::CAP_FFMPEG, fourcc, kAviFramesPerSecond, size, colourInput))
            return false;
        cv::Mat frame(size, colourInput ? CV_8UC3 : CV_8UC1);
        cv::Mat top = frame.rowRange(0, 24), bottom = frame.rowRange(24, 48);
        if (colourContent) {
            top.setTo(cv::Scalar(255, 0, 0));
            bottom.setTo(cv::Scalar(0, 0, 255));
        } else {
            top.setTo(cv::Scalar::all(30));
            bottom.setTo(cv::Scalar::all(220));
        }
        for (int i = 0; i < 3; ++i) writer.write(frame);
        writer.release();

        QuietDecoderLog quiet;
        cv::VideoCapture reader(path, cv::CAP_FFMPEG);
        quiet.apply();
        cv::Mat got, last;
        int count = 0;
        while (reader.isOpened() && reader.read(got)) {
            ++count;
            last = got;
        }
        if (count == 3 && last.size() == size) {
            cv::Mat bgr;
            if (last.channels() == 1)
                cv::cvtColor(last, bgr, cv::COLOR_GRAY2BGR);
            else
                bgr = last;
            const cv::Scalar t = cv::mean(bgr.rowRange(0, 24)), b = cv::mean(bgr.rowRange(24, 48));
            if (colourContent) {
                ok = t[0] > t[2] + 100 && b[2] > b[0] + 100;
            } else {
                ok = std::abs(t[0] - 30) < 25 && std::abs(b[0] - 220) < 25 &&
                     std::abs(t[2] - 30) < 25 && std::abs(b[2] - 220) < 25;
            }
        }
    } catch (const cv::Exception&) {
        ok = false;
    }
    ::unlink(path.c_str());
    return ok;
}

// The probe result of a codec. The library's abilities do not change while the program
// runs, so each codec is probed once; the cache is shared by every writer and guarded,
// since a benchmark or test may ask from more than one thread.
Support codecSupport(int32_t fourcc) {
    static std::mutex probeMutex;
    static std::map<int32_t, Support> cache;
    std::lock_guard<std::mutex> lock(probeMutex);
    auto it = cache.find(fourcc);
    if (it != cache.end()) return it->second;
    Support s;
    const ProbeDir dir;
    if (dir.path().empty()) {
        // Nowhere to try: trust the codec, and hand it colour frames unless it stores raw ones.
        s = {fourcc == 0, true, true};
    } else {
        const auto level = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        s.greyNative = probeRoundTrip(dir.path(), fourcc, false, false);
        s.greyExpanded = s.greyNative || probeRoundTrip(dir.path(), fourcc, true, false);
        s.colour = probeRoundTrip(dir.path(), fourcc, true, true);
        cv::utils::logging::setLogLevel(level);
    }
    cache[fourcc] = s;
    return s;
}

std::vector<AviCodec> offered(bool colour) {
    std::vector<AviCodec> out;
    for (const AviCodec& c : availableCodecs())
        if (colour ? c.colour : c.grey) out.push_back(c);
    return out;
}

// Free bytes for unprivileged writers in the folder of `path`; -1 when it cannot be told.
int64_t freeBytes(const std::string& path) {
    struct statvfs vfs {};
    if (::statvfs(folderOfPath(path).c_str(), &vfs) != 0) return -1;
    return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

// Size of the file on disk; 0 when it cannot be told.
int64_t fileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// The library holds the latest frames in its output buffers for a while: the file on disk
// lags behind what was handed over by up to about this much.
constexpr int64_t kBufferedBytes = 256 << 10;

// Room a part needs beyond its size on disk before it can be finished: what the library
// still buffers and the index written at the end (a few bytes a frame).
int64_t finishingRoom(int64_t frames) {
    return kBufferedBytes + 32 * frames;
}
}  // namespace

std::string fourCcName(int32_t fourcc) {
    if (fourcc == 0) return "Uncompressed";
    if (fourcc == kCodecAsk) return "(ask)";
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((static_cast<uint32_t>(fourcc) >> (8 * i)) & 0xff);
        s[i] = c >= 32 && c < 127 ? c : '?';
    }
    return s;
}

std::vector<AviCodec> availableCodecs() {
    std::vector<AviCodec> out;
    auto consider = [&out](int32_t fourcc) {
        const Support s = codecSupport(fourcc);
        if (s.greyExpanded || s.colour)
            out.push_back({fourcc, fourCcName(fourcc), s.greyExpanded, s.colour});
    };
    consider(0);
    for (const char* c : kCandidates) consider(fourcc(c));
    return out;
}

std::string aviPartName(const std::string& path, int32_t part) {
    const std::string stem = path.size() >= 4 ? path.substr(0, path.size() - 4) : path;
    return stem + "-PART" + std::to_string(part) + ".AVI";
}

AviWriter::AviWriter() = default;

AviWriter::~AviWriter() {
    close();
}

// Why the library could not create a file there, as far as the file system tells.
std::string AviWriter::createFailureReason(const std::string& path, int32_t fourcc) const {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    const std::string folder = folderOfPath(path);
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    if (::access(folder.c_str(), W_OK) != 0) return std::strerror(errno);
    return "the video library cannot write codec " + fourCcName(fourcc) + " at " +
           std::to_string(width_) + " x " + std::to_string(height_);
}

// Creates the next part. On failure the part number stays, so the next try creates the
// same name.
bool AviWriter::createPart() {
    const std::string name = aviPartName(path_, partNumber_);
    int32_t fourcc = recordingCodec_;
    if (fourcc == kCodecAsk) {
        // The chooser runs a dialog, and with it a nested event loop: the recording
        // controller keeps frames handed off meanwhile away from this writer.
        int32_t chosen = 0;
        if (!chooser_ || !chooser_(offered(color_), name, chosen)) {
            choiceRefused_ = "No codec was chosen for \"" + name + "\"";
            error_ = choiceRefused_;
            return false;
        }
        fourcc = chosen;
    }
    const Support s = codecSupport(fourcc);
    bool colourWriter = true;
    if (color_ ? !s.colour : !s.greyExpanded) {
        error_ = "Cannot create AVI file \"" + name + "\": codec " + fourCcName(fourcc) +
                 " cannot record " + (color_ ? "colour" : "grey") + " video on this system";
        return false;
    }
    if (!color_) colourWriter = !s.greyNative;

    // The part is created here, under a name nothing has yet (never over a user's file, a
    // link or a FIFO of that name), and the video library then writes into that very file.
    OutFile own;
    if (!own.create(name)) {
        const int err = errno;
        error_ =
            "Cannot create AVI file \"" + name + "\": " +
            (err == EEXIST ? std::string(std::strerror(err)) : createFailureReason(name, fourcc));
        return false;
    }
    auto writer = std::make_unique<cv::VideoWriter>();
    bool opened = false;
    try {
        opened = writer->open(name, cv::CAP_FFMPEG, fourcc, kAviFramesPerSecond,
                              cv::Size(width_, height_), colourWriter);
    } catch (const cv::Exception&) {
        opened = false;
    }
    struct stat st {};
    if (opened && (::lstat(name.c_str(), &st) != 0 || st.st_dev != own.device() ||
                   st.st_ino != own.inode())) {
        writer.reset();
        error_ = "Cannot create AVI file \"" + name + "\": another file took its name";
        return false;
    }
    if (!opened) {
        error_ = "Cannot create AVI file \"" + name + "\": " + createFailureReason(name, fourcc);
        own.discard();
        return false;
    }
    own.close();
    ++partNumber_;
    writer_ = std::move(writer);
    writerColour_ = colourWriter;
    partPath_ = name;
    partDevice_ = st.st_dev;
    partInode_ = st.st_ino;
    checkedMs_ = monotonicMs();
    notePartInJournal();
    partFrames_ = 0;
    partBytes_ = 0;
    return true;
}

// Releases the current part's writer, which finishes the file, and reads the file back:
// the library does not report failed writes, so a part that cannot be read back in full
// is the sign of one.
void AviWriter::finishPart() {
    if (!writer_) return;
    try {
        writer_->release();
    } catch (const cv::Exception&) {
    }
    writer_.reset();
    bool ok = false;
    if (partFrames_ == 0) {
        struct stat st {};
        ok = ::stat(partPath_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    } else {
        try {
            cv::VideoCapture reader(partPath_, cv::CAP_FFMPEG);
            cv::Mat last;
            ok = reader.isOpened() &&
                 static_cast<int64_t>(reader.get(cv::CAP_PROP_FRAME_COUNT)) == partFrames_ &&
                 reader.set(cv::CAP_PROP_POS_FRAMES, static_cast<double>(partFrames_ - 1)) &&
                 reader.read(last) && !last.empty();
        } catch (const cv::Exception&) {
            ok = false;
        }
    }
    // A finished part needs nothing after a crash; one that could not be read back keeps
    // its note for the next start, which finishes what the file holds.
    if (ok && journal_) journal_->remove(journalKey_);
    journalKey_.clear();
    if (!ok && partFailure_.empty()) {
        partFailure_ = "AVI file \"" + partPath_ +
                       "\" is incomplete: " + std::to_string(partFrames_) +
                       " frames were handed to the video library but could not be read back "
                       "(disk full or write error?)";
    }
}

void AviWriter::notePartInJournal() {
    journalKey_.clear();
    partToken_.clear();
    tokenPending_ = false;
    if (!journal_) return;
    JournalEntry entry;
    entry.format = "AVI";
    entry.token = partToken_ = newRecordingToken();
    entry.path = absoluteFilePath(partPath_);
    entry.width = width_;
    entry.height = height_;
    entry.depth = 8;
    std::string why;
    journalKey_ = journal_->add(entry, &why);
    // The recording goes on; only its finishing after a crash is not possible.
    if (journalKey_.empty())
        qCWarning(lcRecording, "%s (a crash would leave this recording unfinished)", why.c_str());
    tokenPending_ = !journalKey_.empty();
}

// The part's token goes into the file once the video library has put the header on the
// disk (it keeps the first kilobytes in its buffer for a while); until then the part is
// known by its creation time alone.
void AviWriter::storeToken() {
    struct stat st {};
    const int fd = openRegularFile(partPath_, O_RDWR, &st);
    if (fd < 0) return;
    if (st.st_dev == partDevice_ && st.st_ino == partInode_ && writeAviToken(fd, partToken_))
        tokenPending_ = false;
    else if (st.st_size > (64 << 10))
        tokenPending_ = false;  // the header has no room for it: the creation time must do
    ::close(fd);
}

bool AviWriter::stillReachable() {
    struct stat st {};
    if (::stat(partPath_.c_str(), &st) != 0 || st.st_dev != partDevice_ ||
        st.st_ino != partInode_) {
        error_ = "The recording \"" + partPath_ +
                 "\" is no longer on the disk: its folder was removed or the file deleted";
        return false;
    }
    const std::string folder = folderOfPath(partPath_);
    if (::access(folder.c_str(), W_OK) != 0) {
        error_ = "The capture folder \"" + folder +
                 "\" can no longer be written to: " + std::strerror(errno);
        return false;
    }
    return true;
}

bool AviWriter::open(const std::string& path, int32_t width, int32_t height, bool color) {
    if (open_) close();
    path_ = path;
    recordingCodec_ = codec_;
    partBytes_ = 0;
    partNumber_ = 1;
    width_ = width;
    height_ = height;
    color_ = color;
    frameBytes_ = width * height * (color ? 3 : 1);
    choiceRefused_.clear();
    partFailure_.clear();
    if (width <= 0 || height <= 0) {
        error_ = "Cannot record \"" + path + "\": frame size " + std::to_string(width) + " x " +
                 std::to_string(height);
        return false;
    }
    if (!createPart()) return false;
    open_ = true;
    return true;
}

bool AviWriter::writeFrame(const cv::Mat& image) {
    if (!open_) {
        error_ = "No AVI recording is open";
        return false;
    }
    if (image.empty() || image.cols != width_ || image.rows != height_ || image.depth() != CV_8U ||
        (image.channels() != 1 && image.channels() != 3)) {
        error_ = "Frame does not match the recording \"" + path_ + "\" (" + std::to_string(width_) +
                 " x " + std::to_string(height_) + ", 8 bits)";
        return false;
    }
    // What the next frame will take in the file: the average of the frames of this part so
    // far as the file shows them, or before the first one the bytes handed over.
    const int64_t inputBytes = int64_t{frameBytes_} * (writerColour_ && !color_ ? 3 : 1);
    const int64_t perFrame = partFrames_ > 0 && partBytes_ > 0
                                 ? (partBytes_ + partFrames_ - 1) / partFrames_
                                 : inputBytes;
    if (!writer_ || (partFrames_ > 0 && partBytes_ + kBufferedBytes + perFrame > partLimitBytes_)) {
        if (!choiceRefused_.empty()) {
            error_ = choiceRefused_;
            return false;
        }
        finishPart();
        if (!createPart()) return false;
    }
    // Once a second: a part whose folder was removed or made read-only ends the recording,
    // as a full disk does.
    const uint32_t now = monotonicMs();
    if (now - checkedMs_ >= 1000) {
        checkedMs_ = now;
        if (!stillReachable()) return false;
    }
    // The video library does not report a full disk (it finds out only when the part is
    // finished, too late for the frames before): a frame is written only when it and the
    // part's finishing fit into the free space.
    const int64_t free = freeBytes(partPath_);
    const int64_t estimate = partFrames_ > 0 && partBytes_ > 0 ? perFrame : inputBytes;
    if (free >= 0 && free < estimate + finishingRoom(partFrames_ + 1)) {
        error_ = "Cannot write to AVI file \"" + partPath_ + "\": not enough free space";
        return false;
    }
    const cv::Mat* frame = &image;
    if (writerColour_ && image.channels() == 1) {
        cv::cvtColor(image, converted_, cv::COLOR_GRAY2BGR);
        frame = &converted_;
    } else if (!writerColour_ && image.channels() == 3) {
        cv::cvtColor(image, converted_, cv::COLOR_BGR2GRAY);
        frame = &converted_;
    }
    try {
        writer_->write(*frame);
    } catch (const cv::Exception& e) {
        error_ = "Cannot write to AVI file \"" + partPath_ + "\": " + e.what();
        return false;
    }
    ++partFrames_;
    // What the part holds on disk so far (the library's output buffer lags a little).
    partBytes_ = fileBytes(partPath_);
    if (tokenPending_ && partBytes_ > 0) storeToken();
    return true;
}

bool AviWriter::close() {
    if (!open_) return true;
    finishPart();
    open_ = false;
    partFrames_ = 0;
    partBytes_ = 0;
    partNumber_ = 1;
    choiceRefused_.clear();
    converted_.release();
    if (!partFailure_.empty()) {
        error_ = partFailure_;
        return false;
    }
    return true;
}
