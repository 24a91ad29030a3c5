#pragma once
// The live seeing figure: frames are measured (frameQuality) on a thread of their own (the
// newest frame; frames that come while one is measured are skipped, so the window never
// waits), on the planet's disc while the tracker has it, else on the whole frame. The
// figures of the last minute are kept for the seeing graph and for a capture that waits for
// sharp seeing (SharpMoment).
#include <QObject>
#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>

#include "analysis/SeeingHistory.h"
#include "session/AnalysisWorker.h"

struct Frame;

class SeeingMonitor {
  public:
    // Called on the context's thread after each figure was added to the history.
    using Measured = std::function<void(const SeeingHistory& history)>;

    SeeingMonitor(QObject* context, Measured measured);

    // Hands the frame's samples over to the measure (shared, not copied), on `region` of it
    // (empty: the whole frame); returns at once.
    void offer(const Frame& frame, cv::Rect region);

    const SeeingHistory& history() const { return history_; }
    // The figures of the frames measured so far, and those skipped for a newer frame.
    uint64_t measured() const { return measured_; }
    uint64_t skipped() const { return worker_.replaced(); }
    // Until the frames handed over so far are measured; true when done within `timeoutMs`.
    bool waitIdle(int timeoutMs) const { return worker_.waitIdle(timeoutMs); }

  private:
    Measured onMeasured_;
    SeeingHistory history_;
    uint64_t measured_ = 0;
    AnalysisWorker worker_;  // last: its thread ends before the members its results use
};
