#pragma once
// One GenICam camera reached through Aravis: opened by its Aravis device id, streaming
// continuously into a small pool of Aravis buffers from which each exposure of the program takes
// the oldest frame not yet delivered, copied once into the program's buffer.
//
// Threads: the entry points call it from the program's acquisition thread, one at a time; the
// worker thread takes the frames off the stream and hands them to the exposure that waits for
// one. `mutex_` guards what the two share; the camera's features are reached from the
// acquisition thread only.
#include <arv.h>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "PixelFormats.h"

namespace aravis {
using Clock = std::chrono::steady_clock;

// The settings the program asked for, kept as asked and placed at each exposure.
struct Request {
    int width = 0;  // the subframe; 0 x 0 = the whole sensor
    int height = 0;
    int left = -1;  // the subframe's left edge and top row on the sensor; -1 = centred
    int top = -1;
    bool flip = false;
    long long exposureUs = 100'000;
    int gain = 10;  // 0 to 100 of the camera's gain range
    int depth = 8;  // bits of a buffer word: 8 or 16
};

// What CameraFrameInfo reports of the exposure whose end was signalled last.
struct Delivered {
    bool known = false;
    bool good = false;
    long long startUnixUs = 0;
    int bits = 0;
    int pattern = 0;
    int left = -1;
    int top = -1;
};

// What CameraHealth reports.
struct Health {
    int state = 0;  // TARVI_HEALTH_...
    unsigned troubles = 0;
    unsigned restarts = 0;
    std::string text;
};

class Camera {
  public:
    Camera() = default;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;
    ~Camera() { close(); }

    // Opens the camera of Aravis device id `device` (the first one found when empty) with the
    // pixel format named `format` (empty: the camera's mono or Bayer family at its depth), and
    // starts its stream. False with the reason in *why.
    bool open(const std::string& device, const std::string& format, std::string* why);
    void close();
    bool isOpen() const { return camera_ != nullptr; }

    const std::string& name() const { return name_; }
    int sensorWidth() const { return sensorWidth_; }
    int sensorHeight() const { return sensorHeight_; }
    // The most significant bits a sample can have in the format family in use.
    int deepestBits() const;
    // The camera's own gain values at 0 and 100; false without gain.
    bool gainRange(double* low, double* high) const;
    ArvCamera* handle() const { return camera_; }

    // The settings, from the next exposure on. Those that change the stream's images (size,
    // place, depth) restart the stream at the next exposure.
    void setExposure(long long us);
    void setGain(int gain);
    void setFlip(bool flip);
    bool setSubframe(int width, int height);
    void setOrigin(int left, int top);
    bool setDepth(int bits);
    const Request& request() const { return request_; }

    void setSemaphore(sem_t* done);
    // Takes the next frame into `buffer`: at once when one waits, else when it comes. False
    // when an exposure runs already or the camera cannot deliver (lost, and not back yet).
    bool expose(uint8_t* buffer);
    bool cancel();
    Delivered delivered();
    bool health(Health* health);
    // Why the camera failed last; "" when it did not.
    std::string lastError();

  private:
    struct Pending {
        uint8_t* buffer = nullptr;
        TargetFrame target;
        int left = 0;  // where the frame lies on the sensor
        int top = 0;
        Clock::time_point deadline;
    };

    bool configure(std::string* why);
    bool startStream(std::string* why);
    void stopStream();
    void applyExposure();
    void applyGain();
    void work();
    // With mutex_ held: hands the oldest waiting frame to the pending exposure and posts.
    void deliverLocked();
    void failPendingLocked(const std::string& trouble, int state);
    void flushLocked();
    void postLocked();
    long long startOfLocked(ArvBuffer* buffer) const;
    bool reopen();
    static void onControlLost(ArvDevice* device, void* self);

    // The camera and the stream in force (acquisition thread).
    ArvCamera* camera_ = nullptr;
    ArvStream* stream_ = nullptr;
    std::string device_, formatName_, name_;
    int sensorWidth_ = 0, sensorHeight_ = 0;
    const PixelFormat* format_ = nullptr;
    bool reverseX_ = false;  // the camera mirrors its rows itself
    bool restartWanted_ = false;
    // The image the camera sends and where the subframe lies in it.
    int regionX_ = 0, regionY_ = 0, regionWidth_ = 0, regionHeight_ = 0;
    int cropLeft_ = 0, cropTop_ = 0, placedLeft_ = 0, placedTop_ = 0;
    Request request_;
    Clock::time_point nextReopen_;

    std::thread worker_;
    std::atomic<bool> stopWorker_{false};
    std::atomic<bool> controlLost_{false};

    // Shared with the worker.
    std::mutex mutex_;
    sem_t* done_ = nullptr;
    bool hasPending_ = false;
    Pending pending_;
    std::deque<ArvBuffer*> ready_;
    Delivered delivered_;
    long long exposureUsInForce_ = 100'000;
    // The least time seen from a frame's camera timestamp to its arrival, for cameras whose
    // clock is not the computer's; reset whenever the exposure changes.
    int64_t leastDelayNs_ = INT64_MAX;
    Health health_;
    std::string lastError_;
};

}  // namespace aravis
