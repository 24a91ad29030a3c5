#pragma once
// The acquisition thread: drives the camera, one exposure after another, and hands each
// filled FrameNode to the window thread.
#include <semaphore.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/ImageList.h"
#include "acquisition/SharedText.h"
#include "platform/Clock.h"

// Event type of the frame hand-off (a Qt event type in the shell).
constexpr int WM_FRAMEREADY = 0x1400;

// Hands a filled frame to the window thread. Returns false when it could not be
// delivered; the acquisition thread then frees the frame itself.
using PostFrameFn = std::function<bool(FrameNode*)>;

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

class TVideoCapture {
  public:
    explicit TVideoCapture(PostFrameFn post);
    ~TVideoCapture();  // stops and joins the thread (bounded), frees its buffers
    TVideoCapture(const TVideoCapture&) = delete;
    TVideoCapture& operator=(const TVideoCapture&) = delete;

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

    // openUSB(0); CameraOpen := result is 1. False also when no library is loaded.
    bool OpenCamera();
    void RequestWhiteBalance(int32_t blue, int32_t green, int32_t red);
    // SetExposureLength(ms) when ms differs from LastExposureSent.
    void SendExposureLength(int32_t ms);

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
    void Deliver(FrameNode* node);
    void ApplySettings();
    void MarkSuspended();

    PostFrameFn post_;
    std::thread thread_;
    bool started_ = false;
    std::atomic<bool> suspended_{false};
    std::atomic<CameraState> state_{CameraState::Idle};
    std::mutex suspendMutex_;
    std::condition_variable suspendCv_;
    int32_t exposureInForce_ = 100;  // acquisition thread only
};

// Shared globals of the acquisition subsystem.
extern std::atomic<int32_t> RequestedDepth;  // 8
extern std::atomic<int32_t> ActiveDepth;     // 8
extern std::atomic<bool> RequestedFlip;      // false
extern std::atomic<bool> ActiveFlip;         // false
extern int32_t LastExposureSent;             // 99999999; acquisition thread only
extern FrameNode* CaptureFrame;              // acquisition thread only
extern FrameNode* NextCaptureFrame;          // acquisition thread only
extern SharedText CurrentStampText;          // built before each exposure
extern SharedText StampFormat;               // written by the overlay dialog
extern SharedText StampPrefix;               // written by the overlay dialog

// Puts the globals above back to their start values (frees nothing). The constructor of
// TVideoCapture calls it, so every capture object starts from the same state.
void ResetAcquisitionGlobals();

// Buffers of exposures that a stalled camera never finished: kept (never freed) because
// the library may still write into them. Linked through Next; acquisition thread only.
extern FrameNode* AbandonedFrames;

// The overlay text of a moment: "" or the date-time in format, preceded by
// prefix + " " when the prefix is not blank.
std::string BuildStampText(const std::string& format, const std::string& prefix, TDateTime t);
