#pragma once
// The simulated camera's record of what it showed (camera option truth=PATH): one text line
// per exposure, appended to a file by a thread of its own, so that a slow disk never holds
// an exposure back.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace simcam {

class TruthLog {
  public:
    // Lines waiting beyond this are dropped (and their number written once the file takes
    // lines again): the camera never waits for the file, nor grows without bound.
    static constexpr size_t kMaxWaiting = 100'000;

    // Appends to `path` from now on ("" stops the record). Only a regular file is taken (or a
    // new one made); a FIFO or a device is refused without waiting. "" when taken, else why
    // not (the record then goes on as before).
    std::string open(const std::string& path);
    bool active() const;
    // True once the writer thread has started (it runs until the process ends).
    bool started() const;
    // Queues one line (the newline is added); returns at once.
    void write(std::string line);

  private:
    struct File;
    void drain();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<File> file_;
    std::deque<std::pair<std::shared_ptr<File>, std::string>> waiting_;
    size_t dropped_ = 0;
    bool writerStarted_ = false;
};

}  // namespace simcam
