#pragma once
// The simulated camera's truth record (its camera option "truth"): one line per exposure of
// the planet scene, read back by the tests that check a measure against it.
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// One exposure's line of the truth record.
struct TruthLine {
    unsigned long long number = 0;
    long long startUs = 0;
    double x = 0, y = 0, blur = 0, transparency = 0;
};

// The record's whole exposure lines, once it holds `count` of them (its thread writes each
// soon after the frame); fewer after 2 s.
inline std::vector<TruthLine> truthLines(const std::string& path, size_t count) {
    std::vector<TruthLine> lines;
    for (int wait = 0; wait < 100 && lines.size() < count; ++wait) {
        if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        lines.clear();
        std::ifstream in(path);
        for (std::string text; std::getline(in, text);) {
            if (in.eof()) break;  // a line still being written
            if (text.empty() || text[0] == '#') continue;
            TruthLine t;
            std::istringstream(text) >> t.number >> t.startUs >> t.x >> t.y >> t.blur >>
                t.transparency;
            lines.push_back(t);
        }
    }
    return lines;
}
