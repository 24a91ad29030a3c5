#pragma once
// The acquisition thread: the one thread that talks to the camera library. It opens the
// camera, then runs one exposure after another and hands each filled Frame to the window
// thread. Other threads reach it through a small interface: the settings they ask for
// (taken between exposures), a few commands, and one consistent status snapshot.
#include <semaphore.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/CameraControls.h"
#include "acquisition/FocuserLink.h"
#include "acquisition/Frame.h"
#include "acquisition/tarvidll.h"
#include "platform/Clock.h"
#include "platform/Memory.h"

// Hands a filled frame to the window thread. A frame that cannot be delivered is simply
// destroyed with its pointer.
using PostFrameFn = std::function<void(FramePtr)>;

// What the acquisition loop is doing, for the status display of the window thread.
//   Idle      the thread has not started its loop yet
//   Exposing  an exposure is running (or about to start)
//   Stalled   the camera did not report the frame within the exposure length plus the
//             stall margin (the exposure was cancelled and the thread waits for the camera),
//             or it refused the exposure (the thread asks again every kRefusedPauseMs)
//   Stopped   the loop has ended (stopped, no camera, or an error)
//   Throttled the frames handed to the window thread fill their budget; the next exposure waits
//   DiskBehind a recording's writer queue is full; the next exposure waits for the disk
enum class CameraState : int {
    Idle = 0,
    Exposing = 1,
    Stalled = 2,
    Stopped = 3,
    Throttled = 4,
    DiskBehind = 5
};

// Status-bar text of a state ("" for the ordinary states), untranslated: the text to pass to
// QCoreApplication::translate in the context "CaptureThread".
const char* cameraStateText(CameraState state);

struct WhiteBalance {
    int32_t blue = 127;
    int32_t green = 127;
    int32_t red = 127;
};

// The camera settings the user asks for. The capture thread brings them into force before
// an exposure while no recording runs; a recording keeps the ones it started with, except the
// subframe's place.
struct CaptureSettings {
    int64_t exposureUs = 100'000;  // microseconds
    int32_t gain = 0;
    // The subframe; kept inside the sensor (0 or more than the sensor: the full sensor).
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 8;  // bits per sample, 8 or 16
    bool flip = false;
    // Where the subframe lies on the sensor (its left column and top row); -1: centred in
    // that direction. The camera keeps it inside the sensor, on even pixels.
    int32_t left = -1;
    int32_t top = -1;
};

// One consistent picture of the capture thread, taken with status().
struct CaptureStatus {
    CameraState state = CameraState::Idle;
    bool cameraOpen = false;
    std::string cameraName;
    int32_t sensorWidth = 0;
    int32_t sensorHeight = 0;
    // The most significant bits per sample the camera can deliver (8 for a camera that
    // delivers 8 bits only): more than 8 means 16-bit frames can be asked for.
    int32_t cameraBits = 8;
    // The pixel size in micrometres (0: not known) and the camera's own gain values at 0 and
    // 100 % (equal: not known), as the camera library reports them.
    double pixelWidthUm = 0, pixelHeightUm = 0;
    double gainAtZero = 0, gainAtFull = 0;
    // The geometry, depth and flip of the frames being produced now.
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 8;
    bool flip = false;
    // Where the last frame delivered lies on the sensor (Frame::sensorLeft and sensorTop);
    // -1 while not known.
    int32_t frameLeft = -1;
    int32_t frameTop = -1;
    // The length in force in microseconds (whole milliseconds for a library that takes no
    // microseconds), 0 before the first exposure.
    int64_t exposureUs = 0;
    bool recording = false;
    uint64_t exposuresStarted = 0;
    // Exposures the camera library reported as failed: neither shown nor recorded.
    uint64_t failedExposures = 0;
    // Exposures started per second, over the last second or so of exposures.
    int framesPerSecond = 0;
    bool realTime = false;  // the system granted real-time scheduling to the thread
    // Exposures that waited for room in a writer queue (the disk behind), and how long.
    uint64_t exposuresHeldBack = 0;
    uint64_t heldBackMs = 0;
    // The filter wheel of the camera library; none while filterNames is empty.
    std::string wheelName;
    std::vector<std::string> filterNames;  // of positions 1..n
    int32_t filterSlot = 0;                // in the beam as last reported; 0 = not known
    // From a move asked for (or one another program started) until the acquisition thread
    // has seen the wheel still: frames of exposures begun meanwhile are marked filterMoving.
    bool wheelMoving = false;
    // The camera library's word on the camera beyond each exposure (CameraHealth): the trouble
    // in force ("" while all is well), the troubles the library counted so far, and the text
    // of the latest trouble seen (kept once it has ended).
    std::string cameraTrouble;
    uint64_t cameraTroubles = 0;
    std::string lastCameraTrouble;
};

