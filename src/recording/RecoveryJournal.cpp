#include "recording/RecoveryJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "recording/AviRepair.h"
#include "serformat/SerFormat.h"

namespace {
const char kNoteSuffix[] = ".note";
// A note is a few hundred bytes; anything much larger is not one of ours.
constexpr off_t kMaxNoteBytes = 64 * 1024;
constexpr size_t kCopyPiece = 64 * 1024;

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool readAllAt(int fd, void* data, size_t size, off_t at) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool writeAllAt(int fd, const void* data, size_t size, off_t at) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool makeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// Opens an existing regular file without following a link and without blocking on a
// special file; -1 with errno otherwise (ELOOP for a link, EINVAL for a special file).
int openRegular(const std::string& path, int flags, struct stat* st) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Back to ordinary blocking writes for the file itself.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
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
        << "\nheight=" << e.height << "\ndepth=" << e.depth << "\ncolor=" << e.colorId << "\n";
    return out.str();
}

JournalEntry decode(const std::string& text) {
    JournalEntry e;
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
    }
    return e;
}

RecoveryOutcome makeOutcome(const std::string& path, std::string text, bool finished = false) {
    return RecoveryOutcome{path, std::move(text), finished};
}

// The recording file of a note, opened for writing when it is still the file the note
// describes; otherwise -1 and the outcome says why it is left alone.
int openNotedFile(const JournalEntry& entry, RecoveryOutcome& outcome, bool& keepNote) {
    struct stat st {};
    const int fd = openRegular(entry.path, O_RDWR, &st);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) {
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
    if (static_cast<uint64_t>(st.st_dev) != entry.device ||
        static_cast<uint64_t>(st.st_ino) != entry.inode) {
        ::close(fd);
        outcome = makeOutcome(entry.path, "Left " + quoted(entry.path) +
                                              " alone: it is no longer the recording's file");
        return -1;
    }
    return fd;
}
}  // namespace

RecoveryJournal::RecoveryJournal(std::string folder) : folder_(std::move(folder)) {}

std::string RecoveryJournal::add(JournalEntry entry, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return std::string();
    };
    struct stat st {};
    if (::stat(entry.path.c_str(), &st) != 0) return fail("Cannot read " + quoted(entry.path));
    entry.device = static_cast<uint64_t>(st.st_dev);
    entry.inode = static_cast<uint64_t>(st.st_ino);
    if (!makeFolders(folder_)) return fail("Cannot create the folder " + quoted(folder_));

    static std::atomic<unsigned> counter{0};
    const std::string key = std::to_string(::time(nullptr)) + "-" + std::to_string(::getpid()) +
                            "-" + std::to_string(counter++) + kNoteSuffix;
    const std::string path = folder_ + "/" + key, temp = path + ".new";
    const std::string text = encode(entry);
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.fd < 0) return fail("Cannot create " + quoted(temp));
    // The note is on the disk before the recording's first frame can be.
    if (!writeAllAt(fd.fd, text.data(), text.size(), 0) || ::fsync(fd.fd) != 0) {
        ::unlink(temp.c_str());
        return fail("Cannot write " + quoted(temp));
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return fail("Cannot write " + quoted(path));
    }
    Fd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0) ::fsync(dir.fd);
    return key;
}

void RecoveryJournal::remove(const std::string& key) {
    if (key.empty() || key.find('/') != std::string::npos) return;
    ::unlink((folder_ + "/" + key).c_str());
}

