// The SER playback camera behind the ten camera functions: a SER file (option file=PATH)
// played as the camera's picture, one frame per exposure, paced by the exposure length and
// starting again after the last frame. The subframe is a crop of the file's frame, centred
// unless SubframeOrigin placed it.
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
PlaybackState& state() {
    static PlaybackState* state = new PlaybackState;
    return *state;
}

// Called with the lock held.
void fail(PlaybackState& s, const std::string& why) {
    s.lastError = why;
    std::fprintf(stderr, "SER playback camera: %s\n", why.c_str());
}

// The w x h crop of the full frame at `at` (left and top even, so that a Bayer mosaic keeps
// its pattern), mirrored when asked, into rows of `stride` bytes.
template <typename Sample>
void copyOut(const std::vector<Sample>& full, int fullW, camera::Placement at, int w, int h,
             bool flip, uint8_t* dst, size_t stride) {
    const int left = at.left;
    const int top = at.top;
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
int deliveredPattern(const sercam::SerReader& reader, const camera::Settings& used,
                     camera::Placement at) {
    const int id = reader.colorId();
    if (id < TARVI_PATTERN_RGGB || id > TARVI_PATTERN_BGGR) return TARVI_PATTERN_MONO;
    const int first = camera::shiftedPattern(id, at.left, at.top);
    return used.flip ? camera::mirroredPattern(first, used.width) : first;
}

// Frame `index` into the exposure's buffer: read while the exposure runs, copied out when it
// has ended. A frame that cannot be read (the file shrank or went away) fails the exposure.
// 16-bit buffers get the samples as the file holds them, 8-bit ones their top 8 bits.
camera::FillResult fill(camera::Exposure& exposure, sercam::SerReader& reader, int index) {
    // The worker's, kept from frame to frame.
    thread_local std::vector<uint8_t> frame;
    thread_local std::vector<uint16_t> deep;
    const camera::Settings& used = exposure.used();
    const bool wide = used.depth == 16;
    std::string why;
    const bool ok =
        wide ? reader.readFrame(index, &deep, &why) : reader.readFrame(index, &frame, &why);
    exposure.waitForEnd();
    if (!ok) {
        auto lock = camera::lockCamera();
        fail(state(), why);
        return {false};
    }
    const camera::Placement at = camera::placeSubframe(used, reader.width(), reader.height());
    if (wide)
        copyOut(deep, reader.width(), at, used.width, used.height, used.flip, exposure.buffer(),
                exposure.stride());
    else
        copyOut(frame, reader.width(), at, used.width, used.height, used.flip, exposure.buffer(),
                exposure.stride());
    return {true, wide ? reader.depth() : 8, deliveredPattern(reader, used, at), at.left, at.top};
}

// Why `path` cannot be played when it is there and not a regular file (a FIFO or a device
// would block or never end); "" otherwise. stat does not open, so it cannot block.
std::string notAFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return "";
    return path + ": not a regular file";
}
}  // namespace

namespace camera {

void maxSubframe(int* width, int* height) {
    const PlaybackState& s = state();
    *width = s.reader ? s.reader->width() : 0;
    *height = s.reader ? s.reader->height() : 0;
}

FillFunction beginExposure(const Settings& /*settings*/) {
    PlaybackState& s = state();
    if (!s.reader) return {};
    const int index = s.next;
    s.next = (index + 1) % s.reader->frameCount();
    return
        [reader = s.reader, index](Exposure& exposure) { return fill(exposure, *reader, index); };
}

}  // namespace camera

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int CameraOption(const char* key, const char* value) try {
    auto lock = camera::lockCamera();
    PlaybackState& s = state();
    if (!key || !value || std::strcmp(key, "file") != 0) {
        fail(s, std::string("unknown option \"") + (key ? key : "") + "\"");
        return 0;
    }
    if (!*value) {
        fail(s, "the option file needs the path of a SER file");
        return 0;
    }
    const std::string why = notAFile(value);
    if (!why.empty()) {
        fail(s, why);
        return 0;
    }
    s.file = value;
    return 1;
} catch (const std::exception&) {
    return 0;
}

const char* CameraLastError(void) {
    // A copy per calling thread: the text stays as it was read while another thread (the
    // exposure worker, or a caller of CameraOption) sets the next error.
    static thread_local std::string copy;
    auto lock = camera::lockCamera();
    copy = state().lastError;
    return copy.c_str();
}

int openUSB(int /*reserved*/) try {
    auto lock = camera::lockCamera();
    PlaybackState& s = state();
    if (camera::exposureRunning()) {
        fail(s, "an exposure is running");
        return 0;
    }
    camera::Settings& settings = camera::current();
    s.reader.reset();
    s.name.clear();
    settings.width = settings.height = 0;
    if (s.file.empty()) {
        fail(s, "no SER file chosen (camera option file=PATH)");
        return 0;
    }
    auto reader = std::make_shared<sercam::SerReader>();
    std::string why;
    if (!reader->open(s.file, &why)) {
        fail(s, why);
        return 0;
    }
    s.reader = reader;
    s.name = "SER playback: " + s.file.substr(s.file.rfind('/') + 1);
    settings.width = reader->width();
    settings.height = reader->height();
    settings.flip = false;
    settings.left = settings.top = -1;
    // Deeper files can be played as they are, in 16-bit words.
    settings.maxBits = std::max(reader->depth(), 8);
    settings.depth = 8;
    s.next = 0;
    s.lastError.clear();
    return 1;
} catch (const std::exception&) {
    return 0;
}

int SubframeOrigin(int left, int top) {
    auto lock = camera::lockCamera();
    if (!state().reader) return 0;
    camera::current().left = left;
    camera::current().top = top;
    return 1;
}

const char* GetCameraInfo(int* width, int* height) {
    auto lock = camera::lockCamera();
    const PlaybackState& s = state();
    if (width) *width = s.reader ? s.reader->width() : 0;
    if (height) *height = s.reader ? s.reader->height() : 0;
    return s.name.c_str();  // changes only with openUSB
}

// Ends the exposure worker and closes the file: nothing of the library runs afterwards.
int CameraClose(void) {
    camera::stopWorker();
    auto lock = camera::lockCamera();
    PlaybackState& s = state();
    s.reader.reset();
    s.name.clear();
    camera::current().width = camera::current().height = 0;
    return 1;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
