#pragma once
// The acquisition thread: drives the camera, one exposure after another, and hands each
// filled Frame to the window thread.
#include <semaphore.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/Frame.h"
#include "acquisition/SharedText.h"
#include "platform/Clock.h"

// Event type of the frame hand-off (a Qt event type in the shell).
constexpr int WM_FRAMEREADY = 0x1400;

// Hands a filled frame to the window thread. A frame that cannot be delivered is simply
// destroyed with its pointer.
using PostFrameFn = std::function<void(FramePtr)>;

// What the acquisition loop is doing, for the status display of the window thread.
//   Idle      the thread has not started its loop yet
//   Exposing  an exposure is running (or about to start)
//   Stalled   the camera did not report the frame within the exposure length plus
//             StallMarginMs; the exposure was cancelled and the thread waits for the camera
//   Stopped   the loop has ended (Running cleared, no camera, or an error)
//   Throttled the window thread holds kMaxFramesInFlight frames; the next exposure waits
enum class CameraState : int { Idle = 0, Exposing = 1, Stalled = 2, Stopped = 3, Throttled = 4 };

// Status-bar text of a state ("" for the ordinary states).
const char* CameraStateText(CameraState state);

class CaptureThread {
  public:
    explicit CaptureThread(PostFrameFn post);
    ~CaptureThread();  // stops and joins the thread (bounded), frees its buffers
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

    std::atomic<int32_t> SensorHeight{0};
    std::atomic<int32_t> SensorWidth{0};
    std::atomic<int32_t> Gain{0};
    std::atomic<int32_t> Recording{0};
    std::atomic<int32_t> ExposureMs{100};
    std::atomic<bool> Running{true};
    sem_t DoneSemaphore{};
    std::atomic<int32_t> ActiveWidth{0};
    std::atomic<int32_t> ActiveHeight{0};
    std::atomic<int32_t> RequestedWidth{0};
    std::atomic<int32_t> RequestedHeight{0};
    std::atomic<uint32_t> FpsStart{0};
    std::atomic<int32_t> FrameCount{0};
    std::atomic<bool> CameraOpen{false};
    std::atomic<int32_t> WbBlue{127};
    std::atomic<int32_t> WbGreen{127};
    std::atomic<int32_t> WbRed{127};
    std::atomic<bool> WbPending{false};
    // Sample depth and mirroring asked for by the window thread, and those in force.
    std::atomic<int32_t> RequestedDepth{8};
    std::atomic<int32_t> ActiveDepth{8};
    std::atomic<bool> RequestedFlip{false};
    std::atomic<bool> ActiveFlip{false};
    // The overlay: date-time format and prefix chosen by the user, and the text of the
    // moment, built before each exposure from those two.
    SharedText StampFormat{"dd/mm/yyyy hh:mm:ss.zzz"};
    SharedText StampPrefix;
    SharedText StampText;

    // openUSB(0); CameraOpen := result is 1. False also when no library is loaded.
    bool OpenCamera();
    void RequestWhiteBalance(int32_t blue, int32_t green, int32_t red);

    // Cuts the running exposure short (CancelExposure, when the library has it) and returns
    // the number of the last exposure started before the cut: every frame with a higher
    // ExposureNumber was exposed entirely after this call. No exposure starts while the
    // cut is being made, so the number is exact.
    uint64_t CutExposure();
    // Exposures started so far; the number of the latest.
    uint64_t ExposuresStarted() const { return exposuresStarted_.load(); }

    // Starts the thread (once). Execute runs on it.
    void Start();
    bool Started() const { return started_; }
    // True once the thread body has returned ("suspended for good"), or when it was
    // never started.
    bool Suspended() const;
    // Clears Running and waits until Suspended or the timeout passed; true when suspended.
    bool StopAndWait(uint32_t timeoutMs);
    // The loop body; public so tests can run it on a thread of their own.
    void Execute();

    CameraState State() const { return state_.load(std::memory_order_relaxed); }
    // Frames handed to the window thread and not yet destroyed.
    int FramesInFlight() const { return budget_->inFlight(); }
    // Buffers of exposures that a stalled camera never finished (acquisition thread only;
    // read by tests once the thread has ended).
    const std::vector<FramePtr>& AbandonedFrames() const { return abandoned_; }

    // Bounds: a camera that does not post the semaphore within ExposureMs + this margin
    // counts as stalled; frames in flight at most MaxFramesInFlight.
    static constexpr uint32_t kStallMarginMs = 5000;
    static constexpr int kMaxFramesInFlight = 8;
    // Every wait of the thread (semaphore, frame budget) is cut into slices of this length,
    // so that a cleared Running is seen within one slice.
    static constexpr uint32_t kWaitSliceMs = 20;

    // The wait for one exposure. After the exposure length in force plus StallMarginMs
    // without the semaphore, the thread calls CancelExposure once and shows Stalled. It then
    // keeps waiting for that exposure (a camera that comes back resumes the live view) and
    // leaves the loop as soon as Running is cleared. The buffer of such an exposure is never
    // freed, since the library may still write into it; nor is DoneSemaphore destroyed, so
    // the object must outlive the library's use of it (the program keeps it to the end).
    std::atomic<uint32_t> StallMarginMs{kStallMarginMs};
    // True when the system granted real-time scheduling to the thread.
    std::atomic<bool> RealTime{false};

  private:
    bool WaitForBudget();
    bool WaitForExposureEnd(uint32_t exposureMs);
    bool TimedWaitDone(uint32_t ms);
    void Deliver(FramePtr frame);
    void ApplySettings();
    void SendExposureLength(int32_t ms);
    void MarkSuspended();
    FramePtr NewCaptureFrame();

    PostFrameFn post_;
    std::thread thread_;
    bool started_ = false;
    std::atomic<bool> suspended_{false};
    std::atomic<CameraState> state_{CameraState::Idle};
    std::mutex suspendMutex_;
    // Held while an exposure is numbered and started, and while CutExposure cuts one.
    std::mutex exposureStartMutex_;
    std::atomic<uint64_t> exposuresStarted_{0};
    std::condition_variable suspendCv_;
    std::shared_ptr<FrameBudget> budget_ = std::make_shared<FrameBudget>();
    // Acquisition thread only: the length last sent to the camera, the buffer being
    // exposed and the one made ready for the next exposure, and the buffers kept for a
    // camera that never finished writing them (never freed: the library may still write).
    int32_t exposureInForce_ = 100;
    int32_t lastExposureSent_ = 99999999;
    FramePtr captureFrame_;
    FramePtr nextCaptureFrame_;
    std::vector<FramePtr> abandoned_;
};

// The overlay text of a moment: "" or the date-time in format, preceded by
// prefix + " " when the prefix is not blank.
std::string BuildStampText(const std::string& format, const std::string& prefix, TDateTime t);
