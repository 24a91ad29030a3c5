#pragma once
// Other programs run from the tests: a shell command with all it prints, and the independent
// check of a recorded file (tests/e2e/check_recording.py).
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tvtest {

// Runs a shell command; returns its exit status (-1 when it did not exit) and fills `out`
// with its stdout and stderr.
inline int runCommand(const std::string& command, std::string& out) {
    out.clear();
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `s` in single quotes for the shell.
inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// What the independent check finds wrong with a recorded file of `kind` (ser, avi, fits or
// bmp); empty when it is sound. `frames` is the expected frame count of a SER or AVI file.
inline std::string recordingProblems(const std::string& kind, const std::string& path, int width,
                                     int height, int frames = -1) {
    std::string command = "/usr/bin/python3 " TV_SOURCE_DIR "/tests/e2e/check_recording.py " +
                          kind + " " + quote(path) + " " + std::to_string(width) + " " +
                          std::to_string(height);
    if (frames >= 0) command += " " + std::to_string(frames);
    std::string text;
    const int status = runCommand(command, text);
    return status == 0 ? std::string() : "status " + std::to_string(status) + ": " + text;
}

}  // namespace tvtest
