#include "recording/QualityFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recording/SessionRecord.h"

bool QualityFile::create(const std::string& path) {
    path_ = path;
    error_.clear();
    syncedAtTicks_ = 0;
    if (!file_.create(path) || !file_.write(kHeader, sizeof kHeader - 1)) {
        error_ = file_.error();
        file_.discard();
        return false;
    }
    return true;
}

bool QualityFile::append(int64_t index, PreciseDateTime utcStart, double quality) {
    char row[96];
    const int n = std::snprintf(row, sizeof row, "%lld,%sZ,%.3f\n", static_cast<long long>(index),
                                isoDateTime(utcStart).c_str(), quality);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof row ||
        !file_.write(row, static_cast<size_t>(n))) {
        error_ = file_.error();
        return false;
    }
    // On the disk once a second of frames, so that a crash of the machine loses at most that.
    if (utcStart.ticks() - syncedAtTicks_ >= PreciseDateTime::kTicksPerSecond) {
        syncedAtTicks_ = utcStart.ticks();
        if (!file_.syncData()) {
            error_ = file_.error();
            return false;
        }
    }
    return true;
}

bool QualityFile::close(const std::string& finalPath) {
    if (!file_.isOpen()) return true;
    if (!file_.syncData() || !file_.close()) {
        error_ = file_.error();
        return false;
    }
    if (!finalPath.empty() && finalPath != path_) {
        if (renameNoReplace(path_, finalPath)) {
            path_ = finalPath;
        } else {
            error_ = "Could not rename " + path_ + " to " + finalPath + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}