// The gain `percent` (0..100) in the camera's own units; nullopt where the library reports
// none.
std::optional<double> cameraGainAt(const CaptureStatus& camera, int32_t percent);

class CaptureThread {
  public:
    explicit CaptureThread(PostFrameFn post);
    ~CaptureThread();  // stops and joins the thread (bounded), frees its buffers
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

    // ---- settings, taken before the next exposure (any thread)
    // The exposure length in microseconds; a library that takes whole milliseconds only gets
    // it rounded to the millisecond, at least 1 ms.
    void setExposureUs(int64_t us);
    void setExposureMs(int32_t ms) { setExposureUs(int64_t{ms} * 1000); }
    void setGain(int32_t gain);
    // Sends the gain before the next exposure even while a recording runs: the user
    // released the gain slider.
    void sendGain();
    void setWhiteBalance(const WhiteBalance& balance);  // sent also while recording
    void setSubframe(int32_t width, int32_t height);
    void setSubframeWidth(int32_t width);
    void setSubframeHeight(int32_t height);
    // Where the subframe lies on the sensor, its left column and top row (-1: centred in that
    // direction); reaches a camera library with SubframeOrigin, others keep theirs centred.
    void setSubframeOrigin(int32_t left, int32_t top);
    void setFlip(bool on);
    // 8 or 16 bits per sample; 16 only reaches a camera that delivers more than 8 bits.
    void setDepth(int32_t bits);
    // The user's "Color Camera" choice: off labels every frame Mono; on takes the pattern
    // the camera reports, or the assumed one (assumedPattern) when it reports none.
    void setColorCamera(bool on) { colorCamera_ = on; }
    // Turns the filter wheel to position `slot` (1..) between exposures; wheelMoving holds
    // in the status from this call on until the thread has seen the wheel still.
    void setFilterSlot(int32_t slot);
    // Sets one of the camera's own controls (CameraControl::id) between exposures; one that a
    // recording must not see waits for its end. controls() tells what came of it.
    void setControl(const std::string& id, double value) { controlHost_.request(id, value); }
    ControlSnapshot controls() const { return controlHost_.snapshot(); }
    // The focuser of the camera library: moves asked for are sent between exposures.
    FocuserLink& focuser() { return focuser_; }
    const FocuserLink& focuser() const { return focuser_; }
    CaptureSettings settings() const;   // as asked for, not necessarily in force yet
    WhiteBalance whiteBalance() const;  // as asked for last
    // The overlay text: date-time format and prefix, applied to each frame's start time.
    void setStamp(std::string format, std::string prefix);
    std::string stampFormat() const;

    // ---- commands
    // Opens the camera on the acquisition thread (openUSB, the sensor size and name, the
    // semaphore) and waits for the answer; true when the camera opened. The thread then
    // waits for start(). False also when no library is loaded, and when full-sensor frames
    // do not fit the frame budget (set it first): cameraFailureReason() then gives their
    // size and the budget.
    bool openCamera();
    // Starts the exposures (once, after openCamera succeeded; without it the thread ends).
    void start();
    bool started() const { return started_; }
    // Asks the loop to end after the running exposure (no wait).
    void requestStop();
    // requestStop, then waits until the thread has ended or the timeout passed; true when
    // it ended (also when it never started).
    bool stop(uint32_t timeoutMs);
    // True once the thread body has returned, or when it never started.
    bool finished() const;
    // For a change of camera: with `on`, the thread has the library close the camera
    // (CameraClose) as its last act, also after an open that failed. libraryClosed() then says
    // whether the library ended its threads (it may be unloaded) once the thread has finished.
    void setCloseAtEnd(bool on) { closeAtEnd_ = on; }
    bool libraryClosed() const { return libraryClosed_.load(); }
    // Back to the state before openCamera, for the next camera, once the thread has finished
    // (stop): the settings asked for stay, everything learnt of the camera goes.
    void reset();
    // Recording on or off: while on, only white balance and a sent gain reach the camera,
    // and exposures are started in recording mode.
    void setRecording(bool on);
    bool recording() const { return recording_.load(); }
    // Cuts the running exposure short and returns the number of the last exposure started
    // before the cut: every frame with a higher exposureNumber was exposed entirely after
    // this call. The acquisition thread cancels that exposure within kCutSliceMs when it is
    // still running.
    uint64_t cutExposure();

