#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

#include <cmath>
#include <cstdio>

std::optional<uint64_t> freeDiskBytes(const std::string& folder) {
    struct statvfs fs {};
    if (folder.empty() || statvfs(folder.c_str(), &fs) != 0) return std::nullopt;
    return static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
}

void WriteRateMeter::reset() {
    samples_.clear();
    total_ = 0;
}

void WriteRateMeter::add(uint32_t nowMs, uint64_t bytes) {
    total_ += bytes;
    // Writes within the same millisecond share one sample, which bounds the queue.
    if (samples_.size() > 1 && samples_.back().ms == nowMs)
        samples_.back().total = total_;
    else
        samples_.push_back({nowMs, total_});
}

std::optional<double> WriteRateMeter::bytesPerSecond(uint32_t nowMs) {
    // Keep as the baseline the newest sample that is at least a window old.
    while (samples_.size() > 1 && nowMs - samples_[1].ms >= kWindowMs) samples_.pop_front();
    if (samples_.empty()) return std::nullopt;
    const uint32_t span = nowMs - samples_.front().ms;
    if (span < kMinSpanMs) return std::nullopt;
    return static_cast<double>(samples_.back().total - samples_.front().total) * 1000.0 / span;
}

DiskStatus formatDiskStatus(uint64_t freeBytes, std::optional<double> bytesPerSecond) {
    char text[96];
    int n =
        std::snprintf(text, sizeof text, "Disk %.1f GB free", static_cast<double>(freeBytes) / 1e9);
    DiskStatus status;
    if (bytesPerSecond && *bytesPerSecond > 0) {
        const double seconds = static_cast<double>(freeBytes) / *bytesPerSecond;
        const double minutes = std::floor(seconds / 60);
        if (minutes <= 99)
            std::snprintf(text + n, sizeof text - n, ", %.0f min left", minutes);
        else if (minutes < 1e7)
            std::snprintf(text + n, sizeof text - n, ", %.0f h %02d min left",
                          std::floor(minutes / 60), static_cast<int>(std::fmod(minutes, 60)));
        status.low = seconds < kLowSeconds;
    }
    status.text = text;
    return status;
}

DiskStatus diskStatusOf(const std::string& folder, std::optional<double> bytesPerSecond) {
    const auto free = freeDiskBytes(folder);
    if (!free) return {};
    return formatDiskStatus(*free, bytesPerSecond);
}
