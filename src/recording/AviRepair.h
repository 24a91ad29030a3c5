#pragma once
// Finishing an AVI part that a crash, kill or power cut left unfinished. The video library
// writes the headers at the start with placeholder sizes and zero frame counts, then the
// frame chunks, and only on a normal close the sizes, counts and index; a part cut short
// has none of these, and its last chunk may be half written.
#include <cstdint>
#include <string>

struct AviRepairResult {
    bool ok = false;       // the file is a finished AVI now (or already was)
    bool changed = false;  // bytes were changed
    int64_t frames = 0;    // whole frames it holds
    std::string error;     // why it could not be finished; the file is then left unchanged
};

// Finishes an AVI file cut short, through an open read-write descriptor: cuts it after its
// last whole chunk, writes the index (idx1, or for a part that grew into RIFF AVIX extensions
// the last extension's standard index and the super index), the RIFF and LIST movi sizes and
// the frame counts (main header, stream header, extended header), then syncs it to disk. A
// finished file is left as it is, so a second run changes nothing. Every size read from the
// file is checked against the file's real size; a file that is not a one-stream video RIFF
// AVI, or whose structure cannot be trusted, is refused with the reason and left unchanged.
// `pathForMessages` names the file in the reason.
AviRepairResult finishCutAvi(int fd, const std::string& pathForMessages);
