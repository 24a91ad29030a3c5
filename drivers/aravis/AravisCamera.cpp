#include "AravisCamera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tarvidll.h"

namespace aravis {
namespace {
// Stream buffers: enough to ride out a slow moment of the program at the top frame rate, and
// frames waiting for the program at most, the oldest given back to the camera first.
constexpr int kStreamBuffers = 8;
constexpr size_t kMostWaiting = 4;
// A camera clock within this of the computer's is taken to be set to UTC.
constexpr int64_t kSameClockNs = 10'000'000'000LL;
// How long an exposure waits beyond its length for its frame before it fails.
constexpr auto kFrameMargin = std::chrono::seconds(2);
constexpr auto kReopenInterval = std::chrono::seconds(2);

std::string messageOf(GError* error) {
    std::string text = error && error->message ? error->message : "unknown error";
    if (error) g_error_free(error);
    return text;
}

int roundUp(int v, int step) {
    return step > 1 ? (v + step - 1) / step * step : v;
}
int roundDown(int v, int step) {
    return step > 1 ? v / step * step : v;
}

// Mosaic read from column dx, row dy on: odd offsets swap the cell's columns or rows.
int shiftedPattern(int pattern, int dx, int dy) {
    if (pattern < TARVI_PATTERN_RGGB || pattern > TARVI_PATTERN_BGGR) return pattern;
    // RGGB=8, GRBG=9, GBRG=10, BGGR=11: bit 0 says the cell's columns swapped, bit 1 its rows
    // (RGGB with columns swapped is GRBG, with rows swapped GBRG).
    const int cell = pattern - TARVI_PATTERN_RGGB;
    return TARVI_PATTERN_RGGB + (cell ^ ((dx & 1) | ((dy & 1) << 1)));
}
}  // namespace

bool Camera::open(const std::string& device, const std::string& format, std::string* why) {
    close();
    device_ = device;
    formatName_ = format;
    GError* error = nullptr;
    camera_ = arv_camera_new(device.empty() ? nullptr : device.c_str(), &error);
    if (!camera_) {
        *why = device.empty() ? "no GenICam camera found (" + messageOf(error) + ")"
                              : "no GenICam camera '" + device + "' (" + messageOf(error) + ")";
        return false;
    }
    const auto text = [this](const char* (*get)(ArvCamera*, GError**)) {
        GError* e = nullptr;
        const char* s = get(camera_, &e);
        if (e) g_error_free(e);
        return std::string(s ? s : "");
    };
    name_ = text(arv_camera_get_vendor_name) + " " + text(arv_camera_get_model_name);
    const std::string id = text(arv_camera_get_device_id);
    if (!id.empty()) name_ += " (" + id + ")";
    arv_camera_get_sensor_size(camera_, &sensorWidth_, &sensorHeight_, &error);
    if (error || sensorWidth_ < 1 || sensorHeight_ < 1) {
        *why = "camera '" + name_ + "' gives no sensor size (" + messageOf(error) + ")";
        close();
        return false;
    }
    reverseX_ = arv_camera_is_feature_available(camera_, "ReverseX", nullptr);
    g_signal_connect(arv_camera_get_device(camera_), "control-lost", G_CALLBACK(onControlLost),
                     this);
    controlLost_ = false;
    if (request_.width > sensorWidth_ || request_.height > sensorHeight_)
        request_.width = request_.height = 0;
    if (!configure(why) || !startStream(why)) {
        close();
        return false;
    }
    applyExposure();
    applyGain();
    return true;
}

void Camera::close() {
    stopStream();
    if (camera_) {
        g_signal_handlers_disconnect_by_data(arv_camera_get_device(camera_), this);
        g_object_unref(camera_);
        camera_ = nullptr;
    }
}

void Camera::onControlLost(ArvDevice* /*device*/, void* self) {
    static_cast<Camera*>(self)->controlLost_ = true;  // on Aravis' heartbeat thread
}

int Camera::deepestBits() const {
    if (!camera_) return 8;
    int best = format_ ? format_->bits : 8;
    if (!formatName_.empty()) return best;
    guint n = 0;
    gint64* codes = arv_camera_dup_available_pixel_formats(camera_, &n, nullptr);
    for (guint i = 0; i < n; ++i) {
        const PixelFormat* f = findPixelFormat(static_cast<uint32_t>(codes[i]));
        if (f && format_ && f->pattern == format_->pattern) best = std::max(best, f->bits);
    }
    g_free(codes);
    return best;
}

bool Camera::gainRange(double* low, double* high) const {
    if (!camera_ || !arv_camera_is_gain_available(camera_, nullptr)) return false;
    GError* error = nullptr;
    arv_camera_get_gain_bounds(camera_, low, high, &error);
    if (error) g_error_free(error);
    return !error && *high > *low;
}

// The pixel format, then the region: sent before the stream starts.
bool Camera::configure(std::string* why) {
    GError* error = nullptr;
    // The format: the one named, else the family (mono or the Bayer pattern) of the camera's
    // own at open, at 8 bits for 8-bit buffers and at its deepest for 16-bit ones.
    const PixelFormat* chosen = nullptr;
    if (!formatName_.empty()) {
        chosen = findPixelFormat(formatName_.c_str());
        if (!chosen) {
            *why = "pixel format '" + formatName_ + "' is not one the program takes";
            return false;
        }
    } else {
        const PixelFormat* own = format_ ? format_
                                         : findPixelFormat(static_cast<uint32_t>(
                                               arv_camera_get_pixel_format(camera_, nullptr)));
        const int family = own ? own->pattern : TARVI_PATTERN_MONO;
        guint n = 0;
        gint64* codes = arv_camera_dup_available_pixel_formats(camera_, &n, nullptr);
        for (guint i = 0; i < n; ++i) {
            const PixelFormat* f = findPixelFormat(static_cast<uint32_t>(codes[i]));
            if (!f || f->pattern != family) continue;
            const bool better =
                !chosen || (request_.depth == 16 ? f->bits > chosen->bits : f->bits < chosen->bits);
            if (better) chosen = f;
        }
        g_free(codes);
        if (!chosen) chosen = own;
        if (!chosen) {
            *why = "camera '" + name_ + "' offers no mono or Bayer pixel format";
            return false;
        }
    }
    arv_camera_set_pixel_format(camera_, chosen->code, &error);
    if (error) {
        *why = std::string("camera refused pixel format ") + chosen->name + " (" +
               messageOf(error) + ")";
        return false;
    }
    format_ = chosen;
    if (request_.depth == 16 && format_->bits <= 8) request_.depth = 8;

    // The region: the subframe placed as asked (centred where not), on even columns and rows,
    // widened to the camera's steps; the copy cuts the subframe out of it.
    const int w = request_.width > 0 ? request_.width : sensorWidth_;
    const int h = request_.height > 0 ? request_.height : sensorHeight_;
    const auto place = [](int asked, int size, int sensor) {
        const int room = std::max(sensor - size, 0);
        return (asked < 0 ? room / 2 : std::min(asked, room)) & ~1;
    };
    placedLeft_ = place(request_.left, w, sensorWidth_);
    placedTop_ = place(request_.top, h, sensorHeight_);
    const auto region = [](int at, int size, int sensor, int offsetStep, int sizeStep, int* x,
                           int* length) {
        *x = roundDown(at, offsetStep);
        *length = std::min(roundUp(at + size - *x, sizeStep), sensor);
        if (*x + *length > sensor) *x = roundDown(sensor - *length, offsetStep);
    };
    int x = 0, y = 0, rw = 0, rh = 0;
    region(placedLeft_, w, sensorWidth_,
           std::max(1, arv_camera_get_x_offset_increment(camera_, nullptr)),
           std::max(1, arv_camera_get_width_increment(camera_, nullptr)), &x, &rw);
    region(placedTop_, h, sensorHeight_,
           std::max(1, arv_camera_get_y_offset_increment(camera_, nullptr)),
           std::max(1, arv_camera_get_height_increment(camera_, nullptr)), &y, &rh);
    arv_camera_set_region(camera_, x, y, rw, rh, &error);
    if (error) {
        *why = "camera refused the region " + std::to_string(rw) + " x " + std::to_string(rh) +
               " at " + std::to_string(x) + ", " + std::to_string(y) + " (" + messageOf(error) +
               ")";
        return false;
    }
    arv_camera_get_region(camera_, &regionX_, &regionY_, &regionWidth_, &regionHeight_, nullptr);
    cropLeft_ = placedLeft_ - regionX_;
    cropTop_ = placedTop_ - regionY_;
    if (cropLeft_ < 0 || cropTop_ < 0 || cropLeft_ + w > regionWidth_ ||
        cropTop_ + h > regionHeight_) {
        *why = "camera cannot read out " + std::to_string(w) + " x " + std::to_string(h) + " at " +
               std::to_string(placedLeft_) + ", " + std::to_string(placedTop_);
        return false;
    }
    if (reverseX_) arv_camera_set_boolean(camera_, "ReverseX", request_.flip, nullptr);
    return true;
}

bool Camera::startStream(std::string* why) {
    GError* error = nullptr;
    const guint payload = arv_camera_get_payload(camera_, &error);
    if (error || payload == 0) {
        *why = "camera gives no image size (" + messageOf(error) + ")";
        return false;
    }
    if (ARV_IS_GV_DEVICE(arv_camera_get_device(camera_))) {
        // The largest packets the network takes: far fewer of them to receive per frame.
        arv_camera_gv_auto_packet_size(camera_, nullptr);
    }
    stream_ = arv_camera_create_stream(camera_, nullptr, nullptr, &error);
    if (!stream_) {
        *why = "camera '" + name_ + "' gives no stream (" + messageOf(error) + ")";
        return false;
    }
    if (ARV_IS_GV_STREAM(stream_))
        g_object_set(stream_, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, nullptr);
    for (int i = 0; i < kStreamBuffers; ++i)
        arv_stream_push_buffer(stream_, arv_buffer_new_allocate(payload));
    arv_camera_set_acquisition_mode(camera_, ARV_ACQUISITION_MODE_CONTINUOUS, nullptr);
    arv_camera_start_acquisition(camera_, &error);
    if (error) {
        *why = "camera '" + name_ + "' does not start (" + messageOf(error) + ")";
        stopStream();
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        leastDelayNs_ = INT64_MAX;
    }
    stopWorker_ = false;
    worker_ = std::thread([this] { work(); });
    return true;
}

void Camera::stopStream() {
    if (worker_.joinable()) {
        stopWorker_ = true;
        worker_.join();
    }
    if (!stream_) return;
    if (camera_) arv_camera_stop_acquisition(camera_, nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (ArvBuffer* b : ready_) g_object_unref(b);
        ready_.clear();
        if (hasPending_) failPendingLocked("", TARVI_HEALTH_GOOD);
    }
    g_object_unref(stream_);  // with the buffers it holds
    stream_ = nullptr;
}

void Camera::applyExposure() {
    if (!camera_) return;
    double low = 0, high = 0;
    arv_camera_get_exposure_time_bounds(camera_, &low, &high, nullptr);
    double us = static_cast<double>(request_.exposureUs);
    if (high > low) us = std::clamp(us, low, high);
    arv_camera_set_exposure_time(camera_, us, nullptr);
    // As many frames a second as the exposure allows.
    if (arv_camera_is_frame_rate_available(camera_, nullptr)) {
        double fLow = 0, fHigh = 0;
        arv_camera_get_frame_rate_bounds(camera_, &fLow, &fHigh, nullptr);
        const double rate = 1e6 / us;
        arv_camera_set_frame_rate(camera_, fHigh > fLow ? std::clamp(rate, fLow, fHigh) : rate,
                                  nullptr);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    exposureUsInForce_ = static_cast<long long>(us);
    leastDelayNs_ = INT64_MAX;
    flushLocked();
}

void Camera::applyGain() {
    double low = 0, high = 0;
    if (!gainRange(&low, &high)) return;
    arv_camera_set_gain(camera_, low + (high - low) * request_.gain / 100.0, nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    flushLocked();
}

void Camera::setExposure(long long us) {
    if (us == request_.exposureUs) return;
    request_.exposureUs = us;
    applyExposure();
}

void Camera::setGain(int gain) {
    if (gain == request_.gain) return;
    request_.gain = gain;
    if (camera_) applyGain();
}

void Camera::setFlip(bool flip) {
    if (flip == request_.flip) return;
    request_.flip = flip;
    if (camera_ && reverseX_) {
        arv_camera_set_boolean(camera_, "ReverseX", flip, nullptr);
        std::lock_guard<std::mutex> lock(mutex_);
        flushLocked();
    }
}

bool Camera::setSubframe(int width, int height) {
    if (width < 1 || height < 1 || width > sensorWidth_ || height > sensorHeight_) return false;
    if (width != request_.width || height != request_.height) restartWanted_ = true;
    request_.width = width;
    request_.height = height;
    return true;
}

void Camera::setOrigin(int left, int top) {
    left = left < 0 ? -1 : left;
    top = top < 0 ? -1 : top;
    if (left != request_.left || top != request_.top) restartWanted_ = true;
    request_.left = left;
    request_.top = top;
}

bool Camera::setDepth(int bits) {
    if (bits != 8 && !(bits == 16 && deepestBits() > 8)) return false;
    if (bits != request_.depth) restartWanted_ = true;
    request_.depth = bits;
    return true;
}

void Camera::setSemaphore(sem_t* done) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = done;
}

bool Camera::reopen() {
    const auto now = Clock::now();
    if (now < nextReopen_) return false;
    nextReopen_ = now + kReopenInterval;
    std::string why;
    const Request kept = request_;
    if (!open(device_, formatName_, &why)) {
        std::lock_guard<std::mutex> lock(mutex_);
        health_.text = "GenICam camera lost: " + why;
        return false;
    }
    request_ = kept;
    std::lock_guard<std::mutex> lock(mutex_);
    ++health_.restarts;
    health_.state = TARVI_HEALTH_GOOD;
    health_.text.clear();
    lastError_.clear();
    return true;
}

bool Camera::expose(uint8_t* buffer) {
    if (!buffer) return false;
    if (controlLost_ || !camera_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (health_.state != TARVI_HEALTH_LOST) {
                health_.state = TARVI_HEALTH_LOST;
                ++health_.troubles;
                health_.text = "GenICam camera lost: " + name_ + " does not answer";
                lastError_ = health_.text;
            }
        }
        if (device_.empty() && name_.empty()) return false;
        if (!reopen()) return false;
        restartWanted_ = true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (hasPending_) return false;
    }
    if (restartWanted_) {
        restartWanted_ = false;
        stopStream();
        std::string why;
        if (!configure(&why) || !startStream(&why)) {
            std::lock_guard<std::mutex> lock(mutex_);
            lastError_ = "GenICam: " + why;
            return false;
        }
        applyExposure();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.buffer = buffer;
    pending_.target.data = buffer;
    pending_.target.width = request_.width > 0 ? request_.width : sensorWidth_;
    pending_.target.height = request_.height > 0 ? request_.height : sensorHeight_;
    pending_.target.depth = request_.depth;
    pending_.target.left = cropLeft_;
    pending_.target.top = cropTop_;
    pending_.target.mirror = request_.flip && !reverseX_;
    pending_.left = placedLeft_;
    pending_.top = placedTop_;
    pending_.deadline = Clock::now() + std::chrono::microseconds(exposureUsInForce_) + kFrameMargin;
    hasPending_ = true;
    if (!ready_.empty()) deliverLocked();
    return true;
}

bool Camera::cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hasPending_) return false;
    failPendingLocked("", health_.state);
    return true;
}

