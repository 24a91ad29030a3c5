#pragma once
// Stands in for the window thread's message queue: collects the frames the acquisition
// thread posts and frees whatever is left at the end.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "acquisition/CaptureThread.h"

class FrameQueue {
  public:
    ~FrameQueue() { Clear(); }

    // The post function for CaptureThread; delivers while `accept` is true.
    PostFrameFn Poster() {
        return [this](Frame* node) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!accept_) return false;
            frames_.push_back(node);
            ++posted_;
            changed_.notify_all();
            return true;
        };
    }
    void SetAccept(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        accept_ = on;
    }
    // Oldest frame, or nullptr after the timeout. The caller owns it (FreeFrame).
    Frame* Pop(int timeoutMs = 2000) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return !frames_.empty(); }))
            return nullptr;
        Frame* node = frames_.front();
        frames_.pop_front();
        return node;
    }
    bool WaitForPosted(int count, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return posted_ >= count; });
    }
    int Posted() {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Frame* node : frames_) FreeFrame(node);
        frames_.clear();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Frame*> frames_;
    int posted_ = 0;
    bool accept_ = true;
};
