#pragma once
// "Keep Sharpest Frames": of each second of a recording, only the given share of its frames
// with the best seeing figures is kept, the rest left out. The frames of the second under
// way are held (at most a second of them, and never more bytes than allowed, so that the
// camera, which waits while the writer queue's memory is full, never waits for this stage);
// once a frame's exposure starts a second or more after the first held one, or the bytes
// would overflow, the held ones are judged and the kept ones come out in the order they
// came in, with their own stamps. At the end the last, partial second is judged the same.
// Runs on one thread (the writer thread); no file here.
#include <cstdint>
#include <vector>

#include "acquisition/Frame.h"

class SharpestFrames {
  public:
    struct Judged {
        FramePtr frame;
        double quality = 0;
    };

    // `percent`: the share kept (1 to 100); `maxBytes`: the most frame bytes held at once.
    SharpestFrames(int percent, uint64_t maxBytes);

    // One frame and its figure, in the order of the recording. The frames kept of a second
    // that this frame closes are appended to `out`.
    void add(FramePtr frame, double quality, std::vector<Judged>& out);
    // The frames kept of what is held (the last second), appended to `out`.
    void flush(std::vector<Judged>& out);

    // How many frames of a group of `count` are kept: `percent` of them rounded (halves to
    // even), at least one.
    static int64_t keptOf(int64_t count, int percent);

    int64_t kept() const { return kept_; }
    int64_t leftOut() const { return leftOut_; }
    int percent() const { return percent_; }

  private:
    int percent_;
    uint64_t maxBytes_;
    std::vector<Judged> held_;
    uint64_t heldBytes_ = 0;
    int64_t kept_ = 0;
    int64_t leftOut_ = 0;
};
