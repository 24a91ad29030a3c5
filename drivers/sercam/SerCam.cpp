// The SER playback camera behind the ten camera functions: a SER file (option file=PATH)
// played as the camera's picture, one frame per exposure, paced by the exposure length and
// starting again after the last frame. The subframe is the centre of the file's frame.
// Exposures run on the worker thread of drivers/common.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "CameraCommon.h"
#include "SerReader.h"

#pragma GCC visibility push(default)
#include "SerCam.h"
#include "tarvidll.h"
#pragma GCC visibility pop

namespace {

// The camera's own state; guarded by camera::Lock().
struct PlaybackState {
    std::string file;  // from the option
    std::shared_ptr<sercam::SerReader> reader;
    std::string name;
    std::string lastError;
    int next = 0;  // frame of the next exposure
};

// Never destroyed: the worker thread may use it until the process ends.
PlaybackState& State() {
    static PlaybackState* state = new PlaybackState;
    return *state;
}

// Called with the lock held.
void Fail(PlaybackState& s, const std::string& why) {
    s.lastError = why;
    std::fprintf(stderr, "SER playback camera: %s\n", why.c_str());
}

int SubframeLeft(int fullW, int w) {
    return ((fullW - w) / 2) & ~1;
}
int SubframeTop(int fullH, int h) {
    return ((fullH - h) / 2) & ~1;
}

// The w x h centre of the full frame (left and top even, so that a Bayer mosaic keeps its
// pattern), mirrored when asked, into rows of `stride` bytes.
template <typename Sample>
void CopyOut(const std::vector<Sample>& full, int fullW, int fullH, int w, int h, bool flip,
             uint8_t* dst, size_t stride) {
    const int left = SubframeLeft(fullW, w);
    const int top = SubframeTop(fullH, h);
    for (int y = 0; y < h; ++y) {
        const Sample* src = full.data() + static_cast<size_t>(top + y) * fullW + left;
        Sample* row = reinterpret_cast<Sample*>(dst + stride * y);
        if (flip)
            std::reverse_copy(src, src + w, row);
        else
            std::copy(src, src + w, row);
    }
}

// The pattern of the frames delivered: the file's ColorID, moved to the subframe and
// relabelled when mirrored (the samples themselves are never shifted).
int DeliveredPattern(const sercam::SerReader& reader, const camera::Settings& used) {
    const int id = reader.ColorId();
    if (id < TARVI_PATTERN_RGGB || id > TARVI_PATTERN_BGGR) return TARVI_PATTERN_MONO;
    const int first = camera::ShiftedPattern(id, SubframeLeft(reader.Width(), used.width),
                                             SubframeTop(reader.Height(), used.height));
    return used.flip ? camera::MirroredPattern(first, used.width) : first;
}

// Frame `index` into the exposure's buffer: read while the exposure runs, copied out when it
// has ended. A frame that cannot be read (the file shrank or went away) fails the exposure.
// 16-bit buffers get the samples as the file holds them, 8-bit ones their top 8 bits.
camera::FillResult Fill(camera::Exposure& exposure, sercam::SerReader& reader, int index) {
    // The worker's, kept from frame to frame.
    thread_local std::vector<uint8_t> frame;
    thread_local std::vector<uint16_t> deep;
    const camera::Settings& used = exposure.Used();
    const bool wide = used.depth == 16;
    std::string why;
    const bool ok =
        wide ? reader.ReadFrame(index, &deep, &why) : reader.ReadFrame(index, &frame, &why);
    exposure.WaitForEnd();
    if (!ok) {
        auto lock = camera::Lock();
        Fail(State(), why);
        return {false};
    }
    if (wide)
        CopyOut(deep, reader.Width(), reader.Height(), used.width, used.height, used.flip,
                exposure.Buffer(), exposure.Stride());
    else
        CopyOut(frame, reader.Width(), reader.Height(), used.width, used.height, used.flip,
                exposure.Buffer(), exposure.Stride());
    return {true, wide ? reader.Depth() : 8, DeliveredPattern(reader, used)};
}

// Why `path` cannot be played when it is there and not a regular file (a FIFO or a device
// would block or never end); "" otherwise. stat does not open, so it cannot block.
std::string NotAFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return "";
    return path + ": not a regular file";
}
}  // namespace

namespace camera {

void MaxSubframe(int* width, int* height) {
    const PlaybackState& s = State();
    *width = s.reader ? s.reader->Width() : 0;
    *height = s.reader ? s.reader->Height() : 0;
}

FillFunction BeginExposure(const Settings& /*settings*/) {
    PlaybackState& s = State();
    if (!s.reader) return {};
    const int index = s.next;
    s.next = (index + 1) % s.reader->FrameCount();
    return
        [reader = s.reader, index](Exposure& exposure) { return Fill(exposure, *reader, index); };
}

}  // namespace camera

extern "C" {

int CameraOption(const char* key, const char* value) try {
    auto lock = camera::Lock();
    PlaybackState& s = State();
    if (!key || !value || std::strcmp(key, "file") != 0) {
        Fail(s, std::string("unknown option \"") + (key ? key : "") + "\"");
        return 0;
    }
    if (!*value) {
        Fail(s, "the option file needs the path of a SER file");
        return 0;
    }
    const std::string why = NotAFile(value);
    if (!why.empty()) {
        Fail(s, why);
        return 0;
    }
    s.file = value;
    return 1;
} catch (const std::exception&) {
    return 0;
}

const char* CameraLastError(void) {
    auto lock = camera::Lock();
    return State().lastError.c_str();  // valid until the next failure
}

int openUSB(int /*reserved*/) try {
    auto lock = camera::Lock();
    PlaybackState& s = State();
    if (camera::ExposureRunning()) {
        Fail(s, "an exposure is running");
        return 0;
    }
    camera::Settings& settings = camera::Current();
    s.reader.reset();
    s.name.clear();
    settings.width = settings.height = 0;
    if (s.file.empty()) {
        Fail(s, "no SER file chosen (camera option file=PATH)");
        return 0;
    }
    auto reader = std::make_shared<sercam::SerReader>();
    std::string why;
    if (!reader->Open(s.file, &why)) {
        Fail(s, why);
        return 0;
    }
    s.reader = reader;
    s.name = "SER playback: " + s.file.substr(s.file.rfind('/') + 1);
    settings.width = reader->Width();
    settings.height = reader->Height();
    settings.flip = false;
    // Deeper files can be played as they are, in 16-bit words.
    settings.maxBits = std::max(reader->Depth(), 8);
    settings.depth = 8;
    s.next = 0;
    s.lastError.clear();
    return 1;
} catch (const std::exception&) {
    return 0;
}

const char* GetCameraInfo(int* width, int* height) {
    auto lock = camera::Lock();
    const PlaybackState& s = State();
    if (width) *width = s.reader ? s.reader->Width() : 0;
    if (height) *height = s.reader ? s.reader->Height() : 0;
    return s.name.c_str();  // changes only with openUSB
}

}  // extern "C"