    // ---- status
    CaptureStatus status() const;
    // Frames handed to the window thread and not yet destroyed (writer queues included).
    int framesInFlight() const { return budget_->inFlight(); }
    // The budget of the frames handed over, in bytes: those in the hand-off to the window
    // thread, and those in a recording's writer queue. Frames too large for it
    // (FrameBudget::fitsFrame) are never made: a camera whose full sensor does not fit is
    // not opened, and 16-bit frames that do not fit are taken at 8 bits.
    void setFrameBudget(uint64_t handOffBytes, uint64_t queueBytes) {
        budget_->setLimits(handOffBytes, queueBytes);
    }
    const FrameBudget& frameBudget() const { return *budget_; }
    // A camera that does not report its frame within the exposure length plus this margin
    // counts as stalled.
    void setStallMarginMs(uint32_t ms) { stallMarginMs_ = ms; }
    uint32_t stallMarginMs() const { return stallMarginMs_.load(); }
    // Buffers of exposures that a stalled camera never finished (read by tests once the
    // thread has ended).
    const std::vector<FramePtr>& abandonedFrames() const { return abandoned_; }
    // The semaphore handed to the camera library (for tests of the hand-over).
    const sem_t* doneSemaphore() const { return &doneSemaphore_; }

    static constexpr uint32_t kStallMarginMs = 5000;
    // The hand-off's share of the frame budget: frames posted to the window thread and not
    // yet handled. Small, so that the preview never lags far behind the camera.
    static constexpr uint64_t kHandOffBudgetBytes = 64ull << 20;
    // Every wait of the thread (semaphore, frame budget) is cut into slices of this length,
    // so that a stop is seen within one slice; a cut is seen within kCutSliceMs.
    static constexpr uint32_t kWaitSliceMs = 20;
    static constexpr uint32_t kCutSliceMs = 5;
    // A refused exposure is asked for again after this pause; the library's health is read
    // at most once in kHealthPeriodMs.
    static constexpr uint32_t kRefusedPauseMs = 250;
    static constexpr uint32_t kHealthPeriodMs = 250;

  private:
    enum class Phase { Created, Opening, Opened, Running, Finished };

    void run();
    bool openOnThread();
    void closeOnThread();
    void exposureLoop();
    bool waitForStart();
    bool waitForBudget();
    // `cancelled`: set when a cut cancelled the exposure before it ended.
    bool waitForExposureEnd(int64_t exposureUs, uint64_t number, bool* cancelled);
    bool timedWaitDone(uint32_t ms);
    void deliver(FramePtr frame);
    void applySettings(bool recording);
    int64_t sendExposureLength(int64_t us);
    void finishFrame(Frame& frame, const TarviFrameInfo& info);
    void markFinished();
    void setState(CameraState state);
    void noteExposureStarted(uint64_t number);
    FramePtr newCaptureFrame() const;
    std::string budgetProblem(int32_t width, int32_t height, int32_t depth) const;
    void keepWithinBudget(CaptureSettings& want);
    void serviceWheel();
    void readSensorSize();
    void serviceHealth();
    bool pauseAfterRefusal();
    void publishWheel(const TarviWheelState& wheel, bool moving);
    bool exposedWhileWheelMoved(uint64_t number, int64_t startUnixUs) const;
    bool begunBeforeCut(uint64_t number, int64_t startUnixUs, int64_t exposureUs) const;

    PostFrameFn post_;
    std::thread thread_;
    bool started_ = false;  // window thread only

