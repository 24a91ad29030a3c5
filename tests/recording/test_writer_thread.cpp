// The writer thread of a recording: frames written in the order handed over, the queue's
// share of the frame budget, and every way a recording ends with frames still queued
// (cancel, timed end, a failed write, exit).
#include <gtest/gtest.h>

#include <atomic>
#include <semaphore>

#include "RecTestUtil.h"
#include "platform/Clock.h"
#include "recording/FrameWriterThread.h"
#include "recording/RecordingController.h"
#include "recording/SerWriter.h"
#include "support/RecordingLog.h"

using namespace rectest;

namespace {
constexpr int kW = 32, kH = 24;
constexpr uint64_t kFrameBytes = kW * kH;

// A frame handed over by a capture thread: it holds `budget` until it is destroyed.
FramePtr numbered(uint64_t number, const std::shared_ptr<FrameBudget>& budget) {
    FramePtr f = makeFrame(kW, kH);
    f->exposureNumber = number;
    f->holdBudget(budget);
    return f;
}

int32_t serFrameCount(const std::string& path) {
    const auto b = readAll(path);
    if (b.size() < size_t(kSerHeaderSize)) return -1;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b[kSerFrameCountOffset + i];
    return static_cast<int32_t>(v);
}

TEST(WriterThread, WritesInOrderAndHoldsTheCameraBackWhileTheQueueIsFull) {
    auto budget = std::make_shared<FrameBudget>();
    budget->setLimits(UINT64_MAX, 4 * kFrameBytes);
    std::counting_semaphore<100> disk(0);  // each release lets one write through
    std::vector<uint64_t> order;
    int closed = 0;
    {
        FrameWriterThread writer(
            [&](FramePtr& f) {
                disk.acquire();
                order.push_back(f->exposureNumber);
                return true;
            },
            [&] { return ++closed == 1; }, nullptr);
        for (uint64_t n = 1; n <= 5; ++n) writer.push(numbered(n, budget));
        // The first frame is taken off the queue, the others wait: the queue's account is
        // full and the next exposure would be held back.
        EXPECT_EQ(budget->framesQueued(), 5);
        EXPECT_EQ(budget->holds(kFrameBytes), FrameBudget::Hold::Queue);
        disk.release(2);
        EXPECT_TRUE(writer.waitUntilDrained(0) == false);
        disk.release(3);
        EXPECT_TRUE(writer.waitUntilDrained(5000));
        EXPECT_EQ(budget->holds(kFrameBytes), FrameBudget::Hold::None);
        // Exit with frames queued: the destructor writes them all before closing.
        for (uint64_t n = 6; n <= 9; ++n) writer.push(numbered(n, budget));
        disk.release(4);
    }
    EXPECT_EQ(order, (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(budget->inFlight(), 0);
    EXPECT_EQ(budget->bytesQueued(), 0u);
    EXPECT_EQ(budget->peakBytesQueued(), 5 * kFrameBytes);
}

TEST(WriterThread, AFailedWriteClosesAndCountsEveryLaterFrameLost) {
    auto budget = std::make_shared<FrameBudget>();
    std::binary_semaphore gate(0);
    std::atomic<int> writes{0};
    FrameWriterThread writer(
        [&](FramePtr&) {
            gate.acquire();
            return ++writes < 3;  // the third write fails
        },
        [] { return true; }, nullptr);
    for (uint64_t n = 1; n <= 6; ++n) writer.push(numbered(n, budget));
    for (int i = 0; i < 3; ++i) gate.release();
    ASSERT_TRUE(writer.waitUntilEnded(5000));
    writer.push(numbered(7, budget));
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.framesWritten(), 2);
    EXPECT_EQ(writer.framesLost(), 5);  // the failed one, three queued, one pushed after
    EXPECT_EQ(budget->inFlight(), 0);
}

using View = tvtest::RecordingLog;

// Cancel, a timed end and exit, each with frames handed over faster than they are waited
// for: every frame handed over is in the file, the summary (not at exit) comes once the
// file is closed.
TEST(WriterThread, EveryEndWritesOutTheQueueBeforeTheFileCloses) {
    TempDir dir;
    std::atomic<uint32_t> now{1000};
    testclock::setMillis([&] { return now.load(); });
    enum class End { Cancel, Timed, Exit };
    for (End end : {End::Cancel, End::Timed, End::Exit}) {
        View view;
        std::atomic<int> wakes{0};
        RecordingController rec;
        view.listenTo(rec);
        QObject::connect(&rec, &RecordingController::writerNeedsWindow, [&] { ++wakes; });
        const std::string path = dir / ("m_0000" + std::to_string(int(end)) + ".SER");
        ASSERT_TRUE(rec.startRecording(CaptureFormat::Ser, path, kW, kH, false, 8,
                                       {end == End::Timed ? 1 : 0, end == End::Timed}, false));
        for (int i = 0; i < 200; ++i) rec.recordFrame(makeFrame(kW, kH));
        if (end == End::Exit) {
            EXPECT_TRUE(rec.close());
            EXPECT_EQ(view.summaries.size(), 0u);
        } else {
            if (end == End::Cancel) {
                rec.cancel();  // ends the recording itself
                EXPECT_TRUE(rec.ending() || !rec.busy());
            } else {
                now += 1000;
                EXPECT_TRUE(rec.finishIfOver());
            }
            rec.recordFrame(makeFrame(kW, kH));  // after the end: not taken
            rec.waitForWriter();
            EXPECT_EQ(view.summaries.size(), 1u);
            EXPECT_GE(wakes.load(), 1);  // the window thread was told the file is closed
        }
        EXPECT_FALSE(rec.busy());
        EXPECT_EQ(view.closed, 1);
        EXPECT_TRUE(view.failures.empty());
        EXPECT_EQ(rec.framesWritten(), 200);
        EXPECT_EQ(serFrameCount(path), 200);
        EXPECT_EQ(readAll(path).size(), size_t(kSerHeaderSize) + 200 * (kFrameBytes + 8));
    }
    testclock::setMillis(nullptr);
}

TEST(WriterThread, TheSummaryReportsTheCameraHeldBackAndFramesLost) {
    GapReport r;
    r.exposuresHeldBack = 3;
    r.heldBackSeconds = 1.25;
    r.framesLost = 1;
    r.failedExposures = 2;
    const std::string text = gapText(r);
    EXPECT_NE(text.find("no gaps, 2 failed exposures, "), std::string::npos) << text;
    EXPECT_NE(text.find("camera held back 3 times (1"), std::string::npos) << text;
    EXPECT_NE(text.find("1 frame not written"), std::string::npos) << text;
}
}  // namespace
