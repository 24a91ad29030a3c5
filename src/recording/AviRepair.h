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

// The recording's token in an AVI file: the video library writes a JUNK chunk of padding
// between the header lists and the frames ("for tag editing") and never writes there again,
// so the recorder stores the token of its journal note there once the header is on the
// disk. It proves at the next start that the file is the recording the note describes.
// Writes `token` into that chunk; false when the file has no such chunk (yet) or the write
// failed.
bool writeAviToken(int fd, const std::string& token);
// The token stored in the file; "" when it holds none.
std::string readAviToken(int fd);
