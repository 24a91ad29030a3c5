#include "platform/Memory.h"

#include <fstream>
#include <sstream>

uint64_t ParseMemAvailable(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("MemAvailable:", 0) == 0) {
            std::istringstream fields(line.substr(13));
            uint64_t kib = 0;
            std::string unit;
            if (!(fields >> kib)) return 0;
            fields >> unit;
            return unit == "kB" || unit.empty() ? kib * 1024 : kib;
        }
    }
    return 0;
}

uint64_t AvailablePhysicalMemory() {
    std::ifstream f("/proc/meminfo");
    if (!f) return 0;
    std::stringstream ss;
    ss << f.rdbuf();
    return ParseMemAvailable(ss.str());
}
