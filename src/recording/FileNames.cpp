#include "recording/FileNames.h"

#include <cctype>
#include <cstdio>

#include "recording/OutFile.h"

namespace {
// The path without its last four characters (the extension with its dot).
std::string Stem(const std::string& path) {
    return path.size() >= 4 ? path.substr(0, path.size() - 4) : path;
}
std::string Extension(const std::string& path) {
    return path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
}
}  // namespace

std::string NumberText(int32_t n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%05d", n);
    return buf;
}

std::string NumberedName(const std::string& path, int32_t n) {
    std::string ext = Extension(path);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return Stem(path) + "_" + NumberText(n) + ext;
}

bool AviPartsExist(const std::string& name) {
    const std::string stem = Stem(name);
    for (int i = 0; i <= 99; ++i) {
        if (FileExists(stem + "-PART" + std::to_string(i) + ".AVI")) return true;
    }
    return false;
}

int32_t NextRecordingNumber(const std::string& path) {
    int32_t n = 0;
    for (;;) {
        const std::string name = NumberedName(path, n);
        if (!FileExists(name) && !AviPartsExist(name)) return n;
        ++n;
    }
}

int32_t FirstFreeNumber(const std::string& path, int32_t from) {
    int32_t n = from;
    while (FileExists(NumberedName(path, n))) ++n;
    return n;
}
