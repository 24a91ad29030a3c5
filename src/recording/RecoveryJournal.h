#pragma once
// The recovery journal: a note, in the program's own state folder, of every recording file
// that is open. A recording notes its file when it opens it and takes the note back once the
// file is complete; a note left behind marks a file that a crash cut short. At the next start
// only those files are finished, and only when each is still the very file the program
// wrote: same device, inode and creation time, a regular file, the header it wrote and the
// recording's token (SER: the header's start time; AVI: a token written into the file), with
// a side file of time stamps that is the one the program created and holds plausible stamps.
// Nothing else in any folder is ever touched, whatever its name.
//
// A running recording holds a lock (flock) on its note for as long as it runs; the recovery
// passes over a locked note, so a second copy of the program never finishes a recording that
// is still being written.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ser {
struct Header;
}

struct JournalEntry {
    std::string format;    // "SER" or "AVI"
    std::string path;      // the recording file
    std::string sidePath;  // SER: the side file of its time stamps; "" for AVI
    uint64_t device = 0;
    uint64_t inode = 0;
    // The frames as the header was written: size, bits per sample, SER ColorID.
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    int32_t colorId = 0;
    // Filled by add() from the files themselves: the side file's identity, and the creation
    // times in nanoseconds since 1970 where the file system keeps them (0 where not).
    uint64_t sideDevice = 0;
    uint64_t sideInode = 0;
    int64_t bornNs = 0;
    int64_t sideBornNs = 0;
    // What the recording itself carries and only it: SER serHeaderToken(), AVI the token of
    // writeAviToken(). "" proves nothing, and such a note's file is left alone.
    std::string token;
};

// The token of a SER recording: its header's local and UTC start times in 100-ns ticks.
std::string serHeaderToken(const ser::Header& header);
// A new random token for a recording (32 hexadecimal digits).
std::string newRecordingToken();

class RecoveryJournal {
  public:
    // Notes live in `folder` (created when the first note is written).
    explicit RecoveryJournal(std::string folder);
    // Lets go of the notes still held (their recordings stay noted for the next start).
    ~RecoveryJournal();
    RecoveryJournal(const RecoveryJournal&) = delete;
    RecoveryJournal& operator=(const RecoveryJournal&) = delete;
    const std::string& folder() const { return folder_; }

    // Whether notes can be written (the folder made, writable); otherwise *why says why.
    bool isWritable(std::string* why = nullptr) const;

    // Notes an open recording file; `path` (and `sidePath` when given) must name existing
    // files, whose device, inode and creation time are taken from them. The note stays
    // locked by this journal until remove(). Returns the key that takes the note back, or ""
    // with the reason in *error when the note could not be written. Safe from any thread.
    std::string add(JournalEntry entry, std::string* error = nullptr);
    // Takes a note back (the file is complete) and lets go of its lock.
    void remove(const std::string& key);
    // The notes left in the folder, with their keys, oldest first (a note that cannot be read
    // as one is returned with an empty path). Anything that is not a regular file is passed
    // over, as is a note being written that a crash cut short.
    std::vector<std::pair<std::string, JournalEntry>> pending() const;

  private:
    std::string folder_;
    mutable std::mutex mutex_;
    std::map<std::string, int> held_;  // key -> the descriptor that holds the note's lock
};

// The absolute path of an existing file, links in its folders resolved; `path` itself when
// that cannot be made.
std::string absoluteFilePath(const std::string& path);

// The journal folder of this user: "recordings" in the program's state folder.
std::string defaultJournalFolder();

// What the start-up recovery did with one note: one line for the user.
struct RecoveryOutcome {
    std::string path;  // the recording's file (its new name when it was renamed)
    std::string text;
    bool finished = false;  // the file is complete now
    bool waiting = false;   // its disk is not there: kept for when it is back
    // A finished recording: its format, the frames it holds, and (SER) the UTC stamps of its
    // first and last frame in 100-ns ticks since 0001-01-01, 0 where unknown.
    std::string format;
    int64_t frames = 0;
    int64_t firstStampUtc = 0, lastStampUtc = 0;
};

// The short capture log of a recording finished after a crash: what was recovered, its
// frames and the first and last frame's stamps.
std::string recoveryLogText(const RecoveryOutcome& outcome);

// Finishes the files of every note left in the journal and takes the notes back; beside each
// file finished goes its capture log (captureLogPath, recoveryLogText). A note is
// kept when its file could not be reached for a reason that may pass: its disk is absent
// (outcome `waiting`), an input/output error. A note locked by a running recording is
// passed over without a word. Never blocks on a special file and never follows a link.
std::vector<RecoveryOutcome> recoverInterruptedRecordings(RecoveryJournal& journal);

// Finishes one SER file of a note: header count and trailer of its whole frames from the side
// file, never fewer frames than its header already claims. *keepNote tells whether the note
// should stay for a later start (the file could not be reached for a passing reason).
RecoveryOutcome finishInterruptedSer(const JournalEntry& entry, bool* keepNote = nullptr);
