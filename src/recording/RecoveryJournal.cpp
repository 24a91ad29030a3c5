#include "recording/RecoveryJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "platform/InstanceLock.h"
#include "recording/AviRepair.h"
#include "recording/FileNames.h"
#include "recording/Log.h"
#include "recording/OutFile.h"
#include "recording/SessionRecord.h"
#include "serformat/FileIo.h"
#include "serformat/SerFormat.h"

namespace {
const char kNoteSuffix[] = ".note";
const char kNewSuffix[] = ".new";  // a note being written
// A note is a few hundred bytes; anything much larger is not one of ours.
constexpr off_t kMaxNoteBytes = 64 * 1024;
constexpr size_t kCopyPiece = 64 * 1024;
// Stamps more than this far outside the recording's time are not its stamps.
constexpr int64_t kStampSlackTicks = 864000000000LL;  // a day
constexpr int64_t kTicksTo1970 = 621355968000000000LL;

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool makeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The creation time of an open file in nanoseconds since 1970; 0 where the file system
// keeps none.
int64_t bornNs(int fd) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) != 0 || !(sx.stx_mask & STATX_BTIME))
        return 0;
    return static_cast<int64_t>(sx.stx_btime.tv_sec) * 1000000000LL + sx.stx_btime.tv_nsec;
}

// Device, inode and creation time of the existing regular file `path` (never a link).
bool identify(const std::string& path, uint64_t& device, uint64_t& inode, int64_t& born) {
    struct stat st {};
    Fd fd(openRegularFile(path, O_RDONLY, &st));
    if (fd.fd < 0) return false;
    device = static_cast<uint64_t>(st.st_dev);
    inode = static_cast<uint64_t>(st.st_ino);
    born = bornNs(fd.fd);
    return true;
}

// The open file is the one noted: same device and inode, and the same creation time where
// both the note and the file system have one (an inode number is reused once a file is gone).
bool sameFile(int fd, const struct stat& st, uint64_t device, uint64_t inode, int64_t born) {
    if (static_cast<uint64_t>(st.st_dev) != device || static_cast<uint64_t>(st.st_ino) != inode)
        return false;
    const int64_t now = bornNs(fd);
    return born == 0 || now == 0 || now == born;
}

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string encode(const JournalEntry& e) {
    std::ostringstream out;
    out << "format=" << e.format << "\npath=" << escape(e.path) << "\nside=" << escape(e.sidePath)
        << "\ndevice=" << e.device << "\ninode=" << e.inode << "\nwidth=" << e.width
        << "\nheight=" << e.height << "\ndepth=" << e.depth << "\ncolor=" << e.colorId
        << "\nsidedevice=" << e.sideDevice << "\nsideinode=" << e.sideInode << "\nborn=" << e.bornNs
        << "\nsideborn=" << e.sideBornNs << "\ntoken=" << escape(e.token) << "\nend=1\n";
    return out.str();
}

// A note's text; `complete` tells whether it was written to its end.
JournalEntry decode(const std::string& text, bool* complete = nullptr) {
    JournalEntry e;
    if (complete) *complete = false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        auto number = [&value]() { return std::strtoull(value.c_str(), nullptr, 10); };
        auto small = [&value]() {
            return static_cast<int32_t>(
                std::clamp<long long>(std::atoll(value.c_str()), -1, 1 << 30));
        };
        if (key == "format")
            e.format = value;
        else if (key == "path")
            e.path = unescape(value);
        else if (key == "side")
            e.sidePath = unescape(value);
        else if (key == "device")
            e.device = number();
        else if (key == "inode")
            e.inode = number();
        else if (key == "width")
            e.width = small();
        else if (key == "height")
            e.height = small();
        else if (key == "depth")
            e.depth = small();
        else if (key == "color")
            e.colorId = small();
        else if (key == "sidedevice")
            e.sideDevice = number();
        else if (key == "sideinode")
            e.sideInode = number();
        else if (key == "born")
            e.bornNs = std::atoll(value.c_str());
        else if (key == "sideborn")
            e.sideBornNs = std::atoll(value.c_str());
        else if (key == "token")
            e.token = unescape(value);
        else if (key == "end" && complete)
            *complete = true;
    }
    return e;
}

