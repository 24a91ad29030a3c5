#include "recording/FrameWriterThread.h"

#include <chrono>

FrameWriterThread::FrameWriterThread(WriteFn write, CloseFn close, WakeFn wake)
    : write_(std::move(write)), close_(std::move(close)), wake_(std::move(wake)) {
    thread_ = std::thread([this] { run(); });
}

FrameWriterThread::~FrameWriterThread() {
    finish();
    join();
}

void FrameWriterThread::push(FramePtr frame) {
    if (!frame) return;
    frame->markQueued();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++pushed_;
        if (!failed_ && !ended_) {
            queue_.push_back(std::move(frame));
        } else {
            ++lost_;
        }
    }
    cv_.notify_all();
    // A frame that cannot be written any more is destroyed here, outside the lock.
}

void FrameWriterThread::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    cv_.notify_all();
}

void FrameWriterThread::run() {
    for (;;) {
        FramePtr frame;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [this] { return !queue_.empty() || finishing_; });
            if (queue_.empty()) break;
            frame = std::move(queue_.front());
            queue_.pop_front();
        }
        const bool ok = write_ ? write_(frame) : true;
        frame.reset();  // its memory goes back to the budget before the next write
        std::deque<FramePtr> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (ok) {
                ++written_;
            } else {
                failed_ = true;
                lost_ += 1 + static_cast<int64_t>(queue_.size());
                dropped.swap(queue_);
            }
        }
        cv_.notify_all();
        if (!ok) break;
    }
    const bool closed = close_ ? close_() : true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closeFailed_ = !closed;
        ended_ = true;
        // Frames pushed while the output was being closed after a failure.
        lost_ += static_cast<int64_t>(queue_.size());
        queue_.clear();
    }
    cv_.notify_all();
    if (wake_) wake_();
}

bool FrameWriterThread::ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

bool FrameWriterThread::waitUntilDrained(uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return ended_ || written_ + lost_ == pushed_; });
}

bool FrameWriterThread::waitUntilEnded(uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return ended_; });
}

void FrameWriterThread::join() {
    if (thread_.joinable()) thread_.join();
}

int FrameWriterThread::framesQueued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(queue_.size());
}

int64_t FrameWriterThread::framesWritten() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

int64_t FrameWriterThread::framesLost() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
}

bool FrameWriterThread::failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

bool FrameWriterThread::closeFailed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closeFailed_;
}
