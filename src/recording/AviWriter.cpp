#include "recording/AviWriter.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "recording/WriterStatus.h"

int32_t CodecFourCC = PackFourCC('I', 'Y', 'U', 'V');
int64_t AviPartLimitBytes = AviPartLimitMiB * 1024 * 1024;
std::string AviPath;
int32_t AviPartNumber = 1;
int64_t AviPartBytes = 0;
int32_t AviFrameBytes = 0;
int32_t AviWidth = 0;
int32_t AviHeight = 0;
int32_t AviColor = 0;

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

std::mutex g_probeMutex;
std::map<int32_t, Support> g_support;

AviCodecChooser g_chooser;

// The recording.
bool g_open = false;
std::unique_ptr<cv::VideoWriter> g_writer;  // writer of the current part, null between parts
bool g_writerColour = false;                // the writer takes 3-channel frames
std::string g_partPath;
int64_t g_partFrames = 0;
std::string g_choiceRefused;  // set when the user cancelled the codec choice for a later part
std::string g_partFailure;    // first part of this recording that could not be finished
cv::Mat g_converted;

int32_t Fourcc(const char* s) {
    return PackFourCC(s[0], s[1], s[2], s[3]);
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

// A 64 x 48 clip of three frames: top half dark (blue in colour), bottom half bright (red).
bool ProbeRoundTrip(const std::string& dir, int32_t fourcc, bool colourInput, bool colourContent) {
    const std::string path = dir + "/probe.avi";
    const cv::Size size(64, 48);
    bool ok = false;
    try {
        cv::VideoWriter writer;
        if (!writer.open(path, cv::CAP_FFMPEG, fourcc, AviFramesPerSecond, size, colourInput))
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

        cv::VideoCapture reader(path, cv::CAP_FFMPEG);
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

Support CodecSupport(int32_t fourcc) {
    std::lock_guard<std::mutex> lock(g_probeMutex);
    auto it = g_support.find(fourcc);
    if (it != g_support.end()) return it->second;
    Support s;
    const ProbeDir dir;
    if (dir.path().empty()) {
        // Nowhere to try: trust the codec, and hand it colour frames unless it stores raw ones.
        s = {fourcc == 0, true, true};
    } else {
        const auto level = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        s.greyNative = ProbeRoundTrip(dir.path(), fourcc, false, false);
        s.greyExpanded = s.greyNative || ProbeRoundTrip(dir.path(), fourcc, true, false);
        s.colour = ProbeRoundTrip(dir.path(), fourcc, true, true);
        cv::utils::logging::setLogLevel(level);
    }
    g_support[fourcc] = s;
    return s;
}

std::vector<AviCodec> Offered(bool colour) {
    std::vector<AviCodec> out;
    for (const AviCodec& c : AvailableCodecs())
        if (colour ? c.Colour : c.Grey) out.push_back(c);
    return out;
}

std::string Folder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Why the library could not create a file there, as far as the file system tells.
std::string CreateFailureReason(const std::string& path, int32_t fourcc) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    const std::string folder = Folder(path);
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    if (::access(folder.c_str(), W_OK) != 0) return std::strerror(errno);
    return "the video library cannot write codec " + FourCCName(fourcc) + " at " +
           std::to_string(AviWidth) + " x " + std::to_string(AviHeight);
}

bool EnoughSpace(const std::string& path, int64_t bytes) {
    struct statvfs vfs {};
    if (::statvfs(Folder(path).c_str(), &vfs) != 0) return true;  // cannot tell: try the write
    const uint64_t avail = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return avail >= static_cast<uint64_t>(bytes) + (1u << 20);  // room for the index too
}

// Creates the next part. On failure the part number is given back, so the next try
// creates the same name.
bool CreatePart() {
    const std::string name = AviPartName(AviPath);
    int32_t fourcc = CodecFourCC;
    if (fourcc == CodecAsk) {
        int32_t chosen = 0;
        if (!g_chooser || !g_chooser(Offered(AviColor > 0), name, chosen)) {
            --AviPartNumber;
            g_choiceRefused = "No codec was chosen for \"" + name + "\"";
            SetWriterError(g_choiceRefused);
            return false;
        }
        fourcc = chosen;
    }
    const Support s = CodecSupport(fourcc);
    bool colourWriter = true;
    if (AviColor > 0 ? !s.colour : !s.greyExpanded) {
        --AviPartNumber;
        SetWriterError("Cannot create AVI file \"" + name + "\": codec " + FourCCName(fourcc) +
                       " cannot record " + (AviColor > 0 ? "colour" : "grey") +
                       " video on this system");
        return false;
    }
    if (AviColor == 0) colourWriter = !s.greyNative;

    auto writer = std::make_unique<cv::VideoWriter>();
    bool opened = false;
    try {
        opened = writer->open(name, cv::CAP_FFMPEG, fourcc, AviFramesPerSecond,
                              cv::Size(AviWidth, AviHeight), colourWriter);
    } catch (const cv::Exception&) {
        opened = false;
    }
    if (!opened) {
        --AviPartNumber;
        SetWriterError("Cannot create AVI file \"" + name +
                       "\": " + CreateFailureReason(name, fourcc));
        return false;
    }
    g_writer = std::move(writer);
    g_writerColour = colourWriter;
    g_partPath = name;
    g_partFrames = 0;
    AviPartBytes = 0;
    return true;
}

// Releases the current part's writer, which finishes the file, and reads the file back:
// the library does not report failed writes, so a part that cannot be read back in full
// is the sign of one.
void FinishPart() {
    if (!g_writer) return;
    try {
        g_writer->release();
    } catch (const cv::Exception&) {
    }
    g_writer.reset();
    bool ok = false;
    if (g_partFrames == 0) {
        struct stat st {};
        ok = ::stat(g_partPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    } else {
        try {
            cv::VideoCapture reader(g_partPath, cv::CAP_FFMPEG);
            cv::Mat last;
            ok = reader.isOpened() &&
                 static_cast<int64_t>(reader.get(cv::CAP_PROP_FRAME_COUNT)) == g_partFrames &&
                 reader.set(cv::CAP_PROP_POS_FRAMES, static_cast<double>(g_partFrames - 1)) &&
                 reader.read(last) && !last.empty();
        } catch (const cv::Exception&) {
            ok = false;
        }
    }
    if (!ok && g_partFailure.empty()) {
        g_partFailure = "AVI file \"" + g_partPath +
                        "\" is incomplete: " + std::to_string(g_partFrames) +
                        " frames were handed to the video library but could not be read back "
                        "(disk full or write error?)";
    }
}
}  // namespace

void SetCodecFourCC(char c1, char c2, char c3, char c4) {
    CodecFourCC = PackFourCC(c1, c2, c3, c4);
}

std::string FourCCName(int32_t fourcc) {
    if (fourcc == 0) return "Uncompressed";
    if (fourcc == CodecAsk) return "(ask)";
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((static_cast<uint32_t>(fourcc) >> (8 * i)) & 0xff);
        s[i] = c >= 32 && c < 127 ? c : '?';
    }
    return s;
}

std::vector<AviCodec> AvailableCodecs() {
    std::vector<AviCodec> out;
    auto consider = [&out](int32_t fourcc) {
        const Support s = CodecSupport(fourcc);
        if (s.greyExpanded || s.colour)
            out.push_back({fourcc, FourCCName(fourcc), s.greyExpanded, s.colour});
    };
    consider(0);
    for (const char* c : kCandidates) consider(Fourcc(c));
    return out;
}

void SetAviCodecChooser(AviCodecChooser chooser) {
    g_chooser = std::move(chooser);
}

std::string AviPartName(const std::string& path) {
    const std::string stem = path.size() >= 4 ? path.substr(0, path.size() - 4) : path;
    return stem + "-PART" + std::to_string(AviPartNumber++) + ".AVI";
}

bool AviIsOpen() {
    return g_open;
}

int32_t AviOpen(const std::string& path, int32_t width, int32_t height, int32_t color) {
    if (g_open) AviClose();
    AviPath = path;
    AviPartBytes = 0;
    AviPartNumber = 1;
    AviWidth = width;
    AviHeight = height;
    AviColor = color > 0 ? 1 : 0;
    AviFrameBytes = width * height * (color > 0 ? 3 : 1);
    g_choiceRefused.clear();
    g_partFailure.clear();
    if (width <= 0 || height <= 0) {
        SetWriterError("Cannot record \"" + path + "\": frame size " + std::to_string(width) +
                       " x " + std::to_string(height));
        return WriterNone;
    }
    if (!CreatePart()) {
        AviPartNumber = 1;
        return WriterNone;
    }
    g_open = true;
    return WriterAvi;
}

bool AviWriteFrame(const cv::Mat& image) {
    if (!g_open) {
        SetWriterError("No AVI recording is open");
        return false;
    }
    if (image.empty() || image.cols != AviWidth || image.rows != AviHeight ||
        image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3)) {
        SetWriterError("Frame does not match the recording \"" + AviPath + "\" (" +
                       std::to_string(AviWidth) + " x " + std::to_string(AviHeight) + ", 8 bits)");
        return false;
    }
    if (!g_writer || AviPartBytes > AviPartLimitBytes) {
        if (!g_choiceRefused.empty()) {
            SetWriterError(g_choiceRefused);
            return false;
        }
        FinishPart();
        if (!CreatePart()) return false;
    }
    if (!EnoughSpace(g_partPath, AviFrameBytes)) {
        SetWriterError("Cannot write to AVI file \"" + g_partPath + "\": " + std::strerror(ENOSPC));
        return false;
    }
    const cv::Mat* frame = &image;
    if (g_writerColour && image.channels() == 1) {
        cv::cvtColor(image, g_converted, cv::COLOR_GRAY2BGR);
        frame = &g_converted;
    } else if (!g_writerColour && image.channels() == 3) {
        cv::cvtColor(image, g_converted, cv::COLOR_BGR2GRAY);
        frame = &g_converted;
    }
    try {
        g_writer->write(*frame);
    } catch (const cv::Exception& e) {
        SetWriterError("Cannot write to AVI file \"" + g_partPath + "\": " + e.what());
        return false;
    }
    AviPartBytes += AviFrameBytes;
    ++g_partFrames;
    return true;
}

bool AviClose() {
    if (!g_open) return true;
    FinishPart();
    g_open = false;
    g_partFrames = 0;
    AviPartBytes = 0;
    AviPartNumber = 1;
    g_choiceRefused.clear();
    g_converted.release();
    if (!g_partFailure.empty()) {
        SetWriterError(g_partFailure);
        return false;
    }
    return true;
}