RecoveryOutcome makeOutcome(const std::string& path, std::string text, bool finished = false) {
    return RecoveryOutcome{path, std::move(text), finished, false};
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether the disk of a noted file is absent (unplugged, not mounted) rather than the file
// deleted: the nearest folder of the path that exists lies on another device than the
// file did, or the file's own folder is gone and so is every folder up to another device.
// A folder removed on the file's own disk means the file is gone.
bool diskAbsent(const JournalEntry& entry) {
    std::string folder = folderOfPath(entry.path);
    for (;;) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) == 0)
            return static_cast<uint64_t>(st.st_dev) != entry.device;
        if (errno != ENOENT && errno != ENOTDIR) return true;
        if (folder == "/" || folder == ".") return true;
        folder = folderOfPath(folder);
    }
}

// The recording file of a note, opened for writing when it is still the file the note
// describes; otherwise -1 and the outcome says why it is left alone.
int openNotedFile(const JournalEntry& entry, RecoveryOutcome& outcome, bool& keepNote) {
    struct stat st {};
    const int fd = openRegularFile(entry.path, O_RDWR, &st);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT && diskAbsent(entry)) {
            outcome = makeOutcome(entry.path, "Waiting for " + folderOfPath(entry.path) +
                                                  " to finish " + baseName(entry.path));
            outcome.waiting = true;
            keepNote = true;
        } else if (err == ENOENT) {
            outcome = makeOutcome(entry.path,
                                  "The interrupted recording " + quoted(entry.path) + " is gone");
        } else if (err == ELOOP || err == EINVAL) {
            outcome = makeOutcome(entry.path, "Left " + quoted(entry.path) +
                                                  " alone: it is no longer the recording's file");
        } else {
            outcome = makeOutcome(entry.path, "Cannot finish the interrupted recording " +
                                                  quoted(entry.path) + ": " + std::strerror(err));
            keepNote = err == EIO || err == EACCES || err == EROFS || err == EBUSY;
        }
        return -1;
    }
    if (!sameFile(fd, st, entry.device, entry.inode, entry.bornNs)) {
        ::close(fd);
        outcome = makeOutcome(entry.path, "Left " + quoted(entry.path) +
                                              " alone: it is no longer the recording's file");
        return -1;
    }
    return fd;
}

// Deletes `path` when it still leads to the noted file (a regular file, same identity).
void removeIfSame(const std::string& path, uint64_t device, uint64_t inode, int64_t born) {
    struct stat st {};
    Fd fd(openRegularFile(path, O_RDONLY, &st));
    if (fd.fd >= 0 && sameFile(fd.fd, st, device, inode, born)) ::unlink(path.c_str());
}

// A recording killed before its first frame (nothing recorded into it), proven the program's
// own: it and its side file go.
RecoveryOutcome removeEmptyRecording(const JournalEntry& entry, Fd& file) {
    ::close(file.fd);
    file.fd = -1;
    removeIfSame(entry.path, entry.device, entry.inode, entry.bornNs);
    if (!entry.sidePath.empty())
        removeIfSame(entry.sidePath, entry.sideDevice, entry.sideInode, entry.sideBornNs);
    return makeOutcome(entry.path, "Removed the empty recording " + quoted(entry.path) +
                                       " (stopped before its first frame)");
}

// A finished recording that was written under a provisional observation name
// ("...-unfinished.ser", "...-unfinished-PART1.AVI") gets the name without that word, never
// over a file of that name. Returns where the file lies now.
std::string dropUnfinishedWord(const std::string& path) {
    const std::string word = "-unfinished";
    const size_t slash = path.find_last_of('/');
    const size_t at = path.rfind(word);
    if (at == std::string::npos || (slash != std::string::npos && at < slash)) return path;
    const std::string rest = path.substr(at + word.size());
    if (rest.empty() || (rest[0] != '.' && rest.compare(0, 5, "-PART") != 0)) return path;
    const std::string renamed = path.substr(0, at) + rest;
    if (fileExists(renamed + kSerStampsSuffix) || !renameNoReplace(path, renamed)) return path;
    return renamed;
}

