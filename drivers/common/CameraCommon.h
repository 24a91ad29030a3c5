#pragma once
// The part of a camera library that every camera shares: the exposure worker thread and the
// entry points ExposureSemaphore, ThreadedExposure, CancelExposure, SetExposureLength,
// SetExposureMicroseconds, SetGain, SetWhiteBalance, Subframe, HorizontalFlip and CameraFrameInfo.
//
// A camera library links this and defines the two functions at the end: what its largest
// subframe is, and how an exposure fills the buffer. openUSB, GetCameraInfo and any entry
// points of its own stay with the camera; they take Lock() to reach the shared settings.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

namespace camera {

// Settings in force from the next exposure; ThreadedExposure hands a copy to the fill.
struct Settings {
    int width = 0;
    int height = 0;
    bool flip = false;
    long long exposureUs = 100'000;    // microseconds, 10 to 10000000
    int gain = 10;                     // 0 to 100
    int balance[3] = {127, 127, 127};  // blue, green, red, each 0 to 255
    int depth = 8;                     // bits of each buffer word: 8 or 16
    int maxBits = 8;  // the camera's deepest samples; more than 8 lets it fill 16-bit words
    // The subframe's left edge and top row on the sensor as SubframeOrigin asked for them;
    // negative: centred in that direction. placeSubframe gives where it lies.
    int left = -1;
    int top = -1;
};

// Where the subframe of `settings` lies on a sensor of sensorWidth x sensorHeight: the origin
// asked for (centred where negative), moved inside the sensor, then rounded down to even.
struct Placement {
    int left = 0;
    int top = 0;
};
Placement placeSubframe(const Settings& settings, int sensorWidth, int sensorHeight);

// What the fill function says of the exposure it filled.
struct FillResult {
    bool filled = true;     // false: the buffer does not hold the exposure
    int bitsPerSample = 0;  // significant bits of each sample; 0 = not reported
    int colorPattern = 0;   // a TARVI_PATTERN_ value; 0 = not reported
    int subframeLeft = -1;  // where the buffer lies on the sensor; -1 = not reported
    int subframeTop = -1;
};

// One exposure as the worker thread hands it to the fill function.
class Exposure {
  public:
    Exposure(uint8_t* buffer, const Settings& settings, std::chrono::steady_clock::time_point start,
             int64_t startUnixUs)
        : buffer_(buffer), settings_(settings), start_(start), startUnixUs_(startUnixUs) {}

    // Rows of Used().width samples of Used().depth bits, each padded to a multiple of 4
    // bytes.
    uint8_t* buffer() const { return buffer_; }
    size_t stride() const {
        const size_t bytes = static_cast<size_t>(settings_.width) * (settings_.depth == 16 ? 2 : 1);
        return (bytes + 3) & ~size_t{3};
    }
    // The settings this exposure was started with.
    const Settings& used() const { return settings_; }
    // When it started: on the steady clock, and as CameraFrameInfo reports it (microseconds
    // since 1970 UTC).
    std::chrono::steady_clock::time_point start() const { return start_; }
    int64_t startUnixUs() const { return startUnixUs_; }

    // Waits until the exposure length has passed since the start, or until CancelExposure.
    // Returns the part of the length that passed, 0 to 1. The worker calls it after the
    // fill when the fill did not, so a fill may do its work before or after the wait.
    double waitForEnd();
    bool waited() const { return waited_; }

  private:
    uint8_t* buffer_;
    Settings settings_;
    std::chrono::steady_clock::time_point start_;
    int64_t startUnixUs_ = 0;
    bool waited_ = false;
    double part_ = 1.0;
};

using FillFunction = std::function<FillResult(Exposure&)>;

// The colour pattern (a TARVI_PATTERN_ value) of a mosaic read from column dx, row dy on:
// odd offsets swap the columns or rows of the 2 x 2 cell. Mono and unknown stay.
int shiftedPattern(int pattern, int dx, int dy);
// The pattern of `width` columns of a mosaic read right to left, its first column being the
// last of the original: with an even width the columns of the cell swap.
int mirroredPattern(int pattern, int width);

// The lock over the shared settings and over the camera's own state.
std::unique_lock<std::mutex> lockCamera();
// With lockCamera() held: the settings for the next exposure, and whether one is running.
Settings& current();
bool exposureRunning();
// Ends the worker thread (cutting short an exposure still running), without the lock held: a
// library's CameraClose calls it so that none of its code runs once it is unloaded. The next
// ThreadedExposure starts the worker again.
void stopWorker();

// Defined by the camera library.
// The largest subframe now; 0 x 0 while the camera is not open. Called with Lock() held.
void maxSubframe(int* width, int* height);
// The function that fills the exposure starting now with `settings`, on the worker thread
// without the lock; an empty function refuses the exposure. Called with Lock() held.
FillFunction beginExposure(const Settings& settings);

}  // namespace camera
