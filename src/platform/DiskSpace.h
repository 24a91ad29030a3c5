#pragma once
// Free space of the file system holding the capture folder, the rate at which a recording
// fills it, and the text of the status bar panel that shows both.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

// Bytes an unprivileged user may still write on the file system of `folder` (statvfs:
// f_bavail * f_frsize, the "Avail" of df). Nothing when the folder cannot be examined.
std::optional<uint64_t> freeDiskBytes(const std::string& folder);

// The data rate of a recording over its last few seconds. The writer reports each write
// with the millisecond counter's time; the rate is the bytes reported after the oldest
// sample of the window, over the time from that sample until now, so a stalled recording
// shows a falling rate.
class WriteRateMeter {
  public:
    static constexpr uint32_t kWindowMs = 5000;
    static constexpr uint32_t kMinSpanMs = 1000;  // no rate before this much has passed

    void reset();
    void add(uint32_t nowMs, uint64_t bytes);
    // Bytes per second at `nowMs`, or nothing during the first kMinSpanMs. Times are
    // compared wrap-safe; `nowMs` must not lie before the last Add.
    std::optional<double> bytesPerSecond(uint32_t nowMs);

  private:
    struct Sample {
        uint32_t ms;
        uint64_t total;  // bytes reported up to and including this sample
    };
    std::deque<Sample> samples_;
    uint64_t total_ = 0;
};

struct DiskStatus {
    std::string text;
    bool low = false;  // less than kLowSeconds of recording left: shown in red
};
inline constexpr double kLowSeconds = 120.0;

// "Disk 41.2 GB free" (decimal gigabytes, 1e9 bytes, as df -H counts them); with a data
// rate (while recording) also the time left, whole minutes rounded down:
// "Disk 41.2 GB free, 12 min left", above 99 minutes "Disk 41.2 GB free, 2 h 05 min left".
DiskStatus formatDiskStatus(uint64_t freeBytes, std::optional<double> bytesPerSecond);

// The panel for `folder`: empty when no folder is set or it cannot be examined.
DiskStatus diskStatusOf(const std::string& folder, std::optional<double> bytesPerSecond);
