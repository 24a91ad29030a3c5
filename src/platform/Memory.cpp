#include "platform/Memory.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {
std::string memInfoText() {
    std::ifstream f("/proc/meminfo");
    if (!f) return std::string();
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
}  // namespace

uint64_t parseMemField(const std::string& text, const char* field) {
    std::istringstream in(text);
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            std::istringstream fields(line.substr(n));
            uint64_t kib = 0;
            std::string unit;
            if (!(fields >> kib)) return 0;
            fields >> unit;
            return unit == "kB" || unit.empty() ? kib * 1024 : kib;
        }
    }
    return 0;
}

uint64_t parseMemAvailable(const std::string& text) {
    return parseMemField(text, "MemAvailable:");
}

uint64_t availablePhysicalMemory() {
    return parseMemAvailable(memInfoText());
}

uint64_t totalPhysicalMemory() {
    return parseMemField(memInfoText(), "MemTotal:");
}

uint64_t defaultWriterQueueBytes() {
    constexpr uint64_t kGiB = 1ull << 30;
    const uint64_t total = totalPhysicalMemory();
    return total == 0 ? kGiB : std::min(kGiB, total / 4);
}
