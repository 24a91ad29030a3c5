#include "session/AnalysisWorker.h"

#include <QMetaObject>
#include <chrono>

AnalysisWorker::AnalysisWorker(QObject* context) : context_(context) {
    thread_ = std::thread([this] { run(); });
}

AnalysisWorker::~AnalysisWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        waiting_ = nullptr;
    }
    changed_.notify_all();
    thread_.join();
}

void AnalysisWorker::submit(Job job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_) ++replaced_;
        waiting_ = std::move(job);
    }
    changed_.notify_all();
}

uint64_t AnalysisWorker::replaced() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return replaced_;
}

bool AnalysisWorker::waitIdle(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !waiting_ && !running_; });
}

void AnalysisWorker::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || waiting_; });
        if (stop_) return;
        Job job = std::move(waiting_);
        waiting_ = nullptr;
        running_ = true;
        lock.unlock();
        Result result = job();
        job = nullptr;  // the frame's samples it holds go now, not with the next job
        if (result) QMetaObject::invokeMethod(context_, std::move(result), Qt::QueuedConnection);
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}
