#pragma once
// Completing SER recordings that were cut short (crash, power cut, kill): their side file of
// time stamps (SerStampsPath) is still there. Each such file gets the header count and the
// trailer of its whole frames, and the side file goes.
#include <cstdint>
#include <string>
#include <vector>

struct FinishedSerFile {
    std::string path;    // the SER file
    int32_t frames = 0;  // whole frames it holds now
    std::string error;   // empty when it was completed
};

// Looks for side files in `folder` and completes their recordings; a side file whose
// recording is gone is removed. Returns one entry per recording it found.
std::vector<FinishedSerFile> FinishInterruptedSerFiles(const std::string& folder);

// Completes one recording from its side file.
FinishedSerFile FinishInterruptedSerFile(const std::string& serPath);