std::string finishedText(const std::string& noted, const std::string& now, int64_t frames) {
    std::string text = "Finished the interrupted recording " + quoted(noted) + " (" +
                       std::to_string(frames) + " frames)";
    if (now != noted) text += ", now " + quoted(now);
    return text;
}

// Reads the side file's stamps of `frames` frames in pieces and checks that they are the
// recording's: never decreasing, none long before its start or long after the side file was
// last written. `startUtc` is the header's UTC start in ticks.
bool stampsPlausible(int fd, uint64_t frames, int64_t startUtc, const struct stat& sideStat) {
    const int64_t lastUtc = kTicksTo1970 +
                            static_cast<int64_t>(sideStat.st_mtim.tv_sec) * 10000000 +
                            sideStat.st_mtim.tv_nsec / 100;
    std::vector<uint8_t> piece(kCopyPiece);
    int64_t previous = startUtc - kStampSlackTicks;
    for (uint64_t at = 0, left = frames * ser::kStampSize; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
        if (!readAllAt(fd, piece.data(), n, static_cast<off_t>(at))) return false;
        for (size_t i = 0; i < n; i += ser::kStampSize) {
            int64_t stamp = 0;
            std::memcpy(&stamp, piece.data() + i, sizeof stamp);  // little-endian, as written
            if (stamp < previous || stamp > lastUtc + kStampSlackTicks) return false;
            previous = stamp;
        }
        at += n;
        left -= n;
    }
    return true;
}
}  // namespace

std::string serHeaderToken(const ser::Header& header) {
    return std::to_string(header.dateTime) + "/" + std::to_string(header.dateTimeUtc);
}

std::string newRecordingToken() {
    uint8_t bytes[16] = {};
    ssize_t got = -1;
    do got = ::getrandom(bytes, sizeof bytes, 0);
    while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof bytes)) {
        // No kernel randomness: time and process make a token that is still this run's own.
        const uint64_t mix[2] = {
            static_cast<uint64_t>(::time(nullptr)) * 1000003u ^ static_cast<uint64_t>(::getpid()),
            reinterpret_cast<uintptr_t>(&mix) ^ static_cast<uint64_t>(::clock())};
        std::memcpy(bytes, mix, sizeof bytes);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (uint8_t b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

RecoveryJournal::RecoveryJournal(std::string folder) : folder_(std::move(folder)) {}

RecoveryJournal::~RecoveryJournal() {
    for (const auto& [key, fd] : held_) ::close(fd);
}

bool RecoveryJournal::isWritable(std::string* why) const {
    if (makeFolders(folder_) && ::access(folder_.c_str(), W_OK | X_OK) == 0) return true;
    if (why) *why = "Cannot write to the folder " + quoted(folder_) + ": " + std::strerror(errno);
    return false;
}

std::string RecoveryJournal::add(JournalEntry entry, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return std::string();
    };
    if (!identify(entry.path, entry.device, entry.inode, entry.bornNs))
        return fail("Cannot read " + quoted(entry.path));
    // A side file that is not there (yet) is noted as none: no file found under its name
    // later is taken for it.
    if (!entry.sidePath.empty() &&
        !identify(entry.sidePath, entry.sideDevice, entry.sideInode, entry.sideBornNs)) {
        if (errno != ENOENT) return fail("Cannot read " + quoted(entry.sidePath));
        entry.sideDevice = entry.sideInode = 0;
        entry.sideBornNs = 0;
    }
    if (!makeFolders(folder_)) return fail("Cannot create the folder " + quoted(folder_));

    static std::atomic<unsigned> counter{0};
    const std::string key = std::to_string(::time(nullptr)) + "-" + std::to_string(::getpid()) +
                            "-" + std::to_string(counter++) + kNoteSuffix;
    const std::string path = folder_ + "/" + key, temp = path + kNewSuffix;
    const std::string text = encode(entry);
    int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return fail("Cannot create " + quoted(temp));
    // Locked before it has its name, so that no other copy of the program finds it unlocked
    // while this recording runs.
    int locked;
    do locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    // The note is on the disk before the recording's first frame can be.
    if (locked != 0 || !writeAllAt(fd, text.data(), text.size(), 0) || ::fsync(fd) != 0) {
        const std::string reason = fail("Cannot write " + quoted(temp));
        ::unlink(temp.c_str());
        ::close(fd);
        return reason;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string reason = fail("Cannot write " + quoted(path));
        ::unlink(temp.c_str());
        ::close(fd);
        return reason;
    }
    Fd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0) ::fsync(dir.fd);
    std::lock_guard<std::mutex> lock(mutex_);
    held_[key] = fd;
    return key;
}