std::vector<std::pair<std::string, JournalEntry>> RecoveryJournal::pending() const {
    std::vector<std::string> keys;
    if (DIR* dir = ::opendir(folder_.c_str())) {
        const size_t suffix = sizeof kNoteSuffix - 1;
        while (const dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name.size() > suffix &&
                name.compare(name.size() - suffix, suffix, kNoteSuffix) == 0)
                keys.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::pair<std::string, JournalEntry>> notes;
    for (const std::string& key : keys) {
        struct stat st {};
        const int fd = openRegular(folder_ + "/" + key, O_RDONLY, &st);
        JournalEntry entry;
        if (fd >= 0) {
            if (st.st_size > 0 && st.st_size <= kMaxNoteBytes) {
                std::string text(static_cast<size_t>(st.st_size), '\0');
                if (readAllAt(fd, text.data(), text.size(), 0)) entry = decode(text);
            }
            ::close(fd);
        }
        notes.emplace_back(key, std::move(entry));
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
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state && *state == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.local/state";
    }
    return base + "/TarviVideo5X/recordings";
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
    if (::fstat(ser.fd, &st) != 0 || !readAllAt(ser.fd, bytes, sizeof bytes, 0) ||
        !ser::decodeHeader(bytes, &header))
        return leave("its header is not the one the program wrote");
    // The writer labels a mono-noted file with its frames' Bayer pattern at the first frame;
    // any other change of the colour (and with it the bytes of a frame) is not its own.
    const bool labelled = entry.colorId == ser::KMono && header.colorId >= ser::KBayerRggb &&
                          header.colorId <= ser::KBayerBggr;
    if (header.width != entry.width || header.height != entry.height ||
        header.depth != entry.depth || (header.colorId != entry.colorId && !labelled) ||
        !ser::geometryProblem(header).empty())
        return leave("its header is not the one the program wrote");
    const uint64_t frameBytes = ser::frameBytes(header);
    const uint64_t inFile = ser::framesInFile(header, static_cast<uint64_t>(st.st_size));
    const uint64_t claimed = static_cast<uint64_t>(std::max<int32_t>(header.frameCount, 0));
    if (inFile < claimed) return leave("it holds fewer frames than its header counts");

    struct stat sideStat {};
    Fd side(entry.sidePath.empty() ? -1 : openRegular(entry.sidePath, O_RDONLY, &sideStat));
    if (side.fd < 0)
        return leave("its time stamps are missing; the header counts " + std::to_string(claimed) +
                     " frames");
    // Every frame whose pixels and stamp were both written: the stamp follows its frame.
    // The stamps are read bounded by the frames the file really holds.
    const uint64_t stamps = static_cast<uint64_t>(sideStat.st_size) / ser::kStampSize;
    const uint64_t frames = std::min<uint64_t>({inFile, stamps, static_cast<uint64_t>(INT32_MAX)});
    if (frames < claimed) return leave("it has fewer time stamps than its header counts frames");

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
    // The side file goes once the recording is complete on the disk. It was opened without
    // following a link, so the name is the side file itself.
    ::unlink(entry.sidePath.c_str());
    return makeOutcome(path,
                       "Finished the interrupted recording " + quoted(path) + " (" +
                           std::to_string(frames) + " frames)",
                       true);
}

namespace {
RecoveryOutcome finishInterruptedAvi(const JournalEntry& entry, bool& keepNote) {
    RecoveryOutcome outcome;
    Fd avi(openNotedFile(entry, outcome, keepNote));
    if (avi.fd < 0) return outcome;
    const AviRepairResult result = finishCutAvi(avi.fd, entry.path);
    if (!result.ok)
        return makeOutcome(entry.path, "Left the interrupted recording " + quoted(entry.path) +
                                           " as it is: " + result.error);
    return makeOutcome(entry.path,
                       "Finished the interrupted recording " + quoted(entry.path) + " (" +
                           std::to_string(result.frames) + " frames)",
                       true);
}
}  // namespace

std::vector<RecoveryOutcome> recoverInterruptedRecordings(RecoveryJournal& journal) {
    std::vector<RecoveryOutcome> outcomes;
    for (const auto& [key, entry] : journal.pending()) {
        bool keep = false;
        if (entry.path.empty()) {
            outcomes.push_back(makeOutcome("", "Removed an unreadable recovery note " + key));
        } else if (entry.format == "SER") {
            outcomes.push_back(finishInterruptedSer(entry, &keep));
        } else if (entry.format == "AVI") {
            outcomes.push_back(finishInterruptedAvi(entry, keep));
        } else {
            outcomes.push_back(
                makeOutcome(entry.path, "Left " + quoted(entry.path) + " alone: unknown format"));
        }
        if (!keep) journal.remove(key);
    }
    return outcomes;
}
