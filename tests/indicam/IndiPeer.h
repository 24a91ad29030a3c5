// A second INDI client beside the camera library, for tests and benchmarks: it watches the
// same camera, counts the image BLOBs the driver sends, notes the DATE-OBS of each FITS image
// with its own reading of the header, and can stream by itself or play the session of an
// earlier client that leaves its settings behind.
#ifndef TESTS_INDIPEER_H
#define TESTS_INDIPEER_H

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>
#include <libindi/indipropertyswitch.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace indi_test {

constexpr const char* kSimDevice = "CCD Simulator";

// The DATE-OBS of a FITS header ('YYYY-MM-DDThh:mm:ss.fff', UTC) in microseconds since 1970.
inline long long fitsDateObsUs(const char* data, size_t size) {
    const std::string header(data, std::min<size_t>(size, 2880 * 4));
    const size_t at = header.find("DATE-OBS= '");
    std::tm t{};
    double seconds = 0;
    if (at == std::string::npos || at % 80 != 0 ||
        std::sscanf(header.c_str() + at + 11, "%4d-%2d-%2dT%2d:%2d:%lf", &t.tm_year, &t.tm_mon,
                    &t.tm_mday, &t.tm_hour, &t.tm_min, &seconds) != 6)
        return 0;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(timegm(&t)) * 1000000 + std::llround(seconds * 1e6);
}

class Peer : public INDI::BaseClient {
  public:
    ~Peer() override {
        meddle(false);
        disconnectServer();
    }

