#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
bool isAbsoluteDir(const char* p) {
    return p && p[0] == '/';
}

// Creates `dir` and its missing parents, private to the user where it creates them.
bool makeDirs(const std::string& dir) {
    if (dir.empty()) return false;
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirs(dir.substr(0, slash))) return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The folder an XDG variable names when it is set and absolute, else `underHome` in $HOME.
std::string xdgFolder(const char* variable, const char* underHome) {
    const char* set = std::getenv(variable);
    if (isAbsoluteDir(set)) return set;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + underHome;
}
}  // namespace

std::string programStateFolder() {
    return xdgFolder("XDG_STATE_HOME", "/.local/state") + "/TarviVideo5X";
}

std::string programDataFolder() {
    return xdgFolder("XDG_DATA_HOME", "/.local/share") + "/TarviVideo5X";
}

std::string InstanceLock::defaultPath() {
    const std::string state = programStateFolder();
    if (makeDirs(state) && ::access(state.c_str(), W_OK | X_OK) == 0)
        return state + "/instance.lock";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isAbsoluteDir(runtime)) return std::string(runtime) + "/TarviVideo5X.lock";
    return xdgFolder("XDG_CONFIG_HOME", "/.config") + "/TarviVideo5X/instance.lock";
}

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {}

InstanceLock::~InstanceLock() {
    release();
}

InstanceLockResult InstanceLock::tryAcquire() {
    if (fd_ >= 0) return InstanceLockResult::Acquired;
    error_.clear();
    const std::string dir = parentOf(path_);
    if (!dir.empty() && !makeDirs(dir)) {
        error_ = "cannot create " + dir + ": " + std::strerror(errno);
        return InstanceLockResult::Unavailable;
    }
    // Close-on-exec: a program started from here (the process viewer) must not inherit the
    // lock and keep it after this process has ended.
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = "cannot open " + path_ + ": " + std::strerror(errno);
        return InstanceLockResult::Unavailable;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) return InstanceLockResult::HeldElsewhere;
        error_ = "cannot lock " + path_ + ": " + std::strerror(err);
        return InstanceLockResult::Unavailable;
    }
    fd_ = fd;
    return InstanceLockResult::Acquired;
}

void InstanceLock::release() {
    if (fd_ < 0) return;
    // Closing the only descriptor of this open file drops the lock.
    close(fd_);
    fd_ = -1;
}

InstanceLockResult acquireInstanceLock() {
    // Never destroyed: the lock lasts as long as the process.
    static InstanceLock* lock = new InstanceLock();
    return lock->tryAcquire();
}