void RecoveryJournal::remove(const std::string& key) {
    if (key.empty() || key.find('/') != std::string::npos) return;
    ::unlink((folder_ + "/" + key).c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = held_.find(key);
    if (it != held_.end()) {
        ::close(it->second);
        held_.erase(it);
    }
}

namespace {
// The names in the journal folder that may be notes: regular files named "*.note", and
// "*.note.new" (a note a crash caught before it got its name), oldest first.
std::vector<std::string> noteNames(const std::string& folder) {
    std::vector<std::string> keys;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (!endsWith(name, kNoteSuffix) &&
                !endsWith(name, std::string(kNoteSuffix) + kNewSuffix))
                continue;
            struct stat st {};
            if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode))
                keys.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// A note opened and read. With `lock`, its lock is taken first; a note locked by a running
// recording gives `busy`.
struct OpenedNote {
    int fd = -1;
    bool busy = false;
    bool complete = false;
    JournalEntry entry;
};

OpenedNote openNote(const std::string& path, bool lock) {
    OpenedNote note;
    struct stat st {};
    note.fd = openRegularFile(path, O_RDONLY, &st);
    if (note.fd < 0) return note;
    if (lock) {
        int locked;
        do locked = ::flock(note.fd, LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            note.busy = true;
            return note;
        }
    }
    if (st.st_size > 0 && st.st_size <= kMaxNoteBytes) {
        std::string text(static_cast<size_t>(st.st_size), '\0');
        if (readAllAt(note.fd, text.data(), text.size(), 0))
            note.entry = decode(text, &note.complete);
    }
    return note;
}
}  // namespace

std::vector<std::pair<std::string, JournalEntry>> RecoveryJournal::pending() const {
    std::vector<std::pair<std::string, JournalEntry>> notes;
    for (const std::string& key : noteNames(folder_)) {
        OpenedNote note = openNote(folder_ + "/" + key, false);
        if (note.fd >= 0) ::close(note.fd);
        // A note cut short while it was written names nothing yet.
        if (endsWith(key, kNewSuffix) && !note.complete) continue;
        notes.emplace_back(key, std::move(note.entry));
    }
    return notes;
}

std::string absoluteFilePath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string result = real;
    std::free(real);
    return result;
}

std::string defaultJournalFolder() {
    return programStateFolder() + "/recordings";
}

