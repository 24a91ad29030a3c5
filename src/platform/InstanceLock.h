#pragma once
// A per-user lock that tells whether another instance of the program is running. It is an
// advisory lock (flock) on a file in the program's state folder, the folder of its recovery
// notes, so that two copies that would act on the same notes never both run; where that
// folder cannot be made, in $XDG_RUNTIME_DIR, else in the user's configuration folder. The
// kernel drops it when the holding process ends, however it ends, so a crashed instance
// never blocks the next start.
#include <string>

// The program's state folder: $XDG_STATE_HOME/TarviVideo5X, with ~/.local/state standing in
// for an unset or relative $XDG_STATE_HOME. The recovery notes live in it.
std::string programStateFolder();
// The program's data folder: $XDG_DATA_HOME/TarviVideo5X, with ~/.local/share standing in the
// same way. The target profiles live in it.
std::string programDataFolder();

enum class InstanceLockResult {
    Acquired,       // this process holds the lock now
    HeldElsewhere,  // another process holds it: another instance is running
    Unavailable,    // the lock file could not be created or opened
};

class InstanceLock {
  public:
    explicit InstanceLock(std::string path = defaultPath());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock without waiting. Calling it again while held returns Acquired.
    InstanceLockResult tryAcquire();
    bool isHeld() const { return fd_ >= 0; }
    // Lets the lock go (also done by the destructor and by the process ending).
    void release();
    const std::string& path() const { return path_; }
    // Text of the last failure to open the lock file (empty when none).
    const std::string& error() const { return error_; }

    // instance.lock in programStateFolder() when that folder exists or can be made; else
    // $XDG_RUNTIME_DIR/TarviVideo5X.lock when that folder is set and absolute, else
    // TarviVideo5X/instance.lock in $XDG_CONFIG_HOME or ~/.config.
    static std::string defaultPath();

  private:
    std::string path_;
    std::string error_;
    int fd_ = -1;
};

// The program's own lock, held until the process ends once acquired. Call it early in
// start-up, before the camera is opened; HeldElsewhere means another instance runs.
InstanceLockResult acquireInstanceLock();
