#include "recording/AviRepair.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "serformat/FileIo.h"

namespace {
constexpr uint32_t tag(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

constexpr uint32_t kRiff = tag("RIFF"), kList = tag("LIST"), kAvi = tag("AVI "),
                   kAvix = tag("AVIX"), kHdrl = tag("hdrl"), kMovi = tag("movi"),
                   kAvih = tag("avih"), kStrl = tag("strl"), kStrh = tag("strh"),
                   kVids = tag("vids"), kIndx = tag("indx"), kJunk = tag("JUNK"),
                   kOdml = tag("odml"), kDmlh = tag("dmlh"), kIdx1 = tag("idx1");
constexpr uint32_t kPlaceholder = 0xFFFFFFFF;
constexpr uint32_t kHasIndex = 0x10;         // AVIF_HASINDEX in the main header's flags
constexpr uint32_t kKeyFrame = 0x10;         // AVIIF_KEYFRAME in an idx1 entry
constexpr uint32_t kNotKeyFrame = 1u << 31;  // in a standard index entry's size
constexpr uint8_t kIndexOfIndexes = 0, kIndexOfChunks = 1;

uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put64(std::vector<uint8_t>& b, uint64_t v) {
    put32(b, static_cast<uint32_t>(v));
    put32(b, static_cast<uint32_t>(v >> 32));
}

// Frame chunks of stream 0: "00dc" (compressed) and "00db" (uncompressed).
bool isFrame(uint32_t id) {
    return (id & 0xffff) == tag("00\0\0") &&
           ((id >> 16) == ('d' | 'c' << 8) || (id >> 16) == ('d' | 'b' << 8));
}
// Standard index chunks "ix00" to "ix99".
bool isLeafIndex(uint32_t id) {
    const auto c = [id](int i) { return static_cast<char>(id >> (8 * i)); };
    return c(0) == 'i' && c(1) == 'x' && c(2) >= '0' && c(2) <= '9' && c(3) >= '0' && c(3) <= '9';
}

// Reads through a small window, never past the file's size as measured at the start.
class Reader {
  public:
    Reader(int fd, int64_t size) : fd_(fd), size_(size), buf_(64 << 10) {}
    int64_t size() const { return size_; }
    bool read(int64_t at, void* out, size_t n) {
        if (at < 0 || n > buf_.size() || at > size_ || static_cast<int64_t>(n) > size_ - at)
            return false;
        if (at < bufAt_ || at + static_cast<int64_t>(n) > bufAt_ + bufLen_) {
            const size_t want = static_cast<size_t>(std::min<int64_t>(buf_.size(), size_ - at));
            const size_t got = readFullAt(fd_, buf_.data(), want, at);
            bufAt_ = at;
            bufLen_ = static_cast<int64_t>(got);
            if (got < n) return false;
        }
        std::memcpy(out, buf_.data() + (at - bufAt_), n);
        return true;
    }
    // A chunk header (id, size) at `at`.
    bool header(int64_t at, uint32_t& id, uint32_t& size) {
        uint8_t h[8];
        if (!read(at, h, 8)) return false;
        id = get32(h);
        size = get32(h + 4);
        return true;
    }

  private:
    int fd_;
    int64_t size_;
    std::vector<uint8_t> buf_;
    int64_t bufAt_ = 0, bufLen_ = 0;
};

// One frame chunk: its header's place relative to the "movi" code and its data size.
struct FrameChunk {
    uint32_t offset;
    uint32_t size;  // the top bit marks a "00db" chunk
};

struct Riff {
    int64_t at = 0;
    bool closed = false;  // its size field is set and lies within the file
    int64_t end = 0;      // end of its data as declared (closed) or the file's end
    int64_t movi = -1;    // the LIST movi header
    bool moviClosed = false;
    int64_t moviEnd = 0;   // end of the last whole chunk in movi, without padding
    bool moviCut = false;  // bytes after the last whole chunk belong to no chunk
    std::vector<FrameChunk> frames;
    int64_t leaf = -1;  // the last standard index chunk in movi
    uint32_t leafSize = 0, leafEntries = 0;
    bool idx1 = false;  // an idx1 follows movi
};

// Where the headers keep what the finishing writes.
struct Headers {
    int64_t avihFlags = -1, avihFrames = -1, strhLength = -1;
    int64_t superIndex = -1;  // chunk header of the super index ("indx", or "JUNK" holding one)
    uint32_t superIndexTag = 0, superIndexSize = 0, superIndexEntries = 0;
    int64_t odml = -1;  // header of LIST odml, or of the JUNK that holds its placeholder
    uint32_t odmlTag = 0;
    int64_t dmlhFrames = -1;
    int streams = 0;
    bool video = false;
};

class Finisher {
  public:
    Finisher(int fd, int64_t size, const std::string& path) : fd_(fd), in_(fd, size), path_(path) {}
    AviRepairResult run();

  private:
    bool fail(const std::string& why) {
        error_ = "\"" + path_ + "\" " + why;
        return false;
    }
    bool failIo(const char* what) {
        return fail(std::string("could not be finished: ") + what + ": " + std::strerror(errno));
    }
    bool scan();
    bool scanHeaderList(int64_t at, int64_t end);
    bool scanStreamList(int64_t at, int64_t end);
    bool scanMovi(Riff& riff, int64_t dataEnd);
    bool write(int64_t at, const std::vector<uint8_t>& bytes);
    bool write32(int64_t at, uint32_t v);
    bool finish();

    int fd_;
    Reader in_;
    std::string path_;
    std::string error_;
    Headers h_;
    std::vector<Riff> riffs_;
    bool changed_ = false;
    int64_t frames_ = 0;
};

AviRepairResult Finisher::run() {
    AviRepairResult result;
    result.ok = scan() && finish();
    result.changed = changed_;
    result.frames = result.ok ? frames_ : 0;
    result.error = error_;
    return result;
}

bool Finisher::scan() {
    const int64_t fileSize = in_.size();
    if (fileSize == 0) return fail("is empty: nothing of it reached the disk");
    int64_t at = 0;
    while (at < fileSize) {
        uint32_t id = 0, size = 0, form = 0;
        uint8_t f[4];
        if (!in_.header(at, id, size) || !in_.read(at + 8, f, 4)) {
            if (at == 0) return fail("is not an AVI file: it is too short");
            break;  // an extension's header cut off
        }
        form = get32(f);
        if (id != kRiff || form != (at == 0 ? kAvi : kAvix)) {
            if (at == 0) return fail("is not an AVI file");
            return fail("holds unknown data after its RIFF lists, at byte " + std::to_string(at));
        }
        Riff riff;
        riff.at = at;
        riff.closed = size != kPlaceholder && size >= 4 && at + 8 + int64_t{size} <= fileSize;
        riff.end = riff.closed ? at + 8 + int64_t{size} : fileSize;
        // Its lists and chunks.
        int64_t p = at + 12;
        while (riff.end - p >= 8) {
            uint32_t cid = 0, csize = 0;
            in_.header(p, cid, csize);
            const int64_t cend = p + 8 + int64_t{csize} + (csize & 1);
            uint32_t list = 0;
            if (cid == kList && csize >= 4 && in_.read(p + 8, f, 4)) list = get32(f);
            if (list == kMovi) {
                if (riff.movi >= 0) return fail("has two movi lists in one RIFF list");
                riff.movi = p;
                riff.moviClosed = csize != kPlaceholder && p + 8 + int64_t{csize} <= riff.end;
                if (!scanMovi(riff, riff.moviClosed ? p + 8 + int64_t{csize} : riff.end))
                    return false;
                if (!riff.moviClosed || riff.moviCut) break;
                p = p + 8 + int64_t{csize};
                continue;
            }
            if (cend > riff.end) {
                if (riff.movi < 0) return fail("is cut off inside its headers");
                break;  // after movi: a cut-off index, rebuilt
            }
            if (at == 0 && list == kHdrl) {
                if (h_.avihFrames >= 0) return fail("has two header lists");
                if (!scanHeaderList(p + 12, p + 8 + int64_t{csize})) return false;
            } else if (cid == kIdx1 && riff.movi >= 0) {
                riff.idx1 = true;
            }
            p = cend;
        }
        if (riff.movi < 0) return fail("has no movi list at byte " + std::to_string(at));
        if (at == 0 && h_.avihFrames < 0) return fail("has no main header");
        riffs_.push_back(std::move(riff));
        const Riff& r = riffs_.back();
        if (!r.closed || !r.moviClosed || r.moviCut) {
            // Only the last list can be unfinished: cutting one in the middle would cut off
            // the lists after it.
            if (r.closed && r.end < fileSize)
                return fail("has an unfinished RIFF list at byte " + std::to_string(at) +
                            " before others");
            break;
        }
        at = r.end + (r.end & 1);
    }
    if (h_.streams != 1 || !h_.video || h_.strhLength < 0)
        return fail("is not a recording of one video stream");
    for (size_t i = 0; i + 1 < riffs_.size(); ++i)
        if (riffs_[i].leaf < 0)
            return fail("has no standard index in RIFF list " + std::to_string(i + 1));
    return true;
}

bool Finisher::scanHeaderList(int64_t p, int64_t end) {
    while (end - p >= 8) {
        uint32_t id = 0, size = 0;
        in_.header(p, id, size);
        const int64_t cend = p + 8 + int64_t{size} + (size & 1);
        if (p + 8 + int64_t{size} > end) return fail("has a header chunk larger than its list");
        uint8_t d[8] = {};
        const bool has8 = size >= 8 && in_.read(p + 8, d, 8);
        if (id == kAvih && size >= 20) {
            h_.avihFlags = p + 8 + 12;
            h_.avihFrames = p + 8 + 16;
        } else if (id == kList && has8 && get32(d) == kStrl) {
            ++h_.streams;
            if (!scanStreamList(p + 12, p + 8 + int64_t{size})) return false;
        } else if ((id == kList && has8 && get32(d) == kOdml) ||
                   (id == kJunk && has8 && get32(d) == kOdml && get32(d + 4) == kDmlh)) {
            uint32_t did = 0, dsize = 0;
            if (size >= 16 && in_.header(p + 12, did, dsize) && did == kDmlh && dsize >= 4 &&
                12 + 8 + int64_t{dsize} <= 8 + int64_t{size}) {
                h_.odml = p;
                h_.odmlTag = id;
                h_.dmlhFrames = p + 20;
            }
        }
        p = cend;
    }
    return true;
}

bool Finisher::scanStreamList(int64_t p, int64_t end) {
    while (end - p >= 8) {
        uint32_t id = 0, size = 0;
        in_.header(p, id, size);
        if (p + 8 + int64_t{size} > end) return fail("has a stream header larger than its list");
        uint8_t d[12] = {};
        if (id == kStrh && size >= 36 && in_.read(p + 8, d, 4)) {
            h_.video = get32(d) == kVids;
            h_.strhLength = p + 8 + 32;
        } else if ((id == kIndx || id == kJunk) && size >= 24 && in_.read(p + 8, d, 8) &&
                   d[0] == 4 && d[1] == 0 && d[3] == kIndexOfIndexes && h_.superIndex < 0) {
            h_.superIndex = p;
            h_.superIndexTag = id;
            h_.superIndexSize = size;
            h_.superIndexEntries = get32(d + 4);
        }
        p += 8 + int64_t{size} + (size & 1);
    }
    return true;
}

// Walks the chunks of a movi list up to `dataEnd`. An open list ends at its last whole
// chunk: a chunk running past the file, bytes that are no chunk (zeros a power cut left, or
// an index an interrupted finishing appended) end it there.
bool Finisher::scanMovi(Riff& riff, int64_t dataEnd) {
    const int64_t base = riff.movi + 8;  // the "movi" code, where idx1 offsets count from
    int64_t p = riff.movi + 12;
    riff.moviEnd = p;
    while (dataEnd - p >= 8) {
        uint32_t id = 0, size = 0;
        in_.header(p, id, size);
        const int64_t dend = p + 8 + int64_t{size};
        const bool known = isFrame(id) || isLeafIndex(id) || id == kJunk ||
                           (id == tag("00pc"));  // a palette change
        if (!known || dend > dataEnd || (isFrame(id) && size >= kNotKeyFrame)) {
            if (riff.moviClosed) {
                if (dend <= dataEnd && !isFrame(id)) {  // another writer's chunk: kept
                    p = dend + (size & 1);
                    riff.moviEnd = dend;
                    continue;
                }
                return fail("has a damaged chunk at byte " + std::to_string(p));
            }
            break;
        }
        if (p - base > 0xFFFFFFFFLL) return fail("has a movi list beyond 4 GiB");
        if (isFrame(id)) {
            const bool raw = (id >> 24) == 'b';
            riff.frames.push_back(
                {static_cast<uint32_t>(p - base), size | (raw ? kNotKeyFrame : 0)});
        } else if (isLeafIndex(id) && size >= 24) {
            uint8_t e[4];
            if (in_.read(p + 12, e, 4)) {
                riff.leaf = p;
                riff.leafSize = size;
                riff.leafEntries = get32(e);
            }
        }
        riff.moviEnd = dend;
        p = dend + (size & 1);
    }
    riff.moviCut = !riff.moviClosed || p != dataEnd;
    if (riff.moviClosed && riff.moviCut) return fail("has a movi list that ends inside a chunk");
    return true;
}

bool Finisher::write(int64_t at, const std::vector<uint8_t>& bytes) {
    return writeAllAt(fd_, bytes.data(), bytes.size(), at) || failIo("write");
}

bool Finisher::write32(int64_t at, uint32_t v) {
    std::vector<uint8_t> b;
    put32(b, v);
    return write(at, b);
}

bool Finisher::finish() {
    // A last extension that holds no frame yet is dropped whole.
    if (riffs_.size() > 1 && riffs_.back().frames.empty() && !riffs_.back().closed)
        riffs_.pop_back();
    Riff& last = riffs_.back();
    const bool single = riffs_.size() == 1;
    // The muxer closed the last list and wrote its index: what may follow is a cut-off header
    // of the next extension, dropped; the counts are then those a crash left.
    const bool closed =
        last.closed && last.moviClosed && !last.moviCut && (single ? last.idx1 : last.leaf >= 0);
    for (const Riff& r : riffs_) frames_ += static_cast<int64_t>(r.frames.size());
    if (closed && last.end == in_.size()) return true;  // finished already: left as it is

    // What goes after the last whole chunk: the pad byte, then the index.
    const int64_t cut = closed ? last.end : last.moviEnd + (last.moviEnd & 1);
    const int64_t base = last.movi + 8;
    std::vector<uint8_t> tail;
    if (closed) {
    } else if (single) {
        put32(tail, kIdx1);
        put32(tail, static_cast<uint32_t>(16 * last.frames.size()));
        for (const FrameChunk& f : last.frames) {
            const uint32_t size = f.size & ~kNotKeyFrame;
            put32(tail, (f.size & kNotKeyFrame) ? tag("00db") : tag("00dc"));
            put32(tail, size > 0 ? kKeyFrame : 0);
            put32(tail, f.offset);
            put32(tail, size);
        }
    } else {
        const bool raw = !last.frames.empty() && (last.frames[0].size & kNotKeyFrame);
        put32(tail, tag("ix00"));
        put32(tail, static_cast<uint32_t>(24 + 8 * last.frames.size()));
        put16(tail, 2);  // longs per entry
        tail.push_back(0);
        tail.push_back(kIndexOfChunks);
        put32(tail, static_cast<uint32_t>(last.frames.size()));
        put32(tail, raw ? tag("00db") : tag("00dc"));
        put64(tail, static_cast<uint64_t>(base));
        put32(tail, 0);
        for (const FrameChunk& f : last.frames) {
            const uint32_t size = f.size & ~kNotKeyFrame;
            put32(tail, f.offset + 8);  // the data, after the chunk header
            put32(tail, size > 0 ? size : size | kNotKeyFrame);
        }
        last.leaf = cut;
        last.leafSize = static_cast<uint32_t>(tail.size() - 8);
        last.leafEntries = static_cast<uint32_t>(last.frames.size());
    }
    const int64_t moviEnd = single ? cut : cut + static_cast<int64_t>(tail.size());
    const int64_t end = cut + static_cast<int64_t>(tail.size());
    if (end - last.at - 8 > 0xFFFFFFFFLL)
        return fail("cannot be finished: its last RIFF list would grow beyond 4 GiB");

    // The super index: left neutral for one RIFF list (readers take idx1), else one entry
    // for each list's standard index.
    std::vector<uint8_t> super;
    if (!single) {
        if (h_.superIndex < 0 || h_.odml < 0)
            return fail(
                "cannot be finished: it has RIFF AVIX extensions but no room for their "
                "super index or extended header");
        if (24 + 16 * riffs_.size() > h_.superIndexSize)
            return fail("cannot be finished: its super index has no room for " +
                        std::to_string(riffs_.size()) + " entries");
        for (size_t i = 0; i < riffs_.size(); ++i)
            if (riffs_[i].leafEntries != riffs_[i].frames.size())
                return fail("cannot be finished: the standard index of RIFF list " +
                            std::to_string(i + 1) + " does not match its frames");
        const bool raw = !last.frames.empty() && (last.frames[0].size & kNotKeyFrame);
        put32(super, kIndx);
        put32(super, h_.superIndexSize);
        put16(super, 4);  // longs per entry
        super.push_back(0);
        super.push_back(kIndexOfIndexes);
        put32(super, static_cast<uint32_t>(riffs_.size()));
        put32(super, raw ? tag("00db") : tag("00dc"));
        for (int i = 0; i < 3; ++i) put32(super, 0);
        for (const Riff& r : riffs_) {
            put64(super, static_cast<uint64_t>(r.leaf));
            put32(super, 8 + r.leafSize);
            put32(super, r.leafEntries);
        }
    }

    // The frames stay where they are; what follows them is replaced, then the headers are
    // brought up to date, then it all goes to disk.
    changed_ = true;
    if (::ftruncate(fd_, cut) != 0) return failIo("truncate");
    if (!closed) {
        if (!write(cut, tail) || !write32(last.at + 4, static_cast<uint32_t>(end - last.at - 8)) ||
            !write32(last.movi + 4, static_cast<uint32_t>(moviEnd - last.movi - 8)))
            return false;
    }
    uint8_t flags[4];
    if (!in_.read(h_.avihFlags, flags, 4) || !write32(h_.avihFlags, get32(flags) | kHasIndex) ||
        !write32(h_.avihFrames, static_cast<uint32_t>(riffs_[0].frames.size())) ||
        !write32(h_.strhLength, static_cast<uint32_t>(frames_)))
        return false;
    if (single) {
        // An extended header left live (by another writer) is kept true; a super index is
        // made JUNK, so that readers take idx1 and not an empty or stale super index.
        if (h_.odml >= 0 && h_.odmlTag == kList &&
            !write32(h_.dmlhFrames, static_cast<uint32_t>(frames_)))
            return false;
        if (h_.superIndex >= 0 && h_.superIndexTag == kIndx && !write32(h_.superIndex, kJunk))
            return false;
    } else {
        if (!write(h_.superIndex, super) || !write32(h_.odml, kList) ||
            !write32(h_.dmlhFrames, static_cast<uint32_t>(frames_)))
            return false;
    }
    if (::fsync(fd_) != 0) return failIo("sync");
    return true;
}

}  // namespace

AviRepairResult finishCutAvi(int fd, const std::string& pathForMessages) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        AviRepairResult r;
        r.error = "\"" + pathForMessages + "\" cannot be examined: " + std::strerror(errno);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        AviRepairResult r;
        r.error = "\"" + pathForMessages + "\" is not a regular file";
        return r;
    }
    return Finisher(fd, st.st_size, pathForMessages).run();
}

