#pragma once
// The recovery journal: a note, in the program's own state folder, of every recording file
// that is open. A recording notes its file when it opens it and takes the note back once the
// file is complete; a note left behind marks a file that a crash cut short. At the next start
// only those files are finished, and only when each is still the very file the program
// wrote (same device and inode, a regular file, the header it wrote). Nothing else in any
// folder is ever touched, whatever its name.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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
};

class RecoveryJournal {
  public:
    // Notes live in `folder` (created when the first note is written).
    explicit RecoveryJournal(std::string folder);
    const std::string& folder() const { return folder_; }

    // Notes an open recording file; `path` must name an existing file (its device and inode
    // are taken from it). Returns the key that takes the note back, or "" with the reason in
    // *error when the note could not be written.
    std::string add(JournalEntry entry, std::string* error = nullptr);
    // Takes a note back (the file is complete).
    void remove(const std::string& key);
    // The notes left behind, with their keys, oldest first. A note that cannot be read as
    // one is returned with an empty path.
    std::vector<std::pair<std::string, JournalEntry>> pending() const;

  private:
    std::string folder_;
};

// The absolute path of an existing file, links in its folders resolved; `path` itself when
// that cannot be made.
std::string absoluteFilePath(const std::string& path);

// The journal folder of this user: $XDG_STATE_HOME/TarviVideo5X/recordings, with
// ~/.local/state standing in for an unset $XDG_STATE_HOME.
std::string defaultJournalFolder();

// What the start-up recovery did with one note: one line for the user.
struct RecoveryOutcome {
    std::string path;
    std::string text;
    bool finished = false;  // the file is complete now
};

// Finishes the files of every note left in the journal and takes the notes back (a note is
// kept only when its file could not be reached for a reason that may pass, such as an
// input/output error). Never blocks on a special file and never follows a link.
std::vector<RecoveryOutcome> recoverInterruptedRecordings(RecoveryJournal& journal);

// Finishes one SER file of a note: header count and trailer of its whole frames from the side
// file, never fewer frames than its header already claims. *keepNote tells whether the note
// should stay for a later start (the file could not be reached for a passing reason).
RecoveryOutcome finishInterruptedSer(const JournalEntry& entry, bool* keepNote = nullptr);
