#pragma once
// The thread a recording's frames are written on, and the queue that feeds it. The window
// thread pushes each frame it records (the frame itself moves into the queue: no pixel is
// copied) and never waits on the disk; the writer thread takes them in order and writes
// them. The queue's memory is bounded by the frame budget of the capture thread: a queued
// frame keeps its bytes in the budget's queue account until it is written and destroyed,
// and the capture thread waits before its next exposure while that account is full.
//
// After a failed write the thread writes nothing more: it closes the output with the
// frames written so far and counts every frame queued or pushed after that as lost.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "acquisition/Frame.h"

class FrameWriterThread {
  public:
    // Run on the writer thread: writes one frame (false: it failed, the recording is
    // over), or takes it over to write later (it then leaves the pointer empty; the frame
    // keeps its bytes in the queue's account meanwhile); closes the output once every frame
    // is written or a write failed (false: it could not be finished).
    using WriteFn = std::function<bool(FramePtr& frame)>;
    using CloseFn = std::function<bool()>;
    // Called on the writer thread when it has ended, so the window thread can finish the
    // recording without polling for it.
    using WakeFn = std::function<void()>;

    FrameWriterThread(WriteFn write, CloseFn close, WakeFn wake);
    // Writes what is queued, closes the output and joins the thread.
    ~FrameWriterThread();
    FrameWriterThread(const FrameWriterThread&) = delete;
    FrameWriterThread& operator=(const FrameWriterThread&) = delete;

    // Hands a frame over (window thread). It is written after every frame pushed before.
    void push(FramePtr frame);
    // No more frames: the thread writes what is queued, then closes the output and ends.
    void finish();
    // The output is closed and the thread has nothing more to do (join() returns at once).
    bool ended() const;
    // Waits until every frame pushed so far is written or lost, or `timeoutMs` passed;
    // true when none is left.
    bool waitUntilDrained(uint32_t timeoutMs) const;
    // Waits until ended(), or `timeoutMs` passed; true when it ended.
    bool waitUntilEnded(uint32_t timeoutMs) const;
    void join();

    int framesQueued() const;
    int64_t framesWritten() const;
    // Frames not written: queued or pushed after a failed write.
    int64_t framesLost() const;
    bool failed() const;       // a write failed
    bool closeFailed() const;  // the output could not be finished (valid once ended)

  private:
    void run();

    WriteFn write_;
    CloseFn close_;
    WakeFn wake_;

    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::deque<FramePtr> queue_;
    bool finishing_ = false;
    bool failed_ = false;
    bool ended_ = false;
    bool closeFailed_ = false;
    int64_t pushed_ = 0;
    int64_t written_ = 0;
    int64_t lost_ = 0;
    std::thread thread_;
};
