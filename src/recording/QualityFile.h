#pragma once
// The seeing figures beside a SER or AVI recording (NAME.quality.csv): a header line, then one
// row per frame in the file: its index in the recording (from 0), its exposure start in UTC
// and its figure. Written on the writer thread as the frames are: each row is in the file as
// soon as its frame is (a crash of the program loses none of the rows of frames written), and
// the rows go to the disk once a second, as the SER file's count does. The file is created
// only under a name nothing has (never over a file that was there), and renamed with its
// recording under observation names, never over another file.
#include <cstdint>
#include <string>

#include "platform/DateTime.h"
#include "recording/OutFile.h"

class QualityFile {
  public:
    static constexpr char kHeader[] = "frame,exposure_start_utc,quality\n";

    // Creates the file; false with error() set when the name is taken or it cannot be made.
    bool create(const std::string& path);
    // One frame's row; `utcStart` is the exposure start in UTC.
    bool append(int64_t index, PreciseDateTime utcStart, double quality);
    // Syncs and closes; then, when `finalPath` is given, renames it there unless that name is
    // taken (it then stays under its first name, which path() gives).
    bool close(const std::string& finalPath);
    void discard() { file_.discard(); }

    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

  private:
    OutFile file_;
    std::string path_;
    std::string error_;
    int64_t syncedAtTicks_ = 0;  // the stamp of the row synced last
};
