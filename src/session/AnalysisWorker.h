#pragma once
// A thread of its own for an analysis of frames (the histogram's count; any measure of the
// picture that must not hold up the window). It runs one job at a time and always the newest:
// a job handed over while another runs replaces the one waiting, so a slow analysis skips
// frames instead of queueing them. A job returns what to do with its result on the thread
// of the context object (the window thread for a widget). The context outlives the worker
// (it owns it): results posted to it and not yet run when it goes are dropped with it.
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class AnalysisWorker {
  public:
    // What a job hands back: run on the context's thread; may be empty.
    using Result = std::function<void()>;
    using Job = std::function<Result()>;

    explicit AnalysisWorker(QObject* context);
    // Waits for the job that runs (a job is short) and drops the one waiting.
    ~AnalysisWorker();
    AnalysisWorker(const AnalysisWorker&) = delete;
    AnalysisWorker& operator=(const AnalysisWorker&) = delete;

    // Hands over a job and returns at once; a job still waiting is dropped for it.
    void submit(Job job);
    // Jobs dropped for a newer one.
    uint64_t replaced() const;
    // Until the jobs handed over so far have run and their results were posted; true when
    // done within `timeoutMs`.
    bool waitIdle(int timeoutMs) const;

  private:
    void run();

    QObject* context_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Job waiting_;
    bool running_ = false;
    bool stop_ = false;
    uint64_t replaced_ = 0;
    std::thread thread_;
};
