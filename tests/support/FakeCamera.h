#pragma once
// A fake camera behind the ten camera entry points, for tests.
//
//   tvtest::FakeCamera cam(640, 480, "Test Cam");
//   cam.Install();                       // Camera() now reaches this fake
//   CaptureThread capture(post);         // ... openCamera(), start()
//   ASSERT_TRUE(cam.waitForExposure(10000));
//   cam.Release();                       // fills the buffer, releases the semaphore
//   EXPECT_EQ(cam.callNames()[0], "openUSB");
//
// Every call is recorded in order with its arguments (pointers as integers). An exposure
// started with ThreadedExposure stays pending until the test calls Release() (or about
// 1 ms later, before ThreadedExposure returns, with setAutoRelease(true)); CancelExposure releases
// it too unless setCancelReleases(false) (a camera that hangs). release() fills the pending buffer
// with the fill function for the current subframe size (rows padded to a multiple of 4 bytes, the
// padding left alone) and posts the semaphore handed over with ExposureSemaphore.
//
// Only one fake is installed at a time; the destructor empties the camera table when this
// fake is the installed one. Stop any acquisition thread before the fake goes.
#include <semaphore.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tvtest {

struct CameraCall {
    std::string name;           // the entry point, e.g. "Subframe"
    std::vector<int64_t> args;  // its arguments in order; pointers as their address
    std::thread::id thread{};   // the thread that made the call
    std::string text() const;   // e.g. "Subframe(640,480)"; pointer arguments print as "*"
};

class FakeCamera {
  public:
    // Value of pixel (x, y) of the frame-th exposure (counted from 0).
    using FillFn = std::function<uint8_t(int x, int y, int frame)>;
    // Runs after each call has been recorded, on the calling thread, without the fake's
    // lock held (it may call back into the fake or into the capture object).
    using CallHook = std::function<void(const CameraCall& call)>;

    explicit FakeCamera(int width = 640, int height = 480, std::string name = "Fake Camera");
    ~FakeCamera();
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    void install();

    // Answers.
    void setOpenResult(int result);   // openUSB's result; 1 (opened) by default
    void setAutoRelease(bool on);     // release every exposure about 1 ms after it starts
    void setCancelReleases(bool on);  // CancelExposure releases a pending exposure (default)
    void setFill(FillFn fn);          // nullptr: leave buffers untouched
    void setCallHook(CallHook hook);
    // The next `count` exposures fail: their buffers stay as they are and CameraFrameInfo
    // reports them as failed.
    void failNextExposures(int count);
    // CameraFrameInfo reports this start (microseconds since 1970, UTC) for the exposure
    // with the given index (from 0); nullptr: no start reported (the default).
    void setReportedStart(std::function<int64_t(int exposure)> start);
    static FillFn constant(uint8_t value);
    static FillFn gradient();  // (x + 3 y + frame) mod 256, the default

    // Exposures.
    bool exposurePending() const;
    bool waitForExposure(int timeoutMs);  // until an exposure is pending
    bool release();                       // false when none is pending
    bool waitAndRelease(int timeoutMs);
    int exposuresStarted() const;
    sem_t* semaphore() const;  // as handed over with ExposureSemaphore

    // The call log.
    std::vector<CameraCall> calls() const;
    std::vector<std::string> callNames() const;
    // The calls as one text, "name(args) name(args) ...", from index `from` on.
    std::string trace(size_t from = 0) const;
    size_t callCount() const;
    int countOf(const std::string& name) const;
    void clearCalls();
    // Waits until `name` has been called `count` times in all.
    bool waitForCount(const std::string& name, int count, int timeoutMs) const;

    // Settings as the camera holds them now.
    int width() const;
    int height() const;
    bool flipped() const;

  private:
    friend struct FakeCameraEntry;
    void record(CameraCall call);
    void releaseLocked(std::unique_lock<std::mutex>& lock);

    const int sensorWidth_, sensorHeight_;
    const std::string name_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<CameraCall> calls_;
    int openResult_ = 1;
    bool autoRelease_ = false;
    bool cancelReleases_ = true;
    FillFn fill_;
    CallHook hook_;
    sem_t* done_ = nullptr;
    int width_, height_;
    bool flip_ = false;
    uint8_t* pending_ = nullptr;
    int pendingWidth_ = 0, pendingHeight_ = 0;
    int exposures_ = 0;
    int failNext_ = 0;
    bool lastFailed_ = false;
    int lastReleased_ = -1;
    std::function<int64_t(int)> reportedStart_;
};

}  // namespace tvtest