RecoveryOutcome finishInterruptedSer(const JournalEntry& entry, bool* keepNote) {
    RecoveryOutcome outcome;
    bool keep = false;
    Fd ser(openNotedFile(entry, outcome, keep));
    if (keepNote) *keepNote = keep;
    if (ser.fd < 0) return outcome;
    const std::string& path = entry.path;
    auto leave = [&](const std::string& why) {
        return makeOutcome(path,
                           "Left the interrupted recording " + quoted(path) + " as it is: " + why);
    };

    struct stat st {};
    uint8_t bytes[ser::kHeaderSize];
    ser::Header header;
    if (::fstat(ser.fd, &st) != 0) return leave("it cannot be read");
    const bool headerRead = readAllAt(ser.fd, bytes, sizeof bytes, 0);
    if (!headerRead && st.st_size == 0 && !entry.token.empty()) {
        // Created and killed before its header: nothing was recorded into it.
        return removeEmptyRecording(entry, ser);
    }
    if (!headerRead || !ser::decodeHeader(bytes, &header))
        return leave("its header is not the one the program wrote");
    // The writer labels a mono-noted file with its frames' Bayer pattern at the first frame;
    // any other change of the colour (and with it the bytes of a frame) is not its own.
    const bool labelled = entry.colorId == ser::KMono && header.colorId >= ser::KBayerRggb &&
                          header.colorId <= ser::KBayerBggr;
    if (header.width != entry.width || header.height != entry.height ||
        header.depth != entry.depth || (header.colorId != entry.colorId && !labelled) ||
        !ser::geometryProblem(header).empty())
        return leave("its header is not the one the program wrote");
    if (entry.token.empty() || entry.token != serHeaderToken(header))
        return leave("its header does not carry the start time its note records");
    const uint64_t frameBytes = ser::frameBytes(header);
    const uint64_t inFile = ser::framesInFile(header, static_cast<uint64_t>(st.st_size));
    const uint64_t claimed = static_cast<uint64_t>(std::max<int32_t>(header.frameCount, 0));
    if (inFile < claimed) return leave("it holds fewer frames than its header counts");

    struct stat sideStat {};
    Fd side(entry.sidePath.empty() ? -1 : openRegularFile(entry.sidePath, O_RDONLY, &sideStat));
    if (side.fd >= 0 &&
        !sameFile(side.fd, sideStat, entry.sideDevice, entry.sideInode, entry.sideBornNs))
        return leave(quoted(entry.sidePath) + " is not the side file the program wrote");
    if (side.fd < 0)
        return leave("its time stamps are missing; the header counts " + std::to_string(claimed) +
                     " frames");
    // Every frame whose pixels and stamp were both written: the stamp follows its frame.
    // The stamps are read bounded by the frames the file really holds.
    const uint64_t stamps = static_cast<uint64_t>(sideStat.st_size) / ser::kStampSize;
    const uint64_t frames = std::min<uint64_t>({inFile, stamps, static_cast<uint64_t>(INT32_MAX)});
    if (frames < claimed) return leave("it has fewer time stamps than its header counts frames");
    if (!stampsPlausible(side.fd, frames, header.dateTimeUtc, sideStat))
        return leave(quoted(entry.sidePath) + " does not hold the recording's time stamps");
    if (frames == 0 && inFile > 0) return leave("it has no time stamps for its frames");
    if (frames == 0) {
        // Killed before its first frame: only the header was ever written.
        return removeEmptyRecording(entry, ser);
    }

    const off_t dataEnd = static_cast<off_t>(ser::kHeaderSize + frameBytes * frames);
    std::vector<uint8_t> piece(kCopyPiece);
    bool ok = ::ftruncate(ser.fd, dataEnd) == 0;
    for (uint64_t at = 0, left = frames * ser::kStampSize; ok && left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
        ok = readAllAt(side.fd, piece.data(), n, static_cast<off_t>(at)) &&
             writeAllAt(ser.fd, piece.data(), n, dataEnd + static_cast<off_t>(at));
        at += n;
        left -= n;
    }
    uint8_t count[4];
    ser::put32(count, static_cast<int32_t>(frames));
    ok = ok && writeAllAt(ser.fd, count, sizeof count, ser::kFrameCountOffset) &&
         ::fsync(ser.fd) == 0;
    if (!ok)
        return makeOutcome(path, "Cannot finish the interrupted recording " + quoted(path) + ": " +
                                     std::strerror(errno ? errno : EIO));
    // The side file goes once the recording is complete on the disk, and only while its name
    // still leads to the side file the program created.
    uint8_t first[ser::kStampSize], last[ser::kStampSize];
    const bool stamped =
        readAllAt(side.fd, first, sizeof first, 0) &&
        readAllAt(side.fd, last, sizeof last, static_cast<off_t>((frames - 1) * ser::kStampSize));
    removeIfSame(entry.sidePath, entry.sideDevice, entry.sideInode, entry.sideBornNs);
    const std::string now = dropUnfinishedWord(path);
    outcome = makeOutcome(now, finishedText(path, now, static_cast<int64_t>(frames)), true);
    outcome.frames = static_cast<int64_t>(frames);
    if (stamped) {
        outcome.firstStampUtc = ser::get64(first);
        outcome.lastStampUtc = ser::get64(last);
    }
    return outcome;
}

