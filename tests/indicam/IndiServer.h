// An INDI server with the simulated CCD, for tests and benchmarks: started on a free port,
// with its own HOME (the driver keeps its configuration there), in its own process group,
// and stopped by that group's id, so exactly what it started ends.
//
// indiserver listens on every interface. runInPrivateNetwork() re-runs the calling program
// in a private network namespace with only loopback up, where the machine allows it.
#ifndef TESTS_INDISERVER_H
#define TESTS_INDISERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace indi_test {

// Re-executes this program inside `unshare -n` with loopback up, once; returns only when
// that is not possible (then the server listens on a free port of this machine).
inline void runInPrivateNetwork(int argc, char** argv) {
    if (std::getenv("TV_INDI_NETNS")) return;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0) return;  // no server needed
    setenv("TV_INDI_NETNS", "1", 1);
    if (std::system("unshare -n sh -c 'ip link set lo up' >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "private network namespace not available; using a local port\n");
        return;
    }
    std::vector<char*> args;
    std::error_code ec;
    std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) return;
    const char* prefix[] = {"unshare", "-n", "sh", "-c", "ip link set lo up && exec \"$@\"", "sh"};
    for (const char* p : prefix) args.push_back(const_cast<char*>(p));
    args.push_back(self.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", args.data());
    std::perror("unshare");
}

inline bool canConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A loopback port nobody listens on right now.
inline int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class Server {
  public:
    Server() = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server() { stop(); }

    // Starts indiserver with the drivers on `port` (0: a free one); true once it listens.
    bool start(std::vector<std::string> drivers = {"indi_simulator_ccd"}, int port = 0) {
        port_ = port > 0 ? port : freePort();
        char dir[] = "/tmp/tv-indi-XXXXXX";
        if (!mkdtemp(dir)) return false;
        home_ = dir;
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // also ends with a test that crashes
            setenv("HOME", home_.c_str(), 1);
            const std::string log = home_ + "/indiserver.log";
            if (!freopen(log.c_str(), "w", stdout) || !freopen(log.c_str(), "a", stderr))
                _exit(126);
            const std::string port = std::to_string(port_);
            // Its own local socket too: the default name is shared by every indiserver.
            const std::string local = home_ + "/indiserver.socket";
            drivers.insert(drivers.begin(), {"indiserver", "-p", port, "-u", local});
            std::vector<char*> args;
            for (std::string& a : drivers) args.push_back(a.data());
            args.push_back(nullptr);
            execvp("indiserver", args.data());
            _exit(127);
        }
        if (pid_ < 0) return false;
        setpgid(pid_, pid_);
        for (int i = 0; i < 100; ++i) {
            if (canConnect(port_)) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Ends the server and its driver (its process group) and waits for the server.
    void stop() {
        if (pid_ > 0) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (!home_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(home_, ec);
            home_.clear();
        }
    }

    int port() const { return port_; }
    std::string address() const { return "localhost:" + std::to_string(port_); }
    std::string localSocket() const { return home_ + "/indiserver.socket"; }

    // The value of DEVICE.PROPERTY.ELEMENT as the server has it, read by indi_getprop.
    std::string get(const std::string& what) const {
        const std::string cmd =
            "indi_getprop -1 -t 3 -p " + std::to_string(port_) + " '" + what + "' 2>/dev/null";
        std::string out;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[256];
            while (fgets(buf, sizeof buf, p)) out += buf;
            pclose(p);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
        return out;
    }
    // Get until it reads want (settings reach the driver a moment after they are sent), for
    // up to 3 s; returns the last value read.
    std::string await(const std::string& what, const std::string& want) const {
        std::string value;
        for (int i = 0; i < 15 && (value = get(what)) != want; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return value;
    }
    // Sets DEVICE.PROPERTY.ELEMENT=VALUE with indi_setprop.
    bool set(const std::string& assignment) const {
        const std::string cmd =
            "indi_setprop -p " + std::to_string(port_) + " '" + assignment + "' >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string home_;
};

}  // namespace indi_test

#endif