    // Connects and receives the camera's BLOBs too. With connect, also connects the camera
    // (when no one has yet) and waits until its stream properties are there.
    bool join(int port, bool connect = true) {
        setServer("localhost", static_cast<unsigned>(port));
        if (!connectServer()) return false;
        setBLOBMode(B_ALSO, kSimDevice, nullptr);
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(5), [this] { return known_; }))
            return false;
        if (!connect) return true;
        lock.unlock();
        connectDevice(kSimDevice);
        lock.lock();
        return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return streamable_; });
    }

    // Streams by itself at exposure `seconds` for `duration`, then stops; frames per second
    // received meanwhile. With a frame size, streams that centred frame at the driver's top
    // preview rate, and puts the rate limit back afterwards.
    double stream(double seconds, std::chrono::duration<double> duration, int w = 0, int h = 0) {
        double limit = 0;
        if (w > 0) {
            INDI::Property frameProperty = getDevice(kSimDevice).getProperty("CCD_STREAM_FRAME");
            auto frame = frameProperty.getNumber();
            auto limits = getDevice(kSimDevice).getProperty("LIMITS").getNumber();
            if (!frame || !limits) return 0;
            limit = limits->findWidgetByName("LIMITS_PREVIEW_FPS")->getValue();
            sendNewNumber(kSimDevice, "LIMITS", "LIMITS_PREVIEW_FPS",
                          limits->findWidgetByName("LIMITS_PREVIEW_FPS")->getMax());
            frame->findWidgetByName("X")->setValue(((1280 - w) / 2) & ~1);
            frame->findWidgetByName("Y")->setValue(((1024 - h) / 2) & ~1);
            frame->findWidgetByName("WIDTH")->setValue(w);
            frame->findWidgetByName("HEIGHT")->setValue(h);
            sendNewNumber(frameProperty);
        }
        sendNewNumber(kSimDevice, "STREAMING_EXPOSURE", "STREAMING_EXPOSURE_VALUE", seconds);
        // A stream another client left on is stopped first, and its frame in hand given time
        // to end: the simulator's stream thread, started again within that frame, sleeps for
        // one over the exposure and sends nothing.
        sendNewSwitch(kSimDevice, "CCD_VIDEO_STREAM", "STREAM_OFF");
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        sendNewSwitch(kSimDevice, "CCD_VIDEO_STREAM", "STREAM_ON");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the stream settles
        const long start = blobs.load();
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(duration);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double fps = (blobs.load() - start) / elapsed;
        sendNewSwitch(kSimDevice, "CCD_VIDEO_STREAM", "STREAM_OFF");
        if (limit > 0) sendNewNumber(kSimDevice, "LIMITS", "LIMITS_PREVIEW_FPS", limit);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return fps;
    }

    // What another program may do before ours: a fast polling period, a 10 ms stream for a
    // few seconds, the stream turned off again.
    void earlierSession() {
        sendNewNumber(kSimDevice, "POLLING_PERIOD", "PERIOD_MS", 10);
        stream(0.01, std::chrono::seconds(3));
    }

    // Before the camera connects: the simulator's Bayer mosaic on, noise of `noise` counts.
    bool simulateBayer(double noise) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(5), [this] { return bayerKnown_; }))
            return false;
        lock.unlock();
        sendNewSwitch(kSimDevice, "SIMULATE_BAYER", "INDI_ENABLED");
        sendNewNumber(kSimDevice, "SIMULATOR_SETTINGS", "SIM_NOISE", noise);
        return true;
    }

    // Keeps the camera's stream down from a thread of its own until meddle(false): every
    // 300 ms its preview limit set to 1 fps, or (streamOff) the stream turned off.
    void meddle(bool on, bool streamOff = false) {
        meddling_ = on;
        if (!on && meddler_.joinable()) meddler_.join();
        if (!on || meddler_.joinable()) return;
        meddler_ = std::thread([this, streamOff] {
            for (; meddling_; std::this_thread::sleep_for(std::chrono::milliseconds(300))) {
                INDI::PropertySwitch stream = getDevice(kSimDevice).getProperty("CCD_VIDEO_STREAM");
                if (!streamOff) {
                    sendNewNumber(kSimDevice, "LIMITS", "LIMITS_PREVIEW_FPS", 1);
                } else if (stream.isValid()) {  // sendNewSwitch by names leaves STREAM_ON on
                    stream.reset();
                    stream.findWidgetByName("STREAM_OFF")->setState(ISS_ON);
                    sendNewSwitch(stream);
                }
            }
        });
    }

    // Whether this client takes the camera's images (it does from join on).
    void takeImages(bool on) { setBLOBMode(on ? B_ALSO : B_NEVER, kSimDevice, nullptr); }

    // The driver's own frame rate (the mean of its FPS property's AVG_FPS reports while it
    // streamed) since the last call.
    double driverFps() {
        std::lock_guard<std::mutex> lock(mutex_);
        const double mean = fpsReports_ > 0 ? fpsSum_ / fpsReports_ : 0;
        fpsSum_ = 0;
        fpsReports_ = 0;
        return mean;
    }

    // DATE-OBS of each FITS image seen so far, in order of arrival.
    std::vector<long long> dateObs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return dateObs_;
    }

    std::atomic<long> blobs{0};

  protected:
    void newProperty(INDI::Property p) override { note(p); }
    void updateProperty(INDI::Property p) override {
        if (p.getType() != INDI_BLOB) return note(p);
        blobs.fetch_add(1);
        auto* blob = p.getBLOB()->at(0);
        const char* format = blob->getFormat();
        if (!format || std::strcmp(format, ".fits") != 0) return;
        const long long us = fitsDateObsUs(static_cast<const char*>(blob->getBlob()),
                                           static_cast<size_t>(blob->getBlobLen()));
        std::lock_guard<std::mutex> lock(mutex_);
        dateObs_.push_back(us);
    }

  private:
    void note(const INDI::Property& p) {
        std::lock_guard<std::mutex> lock(mutex_);
        known_ |= std::strcmp(p.getDeviceName(), kSimDevice) == 0;
        streamable_ |= p.isNameMatch("STREAMING_EXPOSURE");
        bayerKnown_ |= p.isNameMatch("SIMULATE_BAYER");
        if (p.isNameMatch("FPS") && p.getType() == INDI_NUMBER) {
            auto* average = p.getNumber()->findWidgetByName("AVG_FPS");
            if (average && average->getValue() > 0) {
                fpsSum_ += average->getValue();
                ++fpsReports_;
            }
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool known_ = false, streamable_ = false, bayerKnown_ = false;
    double fpsSum_ = 0;
    int fpsReports_ = 0;
    std::atomic<bool> meddling_{false};
    std::thread meddler_;
    std::vector<long long> dateObs_;
};

// When each move of the simulated wheel began and ended (microseconds since 1970).
class WheelWatcher : public INDI::BaseClient {
  public:
    ~WheelWatcher() override { disconnectServer(); }
    struct Move {
        long long busyUs = 0, restUs = 0;
        int slot = 0;
    };
    std::vector<Move> moves() {
        std::lock_guard<std::mutex> lock(mutex_);
        return moves_;
    }

  protected:
    void updateProperty(INDI::Property p) override {
        if (!p.isNameMatch("FILTER_SLOT") || std::strcmp(p.getDeviceName(), "Filter Simulator"))
            return;
        const long long now = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        std::lock_guard<std::mutex> lock(mutex_);
        const bool busy = p.getState() == IPS_BUSY,
                   resting = moves_.empty() || moves_.back().restUs;
        if (busy && resting) moves_.push_back({now, 0, 0});
        if (!busy && !resting)
            moves_.back() = {moves_.back().busyUs, now,
                             static_cast<int>(p.getNumber()->at(0)->getValue())};
    }

  private:
    std::mutex mutex_;
    std::vector<Move> moves_;
};

}  // namespace indi_test

#endif