namespace {
RecoveryOutcome finishInterruptedAvi(const JournalEntry& entry, bool& keepNote) {
    RecoveryOutcome outcome;
    Fd avi(openNotedFile(entry, outcome, keepNote));
    if (avi.fd < 0) return outcome;
    const std::string& path = entry.path;
    auto leave = [&](const std::string& why) {
        return makeOutcome(path,
                           "Left the interrupted recording " + quoted(path) + " as it is: " + why);
    };
    if (entry.token.empty()) return leave("its note carries no token of the recording");
    // The token is written once the header has reached the disk: a part cut before that
    // holds no frame worth keeping, and its creation time proves it is the part created.
    const std::string token = readAviToken(avi.fd);
    struct stat st {};
    if (::fstat(avi.fd, &st) != 0) return leave("it cannot be read");
    if (token.empty() && entry.bornNs == 0)
        return leave("it does not carry the token its note records");
    if (!token.empty() && token != entry.token)
        return leave("it carries another recording's token");
    const AviRepairResult result = st.st_size == 0 ? AviRepairResult{} : finishCutAvi(avi.fd, path);
    if (st.st_size == 0 || (result.ok && result.frames == 0) || (!result.ok && token.empty())) {
        // Killed before its first frame reached the disk.
        return removeEmptyRecording(entry, avi);
    }
    if (!result.ok) return leave(result.error);
    const std::string now = dropUnfinishedWord(path);
    outcome = makeOutcome(now, finishedText(path, now, result.frames), true);
    outcome.frames = result.frames;
    return outcome;
}
}  // namespace

std::vector<RecoveryOutcome> recoverInterruptedRecordings(RecoveryJournal& journal) {
    std::vector<RecoveryOutcome> outcomes;
    for (const std::string& key : noteNames(journal.folder())) {
        const std::string notePath = journal.folder() + "/" + key;
        OpenedNote note = openNote(notePath, true);
        Fd held(note.fd);
        // Locked: its recording is running (in this program or another copy of it).
        if (note.busy || held.fd < 0) continue;
        const JournalEntry& entry = note.entry;
        bool keep = false;
        const size_t before = outcomes.size();
        if (endsWith(key, kNewSuffix) && !note.complete) {
            // A note a crash cut short while it was written: it names nothing yet.
        } else if (entry.path.empty()) {
            outcomes.push_back(makeOutcome("", "Removed an unreadable recovery note " + key));
        } else if (entry.format == "SER") {
            outcomes.push_back(finishInterruptedSer(entry, &keep));
        } else if (entry.format == "AVI") {
            outcomes.push_back(finishInterruptedAvi(entry, keep));
        } else {
            outcomes.push_back(
                makeOutcome(entry.path, "Left " + quoted(entry.path) + " alone: unknown format"));
        }
        // Taken back while still locked, so no other copy acts on it meanwhile.
        if (!keep) ::unlink(notePath.c_str());
        if (outcomes.size() > before && outcomes.back().finished) {
            RecoveryOutcome& done = outcomes.back();
            done.format = entry.format;
            std::string error;
            if (!writeCaptureLog(captureLogPath(done.path), recoveryLogText(done), error))
                qCWarning(lcRecording, "%s (no capture log)", error.c_str());
        }
    }
    return outcomes;
}

std::string recoveryLogText(const RecoveryOutcome& outcome) {
    auto stamp = [](int64_t ticks) {
        if (ticks <= 0) return std::string("unknown");
        return isoDateTime(PreciseDateTime::fromUnixMicros((ticks - kTicksTo1970) / 10, 0)) + "Z";
    };
    return "Recovered: finished at the next start after the program stopped during the "
           "recording\nFile: " +
           outcome.path + "\nFormat: " + outcome.format +
           "\nFrames: " + std::to_string(outcome.frames) +
           "\nFirst frame (UTC): " + stamp(outcome.firstStampUtc) +
           "\nLast frame (UTC): " + stamp(outcome.lastStampUtc) + "\n";
}