Delivered Camera::delivered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
}

bool Camera::health(Health* health) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (name_.empty()) return false;
    *health = health_;
    return true;
}

std::string Camera::lastError() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

void Camera::work() {
    while (!stopWorker_) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_, 100'000);
        std::lock_guard<std::mutex> lock(mutex_);
        if (buffer) {
            if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
                arv_stream_push_buffer(stream_, buffer);  // an incomplete frame: never delivered
                continue;
            }
            const uint64_t stamp = arv_buffer_get_timestamp(buffer);
            const uint64_t arrival = arv_buffer_get_system_timestamp(buffer);
            if (stamp > 0 && arrival > 0)
                leastDelayNs_ = std::min(leastDelayNs_, static_cast<int64_t>(arrival - stamp));
            ready_.push_back(buffer);
            while (ready_.size() > kMostWaiting) {
                arv_stream_push_buffer(stream_, ready_.front());
                ready_.pop_front();
            }
            if (health_.state == TARVI_HEALTH_SLOW) {
                health_.state = TARVI_HEALTH_GOOD;
                health_.text.clear();
            }
        }
        if (hasPending_ && !ready_.empty())
            deliverLocked();
        else if (hasPending_ && Clock::now() > pending_.deadline)
            failPendingLocked(controlLost_ ? "GenICam camera lost: " + name_ + " does not answer"
                                           : "GenICam camera sends no frames",
                              controlLost_ ? TARVI_HEALTH_LOST : TARVI_HEALTH_SLOW);
    }
}

