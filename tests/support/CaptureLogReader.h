#pragma once
// A capture log read back: its "key: value" lines as key -> values, in order.
#include <algorithm>
#include <fstream>
#include <map>
#include <string>

// Every line must be "key: value" (or "key:"), else `wellFormed` turns false.
inline std::multimap<std::string, std::string> parseLog(const std::string& path, bool* wellFormed) {
    std::multimap<std::string, std::string> out;
    std::ifstream in(path);
    std::string line;
    *wellFormed = true;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const size_t colon = line.find(": ");
        if (colon == std::string::npos && line.back() != ':') *wellFormed = false;
        out.emplace(line.substr(0, std::min(colon, line.size() - 1)),
                    colon == std::string::npos ? "" : line.substr(colon + 2));
    }
    return out;
}
