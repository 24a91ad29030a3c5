#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "platform/InstanceLock.h"

namespace {
class InstanceLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tv-lock-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/sub/instance.lock";
    }
    void TearDown() override {
        unlink(path_.c_str());
        rmdir((dir_ + "/sub").c_str());
        unlink((dir_ + "/file").c_str());
        rmdir(dir_.c_str());
    }

    // Runs `body` in a forked child and returns its exit status (-1 when it did not exit).
    template <typename F>
    static int inChild(F body) {
        const pid_t pid = fork();
        if (pid == 0) _exit(body());
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    // A child process that takes the lock, tells us through a pipe, then waits to be
    // killed. With `spawnHelper` it first starts a program that outlives it and sends
    // that program's pid.
    pid_t startHolder(bool spawnHelper, pid_t* helper) {
        int ready[2];
        if (pipe(ready) != 0) return -1;
        const std::string path = path_;
        const pid_t pid = fork();
        if (pid == 0) {
            close(ready[0]);
            InstanceLock lock(path);
            if (lock.tryAcquire() != InstanceLockResult::Acquired) _exit(2);
            pid_t spawned = 0;
            if (spawnHelper) {
                // This pipe closes in the helper when exec succeeds: its end-of-file says
                // the helper now runs the new program.
                int execd[2];
                if (pipe2(execd, O_CLOEXEC) != 0) _exit(3);
                spawned = fork();
                if (spawned == 0) {
                    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
                    _exit(127);
                }
                close(execd[1]);
                char c;
                while (read(execd[0], &c, 1) > 0) {
                }
            }
            if (write(ready[1], &spawned, sizeof spawned) != sizeof spawned) _exit(4);
            for (;;) pause();
        }
        close(ready[1]);
        pid_t got = 0;
        const bool ok = read(ready[0], &got, sizeof got) == sizeof got;
        close(ready[0]);
        if (helper) *helper = got;
        return ok ? pid : -1;
    }

    static void killAndReap(pid_t pid) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    std::string dir_;
    std::string path_;
};
}  // namespace

TEST_F(InstanceLockTest, SecondProcessIsRefusedWhileHeld) {
    InstanceLock first(path_);
    ASSERT_EQ(first.tryAcquire(), InstanceLockResult::Acquired);
    EXPECT_TRUE(first.isHeld());
    EXPECT_EQ(first.tryAcquire(), InstanceLockResult::Acquired);  // holding it again is fine

    const std::string path = path_;
    const int held = inChild([&] {
        InstanceLock other(path);
        return other.tryAcquire() == InstanceLockResult::HeldElsewhere ? 0 : 1;
    });
    EXPECT_EQ(held, 0);

    first.release();
    const int free = inChild([&] {
        InstanceLock other(path);
        return other.tryAcquire() == InstanceLockResult::Acquired ? 0 : 1;
    });
    EXPECT_EQ(free, 0);
}

TEST_F(InstanceLockTest, KilledHolderDoesNotBlock) {
    const pid_t holder = startHolder(false, nullptr);
    ASSERT_GT(holder, 0);
    InstanceLock lock(path_);
    EXPECT_EQ(lock.tryAcquire(), InstanceLockResult::HeldElsewhere);
    killAndReap(holder);
    EXPECT_EQ(lock.tryAcquire(), InstanceLockResult::Acquired);
}

TEST_F(InstanceLockTest, ProgramsStartedByTheHolderDoNotInheritIt) {
    pid_t helper = 0;
    const pid_t holder = startHolder(true, &helper);
    ASSERT_GT(holder, 0);
    ASSERT_GT(helper, 0);
    killAndReap(holder);
    InstanceLock lock(path_);
    EXPECT_EQ(lock.tryAcquire(), InstanceLockResult::Acquired);
    ::kill(helper, SIGKILL);  // reparented away from us: it cannot be waited for here
}

TEST_F(InstanceLockTest, LockFileThatCannotBeCreatedIsReported) {
    const std::string file = dir_ + "/file";
    std::ofstream(file) << "x";
    InstanceLock lock(file + "/instance.lock");
    EXPECT_EQ(lock.tryAcquire(), InstanceLockResult::Unavailable);
    EXPECT_FALSE(lock.isHeld());
    EXPECT_FALSE(lock.error().empty());
}

TEST_F(InstanceLockTest, DefaultPathIsBesideTheRecoveryNotes) {
    auto save = [](const char* name) {
        const char* v = std::getenv(name);
        return std::make_pair(v != nullptr, std::string(v ? v : ""));
    };
    auto restore = [](const char* name, const std::pair<bool, std::string>& v) {
        if (v.first)
            setenv(name, v.second.c_str(), 1);
        else
            unsetenv(name);
    };
    const auto runtime = save("XDG_RUNTIME_DIR");
    const auto config = save("XDG_CONFIG_HOME");
    const auto state = save("XDG_STATE_HOME");
    // Two copies with different runtime folders but one state folder share the lock.
    setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(InstanceLock::defaultPath(), dir_ + "/state/TarviVideo5X/instance.lock");
    // Where the state folder cannot be made: the runtime folder, else the configuration's.
    std::ofstream(dir_ + "/plain") << "x";
    setenv("XDG_STATE_HOME", (dir_ + "/plain").c_str(), 1);
    EXPECT_EQ(InstanceLock::defaultPath(), "/run/user/4242/TarviVideo5X.lock");
    setenv("XDG_RUNTIME_DIR", "relative", 1);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    EXPECT_EQ(InstanceLock::defaultPath(), dir_ + "/TarviVideo5X/instance.lock");
    restore("XDG_RUNTIME_DIR", runtime);
    restore("XDG_CONFIG_HOME", config);
    restore("XDG_STATE_HOME", state);
}
