#pragma once
// Stands in for the window thread's message queue: collects the frames the acquisition
// thread posts; whatever is left is destroyed with the queue.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "acquisition/CaptureThread.h"

class FrameQueue {
  public:
    // The post function for CaptureThread; delivers while `accept` is true.
    PostFrameFn poster() {
        return [this](FramePtr frame) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!accept_) return;  // not delivered: the frame goes with its pointer
            frames_.push_back(std::move(frame));
            ++posted_;
            changed_.notify_all();
        };
    }
    void setAccept(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        accept_ = on;
    }
    // Oldest frame, or nullptr after the timeout.
    FramePtr pop(int timeoutMs = 2000) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return !frames_.empty(); }))
            return nullptr;
        FramePtr frame = std::move(frames_.front());
        frames_.pop_front();
        return frame;
    }
    bool waitForPosted(int count, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return posted_ >= count; });
    }
    int posted() {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.clear();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FramePtr> frames_;
    int posted_ = 0;
    bool accept_ = true;
};