namespace {
const char kTokenMark[] = "TarviVideo5X recording ";
constexpr size_t kTokenMarkBytes = sizeof kTokenMark - 1;
constexpr int64_t kHeaderWindow = 64 << 10;

// The data offset and size of the first top-level JUNK chunk before LIST movi, within the
// first 64 KiB of a RIFF AVI file; -1 when there is none.
int64_t tokenChunk(int fd, uint32_t& size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    Reader in(fd, std::min<int64_t>(st.st_size, kHeaderWindow));
    uint32_t id = 0, riffSize = 0, form = 0;
    uint8_t f[4];
    if (!in.header(0, id, riffSize) || id != kRiff || !in.read(8, f, 4)) return -1;
    form = get32(f);
    if (form != kAvi) return -1;
    for (int64_t at = 12; at + 8 <= in.size();) {
        uint32_t chunk = 0, n = 0;
        if (!in.header(at, chunk, n)) return -1;
        if (chunk == kList) {
            if (!in.read(at + 8, f, 4) || get32(f) == kMovi) return -1;
        } else if (chunk == kJunk) {
            size = n;
            return at + 8 + static_cast<int64_t>(n) <= in.size() ? at + 8 : -1;
        }
        at += 8 + static_cast<int64_t>(n) + (n & 1);
    }
    return -1;
}
}  // namespace

bool writeAviToken(int fd, const std::string& token) {
    uint32_t size = 0;
    const int64_t at = tokenChunk(fd, size);
    const std::string text = kTokenMark + token;
    if (at < 0 || text.size() > size) return false;
    return writeAllAt(fd, text.data(), text.size(), at) && ::fdatasync(fd) == 0;
}

std::string readAviToken(int fd) {
    uint32_t size = 0;
    const int64_t at = tokenChunk(fd, size);
    if (at < 0 || size <= kTokenMarkBytes) return std::string();
    std::string text(std::min<uint32_t>(size, 256), '\0');
    if (!readAllAt(fd, text.data(), text.size(), at) ||
        text.compare(0, kTokenMarkBytes, kTokenMark) != 0)
        return std::string();
    text.erase(0, kTokenMarkBytes);
    const size_t end = text.find('\0');
    return end == std::string::npos ? text : text.substr(0, end);
}
