#include "recording/RecordingGaps.h"

#include <algorithm>
#include <cstdio>

GapReport findGaps(const std::vector<double>& stampsSeconds) {
    GapReport report;
    if (stampsSeconds.size() < 2) return report;
    std::vector<double> intervals;
    intervals.reserve(stampsSeconds.size() - 1);
    for (size_t i = 1; i < stampsSeconds.size(); ++i)
        intervals.push_back(stampsSeconds[i] - stampsSeconds[i - 1]);
    std::vector<double> sorted = intervals;
    const size_t mid = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + mid, sorted.end());
    double median = sorted[mid];
    if (sorted.size() % 2 == 0) {
        const double below = *std::max_element(sorted.begin(), sorted.begin() + mid);
        median = (median + below) / 2.0;
    }
    const double limit = 1.5 * median;
    for (double interval : intervals) {
        if (interval <= limit) continue;
        ++report.gaps;
        report.longestSeconds = std::max(report.longestSeconds, interval);
    }
    return report;
}

std::string gapText(const GapReport& report) {
    std::string text = "no gaps";
    if (report.gaps > 0) {
        // snprintf follows LC_NUMERIC, like the rest of the summary.
        char buf[80];
        std::snprintf(buf, sizeof buf, "%d gap%s, longest %.1f s", report.gaps,
                      report.gaps == 1 ? "" : "s", report.longestSeconds);
        text = buf;
    }
    if (report.keptPercent > 0)
        text = "sharpest " + std::to_string(report.keptPercent) +
               " % kept: " + std::to_string(report.framesKept) + " frame" +
               (report.framesKept == 1 ? "" : "s") + ", " + std::to_string(report.framesLeftOut) +
               " left out";
    if (report.failedExposures > 0)
        text += ", " + std::to_string(report.failedExposures) + " failed exposure" +
                (report.failedExposures == 1 ? "" : "s");
    if (report.exposuresHeldBack > 0) {
        char buf[96];
        std::snprintf(buf, sizeof buf, ", camera held back %llu time%s (%.1f s) for the disk",
                      static_cast<unsigned long long>(report.exposuresHeldBack),
                      report.exposuresHeldBack == 1 ? "" : "s", report.heldBackSeconds);
        text += buf;
    }
    if (report.framesLost > 0)
        text += ", " + std::to_string(report.framesLost) + " frame" +
                (report.framesLost == 1 ? "" : "s") + " not written";
    if (!report.cameraTrouble.empty()) text += ", " + report.cameraTrouble;
    return text;
}