    // Settings asked for, under requestMutex_; the serials tell the thread what is new.
    mutable std::mutex requestMutex_;
    CaptureSettings request_;
    WhiteBalance balance_;
    uint64_t balanceSerial_ = 0;
    uint64_t gainSerial_ = 0;
    std::string stampFormat_{"dd/mm/yyyy hh:mm:ss.zzz"};
    std::string stampPrefix_;
    int32_t filterSlot_ = 0;
    uint64_t filterSerial_ = 0;

    // The status snapshot, under statusMutex_.
    mutable std::mutex statusMutex_;
    CaptureStatus status_;

    // Life of the thread.
    mutable std::mutex phaseMutex_;
    std::condition_variable phaseCv_;
    Phase phase_ = Phase::Created;
    bool startRequested_ = false;
    std::atomic<bool> running_{true};
    std::atomic<bool> recording_{false};
    std::atomic<bool> colorCamera_{true};
    std::atomic<bool> closeAtEnd_{false};
    std::atomic<bool> libraryClosed_{false};
    std::atomic<uint32_t> stallMarginMs_{kStallMarginMs};

    // Held while an exposure is numbered and started, and while cutExposure picks the one
    // to cut.
    std::mutex exposureStartMutex_;
    uint64_t exposuresStarted_ = 0;  // under exposureStartMutex_
    std::atomic<uint64_t> cutTarget_{0};
    std::atomic<int64_t> cutUnixUs_{0};  // when the last cut was asked for, UTC microseconds
    std::atomic<int64_t> runningExposureUs_{0};  // the length of the exposure under way
    std::atomic<int64_t> cutExposureUs_{0};      // that length at the last cut

    std::shared_ptr<FrameBudget> budget_ = [] {
        auto budget = std::make_shared<FrameBudget>();
        budget->setLimits(kHandOffBudgetBytes, defaultWriterQueueBytes());
        return budget;
    }();

    // Acquisition thread only.
    sem_t doneSemaphore_{};
    bool semaphoreMade_ = false;
    int32_t sensorWidth_ = 0;
    int32_t sensorHeight_ = 0;
    int32_t cameraBits_ = 8;
    CaptureSettings active_;
    int64_t lastExposureSent_ = -1;  // as asked for, microseconds; -1 before the first
    int64_t exposureInForce_ = 0;    // what the camera took for it
    std::string budgetRefusal_;      // the last request refused for the budget, logged once
    uint64_t balanceSent_ = 0;
    uint64_t gainSent_ = 0;
    uint64_t failed_ = 0;
    bool refused_ = false;  // the last exposure asked for was refused
    uint32_t healthAskedMs_ = 0;
    bool healthAsked_ = false;
    uint32_t rateWindowStart_ = 0;
    uint64_t rateWindowFirst_ = 0;
    // The filter wheel: the last move asked of it and what the thread has seen of it. Frames
    // of exposures from moveFrom_ on are marked until the wheel is seen still; from
    // steadyFrom_ on only those that the camera began before the wheel settled.
    uint64_t filterSent_ = 0;
    int32_t wheelTarget_ = 0;  // the position moved to; 0 once reached
    bool wheelMoving_ = false;
    uint64_t moveFrom_ = 0, steadyFrom_ = 0;
    int32_t lastWheelSlot_ = 0;  // the position the wheel was in at the last look
    int64_t settledUs_ = 0;
    unsigned wheelNames_ = 0;
    bool wheelKnown_ = false;  // the names have been read
    FocuserLink focuser_;
    FramePtr captureFrame_;
    FramePtr nextCaptureFrame_;
    std::vector<FramePtr> abandoned_;
    ControlHost controlHost_;
};

// The exposure length (microseconds) the camera library in use takes for a request: clamped
// to 10 us..10 s, and rounded to whole milliseconds, at least 1, for a library without
// SetExposureMicroseconds.
int64_t exposureTakenUs(int64_t us);

// The frame rate shown in the status bar: trunc(frames / elapsedMs * 1000); 0 when no
// time has passed.
int framesPerSecond(uint64_t frames, uint32_t elapsedMs);

// The overlay text of a moment: "" or the date-time in format, preceded by
// prefix + " " when the prefix is not blank.
std::string buildStampText(const std::string& format, const std::string& prefix, LocalDateTime t);
