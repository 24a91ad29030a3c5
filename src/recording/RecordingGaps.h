#pragma once
// Gaps in a recording, found from its frame time stamps: an interval between two
// consecutive frames longer than 1.5 times the median interval is a gap (frames lost, the
// camera late, the disk slow). No window needed.
#include <cstdint>
#include <string>
#include <vector>

struct GapReport {
    int gaps = 0;
    double longestSeconds = 0.0;  // the longest gap interval; 0 without gaps
    // Exposures the camera reported as failed during the recording (none of them written).
    uint64_t failedExposures = 0;
    // Exposures the camera was held back for because the writer queue was full, and for
    // how long in all; frames handed to the writer and never written.
    uint64_t exposuresHeldBack = 0;
    double heldBackSeconds = 0.0;
    int64_t framesLost = 0;
    // The camera library's latest trouble during the recording ("INDI stream stalled: 0.1
    // fps of 23", a lost server); "" when it reported none.
    std::string cameraTrouble;
    // "Keep Sharpest Frames": the share of each second kept (0: every frame was), and the
    // frames kept and left out.
    int keptPercent = 0;
    int64_t framesKept = 0;
    int64_t framesLeftOut = 0;
};

// The gaps among time stamps in seconds, in recording order. Fewer than two stamps show
// no interval and so no gap.
GapReport findGaps(const std::vector<double>& stampsSeconds);

// "no gaps", "1 gap, longest 0.4 s", "2 gaps, longest 1.2 s" (one decimal, with the
// decimal point of the locale), followed by ", N failed exposures" when there were any,
// ", camera held back N times (S s) for the disk" and ", N frames not written" likewise, and
// the camera's trouble last (", INDI stream stalled: 0.1 fps of 23"). A recording that kept
// only its sharpest frames says so in place of the gaps, which it leaves by design:
// "sharpest 25 % kept: 50 frames, 150 left out".
std::string gapText(const GapReport& report);
