#include "recording/FileNames.h"

#include <cctype>
#include <cstdio>

#include "recording/OutFile.h"

namespace {
// The path without its last four characters (the extension with its dot).
std::string pathStem(const std::string& path) {
    return path.size() >= 4 ? path.substr(0, path.size() - 4) : path;
}
std::string extension(const std::string& path) {
    return path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
}
}  // namespace

std::string qualityFilePath(const std::string& recordingPath) {
    return pathStem(recordingPath) + ".quality.csv";
}

std::string folderOfPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string numberText(int32_t n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%05d", n);
    return buf;
}

std::string numberedName(const std::string& path, int32_t n) {
    std::string ext = extension(path);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return pathStem(path) + "_" + numberText(n) + ext;
}

bool aviPartsExist(const std::string& name) {
    const std::string stem = pathStem(name);
    for (int i = 0; i <= 99; ++i) {
        if (fileExists(stem + "-PART" + std::to_string(i) + ".AVI")) return true;
    }
    return false;
}

int32_t nextRecordingNumber(const std::string& path) {
    int32_t n = 0;
    for (;;) {
        const std::string name = numberedName(path, n);
        if (!fileExists(name) && !fileExists(name + kSerStampsSuffix) &&
            !fileExists(qualityFilePath(name)) && !aviPartsExist(name))
            return n;
        ++n;
    }
}

int32_t firstFreeNumber(const std::string& path, int32_t from) {
    int32_t n = from;
    while (fileExists(numberedName(path, n))) ++n;
    return n;
}