long long Camera::startOfLocked(ArvBuffer* buffer) const {
    const int64_t stamp = static_cast<int64_t>(arv_buffer_get_timestamp(buffer));
    const int64_t arrival = static_cast<int64_t>(arv_buffer_get_system_timestamp(buffer));
    const long long exposureNs = exposureUsInForce_ * 1000;
    int64_t startNs = 0;
    if (stamp <= 0)
        startNs = arrival - exposureNs;  // no camera clock: the arrival less the exposure
    else if (std::llabs(arrival - stamp) < kSameClockNs)
        startNs = stamp;  // a camera clock set to UTC (PTP or the like)
    else
        startNs = stamp + leastDelayNs_ - exposureNs;  // the camera's own clock, mapped
    return startNs / 1000;
}

void Camera::deliverLocked() {
    ArvBuffer* buffer = ready_.front();
    ready_.pop_front();
    size_t size = 0;
    SourceImage source;
    source.data = static_cast<const uint8_t*>(arv_buffer_get_image_data(buffer, &size));
    source.size = size;
    source.width = arv_buffer_get_image_width(buffer);
    source.height = arv_buffer_get_image_height(buffer);
    source.format =
        findPixelFormat(static_cast<uint32_t>(arv_buffer_get_image_pixel_format(buffer)));
    const bool good = copyImage(source, pending_.target);
    Delivered& d = delivered_;
    d.known = true;
    d.good = good;
    d.startUnixUs = startOfLocked(buffer);
    d.bits = pending_.target.depth == 16 && source.format ? source.format->bits : 8;
    int pattern = source.format ? source.format->pattern : TARVI_PATTERN_MONO;
    pattern = shiftedPattern(pattern, pending_.target.left, pending_.target.top);
    if (pending_.target.mirror) pattern = shiftedPattern(pattern, pending_.target.width - 1, 0);
    d.pattern = pattern;
    d.left = pending_.left;
    d.top = pending_.top;
    arv_stream_push_buffer(stream_, buffer);
    hasPending_ = false;
    postLocked();
}

void Camera::failPendingLocked(const std::string& trouble, int state) {
    delivered_ = Delivered{};
    delivered_.known = true;
    delivered_.good = false;
    if (!trouble.empty()) {
        if (health_.state == TARVI_HEALTH_GOOD) ++health_.troubles;
        health_.state = state;
        health_.text = trouble;
    }
    hasPending_ = false;
    postLocked();
}

void Camera::flushLocked() {
    // Frames taken with the settings before: given back unseen.
    if (!stream_) return;
    for (ArvBuffer* b : ready_) arv_stream_push_buffer(stream_, b);
    ready_.clear();
    while (ArvBuffer* b = arv_stream_try_pop_buffer(stream_)) arv_stream_push_buffer(stream_, b);
}

void Camera::postLocked() {
    if (!done_) return;
    int value = 0;
    if (sem_getvalue(done_, &value) == 0 && value >= 1) return;  // counts to 1 at most
    sem_post(done_);
}

}  // namespace aravis
