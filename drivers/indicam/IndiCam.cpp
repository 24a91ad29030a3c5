// The INDI camera: the camera functions of the program, served by a CCD driver behind an
// INDI server. Single exposures arrive as FITS BLOBs; short exposures use the driver's video
// stream, whose frames arrive as raw 8-bit BLOBs.
//
// Threads: the program calls the entry points from its acquisition thread; the INDI client
// calls back on its own listening thread; a watchdog thread ends exposures whose image never
// comes. apiMutex serialises the entry points (and so everything sent to the server);
// State::mutex guards what the callbacks share with them. Nothing is sent from a callback.
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>
#include <libindi/indiproperty.h>

#include "FrameCopy.h"

#pragma GCC visibility push(default)
#include "IndiCam.h"
#include "acquisition/tarvidll.h"
#pragma GCC visibility pop

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Exposures shorter than this use the video stream when the driver has one: below it a
// single exposure's fixed cost (FITS built, sent and decoded, measured at 60-100 ms per frame
// with the simulator) is larger than the exposure itself.
constexpr int kStreamBelowMs = 100;
constexpr auto kAnswerTimeout = 5s;     // device found, connected and its properties in
constexpr auto kListingTime = 2s;       // for the server to list its devices
constexpr auto kImageMargin = 10s;      // after the exposure time, before giving up on an image
constexpr int kPreviewPeriodMs = 10;    // polling period asked of the driver

enum class Kind { None, Single, Stream };

struct Options {
    std::string host = "localhost";
    int port = 7624;
    std::string device;  // empty: the first camera
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;

    // Everything the server told about, by device and property name.
    std::map<std::pair<std::string, std::string>, INDI::Property> props;
    std::vector<std::string> devices;  // in order of appearance
    Clock::time_point lastProperty;
    bool serverUp = false;
    bool lost = false;  // server or device gone since openUSB
    std::string lastError;
    std::string lastPrinted;

    std::string device;
    int sensorWidth = 0, sensorHeight = 0, bitsPerPixel = 16;
    sem_t* done = nullptr;

    // The running exposure.
    Kind pending = Kind::None;
    uint8_t* buffer = nullptr;
    int width = 0, height = 0;
    bool mirror = false, flipped = false;
    Clock::time_point deadline;
    unsigned generation = 0;  // settings changes; stream frames of older settings are stale

    // The newest stream frame not yet delivered, and the settings it was taken with.
    indicam::Image streamFrame;
    bool streamFrameFresh = false;
    unsigned streamFrameGeneration = 0;
    int streamWidth = 0, streamHeight = 0;  // the stream frame asked of the driver

    bool stopWatchdog = false;
};

// Settings of the entry points, owned by the acquisition thread (under apiMutex).
struct Settings {
    int exposureMs = 100;
    int gain = -1;  // not set: the driver's own
    int width = 0, height = 0;
    bool flip = false;
    bool driverFlips = false;
    bool streamOn = false;
    double streamExposure = -1;
    int frameX = -1, frameY = -1, frameW = -1, frameH = -1;
    int streamFrameW = -1, streamFrameH = -1;
    bool lostReported = false;
};

State& S() {
    static State* s = new State;  // never destroyed: the client thread may outlive exit
    return *s;
}

// The library's globals live until the process ends (never destroyed: the unload hook
// below still uses them after static destruction has begun).
struct Globals {
    std::mutex apiMutex;
    Options options;
    Settings settings;
    std::string cameraName;
    std::thread watchdog;
};
Globals& G() {
    static Globals* g = new Globals;
    return *g;
}
std::mutex& apiMutex = G().apiMutex;
Options& options = G().options;
Settings& settings = G().settings;
std::string& cameraName = G().cameraName;
std::thread& watchdog = G().watchdog;

void Report(std::unique_lock<std::mutex>& lock, const std::string& message) {
    State& s = S();
    s.lastError = message;
    const bool repeat = s.lastPrinted == message;
    s.lastPrinted = message;
    lock.unlock();
    if (!repeat) std::fprintf(stderr, "%s\n", message.c_str());
    lock.lock();
}

void PostDone(sem_t* done) {
    if (!done) return;
    int value = 0;
    if (sem_getvalue(done, &value) == 0 && value >= 1) return;  // counts to 1 at most
    sem_post(done);
}

// Ends the running exposure (the caller holds the state lock); its buffer is not touched.
void EndPending(State& s) {
    if (s.pending == Kind::None) return;
    s.pending = Kind::None;
    s.buffer = nullptr;
    PostDone(s.done);
}

INDI::Property Find(State& s, const char* name) {
    auto it = s.props.find({s.device, name});
    return it == s.props.end() ? INDI::Property() : it->second;
}

// The number element of a device property, or null.
INDI::WidgetView<INumber>* NumberOf(const INDI::Property& p, const char* element) {
    if (!p.isValid() || p.getType() != INDI_NUMBER) return nullptr;
    return p.getNumber()->findWidgetByName(element);
}

bool SwitchIsOn(const INDI::Property& p, const char* element) {
    if (!p.isValid() || p.getType() != INDI_SWITCH) return false;
    auto* w = p.getSwitch()->findWidgetByName(element);
    return w && w->getState() == ISS_ON;
}

// The colour mosaic the driver announces in CCD_CFA, empty for none.
std::string DriverPattern(State& s) {
    INDI::Property cfa = Find(s, "CCD_CFA");
    if (!cfa.isValid() || cfa.getType() != INDI_TEXT) return {};
    auto* type = cfa.getText()->findWidgetByName("CFA_TYPE");
    if (!type || !type->getText()) return {};
    std::string pattern = type->getText();
    int dx = 0, dy = 0;
    if (auto* x = NumberOf(cfa, "CFA_OFFSET_X")) dx = static_cast<int>(x->getValue());
    if (auto* y = NumberOf(cfa, "CFA_OFFSET_Y")) dy = static_cast<int>(y->getValue());
    return pattern.size() == 4 ? indicam::ShiftPattern(pattern, dx, dy) : std::string();
}

class Client : public INDI::BaseClient {
  protected:
    void newProperty(INDI::Property p) override { Remember(p); }
    void updateProperty(INDI::Property p) override {
        if (p.getType() == INDI_BLOB) {
            Image(p);
            return;
        }
        Remember(p);
        if (p.isNameMatch("CCD_EXPOSURE") && p.getState() == IPS_ALERT) {
            State& s = S();
            std::unique_lock<std::mutex> lock(s.mutex);
            if (p.getDeviceName() == s.device && s.pending == Kind::Single) {
                Report(lock, "INDI: the exposure on '" + s.device + "' failed");
                EndPending(s);
            }
        }
    }
    void removeProperty(INDI::Property p) override {
        State& s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.props.erase({p.getDeviceName(), p.getName()});
    }
    void removeDevice(INDI::BaseDevice d) override {
        State& s = S();
        std::unique_lock<std::mutex> lock(s.mutex);
        const std::string name = d.getDeviceName();
        for (auto it = s.props.begin(); it != s.props.end();)
            it = it->first.first == name ? s.props.erase(it) : std::next(it);
        std::erase(s.devices, name);
        if (name == s.device && !s.lost) {
            s.lost = true;
            Report(lock, "INDI: device '" + name + "' is gone");
            EndPending(s);
        }
        s.changed.notify_all();
    }
    void serverConnected() override {
        State& s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.serverUp = true;
    }
    void serverDisconnected(int /*exitCode*/) override {
        State& s = S();
        std::unique_lock<std::mutex> lock(s.mutex);
        const bool wasUp = s.serverUp;
        s.serverUp = false;
        if (wasUp && !s.lost && !s.device.empty()) {
            s.lost = true;
            Report(lock, "INDI: lost the server at " + options.host + ":" +
                             std::to_string(options.port));
        }
        s.lost = true;
        EndPending(s);
        s.changed.notify_all();
    }

  private:
    static void Remember(const INDI::Property& p) {
        State& s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        const std::string device = p.getDeviceName();
        if (std::find(s.devices.begin(), s.devices.end(), device) == s.devices.end())
            s.devices.push_back(device);
        s.props[{device, p.getName()}] = p;
        s.lastProperty = Clock::now();
        s.changed.notify_all();
    }

    // An image BLOB: decoded outside the lock, copied into the waiting buffer under it.
    static void Image(const INDI::Property& p) {
        State& s = S();
        auto* blobs = p.getBLOB();
        if (!blobs || blobs->count() < 1) return;
        auto* blob = blobs->at(0);
        const std::string format = blob->getFormat() ? blob->getFormat() : "";
        const bool stream = format == ".stream";
        const void* data = blob->getBlob();
        const size_t size = static_cast<size_t>(std::max(0, blob->getBlobLen()));

        std::unique_lock<std::mutex> lock(s.mutex);
        if (p.getDeviceName() != s.device) return;
        // A single exposure ignores the stream frames still coming after the stream was
        // stopped; the stream ignores late single images.
        if ((stream && s.pending == Kind::Single) || (!stream && s.pending == Kind::Stream))
            return;
        const int streamW = s.streamWidth, streamH = s.streamHeight;
        const int sensorW = s.sensorWidth, sensorH = s.sensorHeight;
        int reportedW = 0, reportedH = 0;
        if (stream) {
            INDI::Property frame = Find(s, "CCD_STREAM_FRAME");
            if (auto* fw = NumberOf(frame, "WIDTH")) reportedW = static_cast<int>(fw->getValue());
            if (auto* fh = NumberOf(frame, "HEIGHT")) reportedH = static_cast<int>(fh->getValue());
        }
        const int bits = s.bitsPerPixel;
        const std::string pattern = stream ? DriverPattern(s) : std::string();
        const unsigned generation = s.generation;
        lock.unlock();

        indicam::Image image;
        std::string error;
        bool ok = false;
        if (stream) {
            // Raw 8-bit frames of the stream frame asked for (or of the full sensor).
            int w = 0, h = 0;
            // The frame asked for, else the one the driver reports, else the full sensor.
            for (auto [cw, ch] : {std::pair{streamW, streamH}, std::pair{reportedW, reportedH},
                                  std::pair{sensorW, sensorH}}) {
                if (cw > 0 && ch > 0 && size == static_cast<size_t>(cw) * ch) {
                    w = cw;
                    h = ch;
                    break;
                }
            }
            if (w > 0 && data) {
                image.width = w;
                image.height = h;
                image.pixels.assign(static_cast<const uint8_t*>(data),
                                    static_cast<const uint8_t*>(data) + size);
                image.bayer = pattern;
                ok = true;
            } else {
                error = "stream frame of " + std::to_string(size) + " bytes, expected " +
                        std::to_string(streamW) + " x " + std::to_string(streamH) + " at 8 bits";
            }
        } else if (format == ".fits" || format == ".fit") {
            ok = data && indicam::DecodeFits(data, size, bits, &image, &error);
        } else {
            error = "image of format '" + format + "' cannot be read (FITS or raw stream only)";
        }

        lock.lock();
        if (!ok) {
            if (s.pending != Kind::None) {
                Report(lock, "INDI: rejected an image from '" + s.device + "': " + error);
                EndPending(s);
            }
            return;
        }
        if (s.pending == Kind::None) {
            if (stream) {
                s.streamFrame = std::move(image);
                s.streamFrameFresh = true;
                s.streamFrameGeneration = generation;
            }
            return;
        }
        if (!indicam::CopyToFrame(image, s.width, s.height, s.mirror, s.flipped, s.buffer)) {
            Report(lock, "INDI: rejected an image of " + std::to_string(image.width) + " x " +
                             std::to_string(image.height) + " from '" + s.device +
                             "' for a frame of " + std::to_string(s.width) + " x " +
                             std::to_string(s.height));
        }
        EndPending(s);
    }
};

std::unique_ptr<Client>& client = *new std::unique_ptr<Client>;

// Sends with SIGPIPE held back on this thread, so a server that has just gone away does not
// end the program; the write error itself is the client library's to notice.
template <typename Fn>
void Send(Fn&& send) {
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    send();
    const timespec zero{0, 0};
    while (sigtimedwait(&pipe, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

bool Usable() {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    return client && s.serverUp && !s.lost;
}

// Sets number elements of a property of the camera and sends it; values are clamped to the
// element's range. False when the property or an element is missing.
bool SetNumbers(const char* name, std::initializer_list<std::pair<const char*, double>> values) {
    State& s = S();
    INDI::Property p;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!client || !s.serverUp || s.lost) return false;
        p = Find(s, name);
        if (!p.isValid() || p.getType() != INDI_NUMBER) return false;
        for (const auto& [element, value] : values) {
            auto* w = NumberOf(p, element);
            if (!w) return false;
            double v = value;
            if (w->getMax() > w->getMin()) v = std::clamp(v, w->getMin(), w->getMax());
            w->setValue(v);
        }
    }
    Send([&] { client->sendNewNumber(p); });
    return true;
}

// Turns one element of a switch property on (the others of a one-of-many switch off).
bool SetSwitch(const char* name, const char* element, bool on = true) {
    State& s = S();
    INDI::Property p;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!client || !s.serverUp || s.lost) return false;
        p = Find(s, name);
        if (!p.isValid() || p.getType() != INDI_SWITCH) return false;
        auto* sw = p.getSwitch();
        auto* w = sw->findWidgetByName(element);
        if (!w) return false;
        if (sw->getRule() != ISR_NOFMANY) sw->reset();
        w->setState(on ? ISS_ON : ISS_OFF);
    }
    Send([&] { client->sendNewSwitch(p); });
    return true;
}

bool HasProperty(const char* name) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    return Find(s, name).isValid();
}

// Range of a number element, false when there is none.
bool RangeOf(const char* name, const char* element, double* min, double* max) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto* w = NumberOf(Find(s, name), element);
    if (!w) return false;
    *min = w->getMin();
    *max = w->getMax();
    return true;
}

// The element of CCD_CONTROLS whose name matches one of the candidates (any case).
std::string ControlElement(std::initializer_list<const char*> candidates) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    INDI::Property p = Find(s, "CCD_CONTROLS");
    if (!p.isValid() || p.getType() != INDI_NUMBER) return {};
    for (auto& w : *p.getNumber())
        for (const char* c : candidates)
            if (strcasecmp(w.getName(), c) == 0) return w.getName();
    return {};
}

// Maps a value of 0..top onto an element's range and sends it.
bool SetScaled(const char* name, const std::string& element, int value, int top) {
    double min = 0, max = 0;
    if (element.empty() || !RangeOf(name, element.c_str(), &min, &max) || max <= min)
        return false;
    const double v = min + (max - min) * std::clamp(value, 0, top) / top;
    return SetNumbers(name, {{element.c_str(), v}});
}

bool SwitchIsOnNow(const char* name, const char* element);

void StopStream() {
    if (settings.streamOn || SwitchIsOnNow("CCD_VIDEO_STREAM", "STREAM_ON"))
        SetSwitch("CCD_VIDEO_STREAM", "STREAM_OFF");
    settings.streamOn = false;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.streamFrameFresh = false;
}

void WatchdogLoop() {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.mutex);
    while (!s.stopWatchdog) {
        if (s.pending != Kind::None && Clock::now() >= s.deadline) {
            Report(lock, "INDI: no image from '" + s.device + "' in time");
            EndPending(s);
        }
        if (s.pending != Kind::None)
            s.changed.wait_until(lock, s.deadline);
        else
            s.changed.wait(lock);
    }
}

// Stops the stream, leaves the server and forgets the device. Under apiMutex. At process
// exit (atExit) the client and what it told are left in memory: tearing down the client
// library's device tree during exit was seen to crash inside that library.
void Close(bool atExit = false) {
    if (client) {
        if (Usable()) StopStream();
        client->disconnectServer();
    }
    State& s = S();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        EndPending(s);
        s.stopWatchdog = true;
        s.changed.notify_all();
    }
    if (watchdog.joinable()) watchdog.join();
    if (atExit) {
        client.release();
        return;
    }
    client.reset();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.props.clear();
    s.devices.clear();
    s.device.clear();
    s.serverUp = false;
    s.lost = false;
    s.stopWatchdog = false;
    s.streamFrameFresh = false;
    s.sensorWidth = s.sensorHeight = 0;
    settings = Settings{};
    cameraName.clear();
}

int Fail(const std::string& message) {
    State& s = S();
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.lastPrinted.clear();
        Report(lock, message);
    }
    Close();
    return 0;
}

// Waits for pred (under the state lock) until the timeout; true when it held.
template <typename Pred>
bool WaitFor(Clock::duration timeout, Pred pred) {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.changed.wait_for(lock, timeout, [&] { return pred(s); });
}

// The device to use: the named one, else the first that has CCD_EXPOSURE or calls itself
// a CCD. Empty when none shows up.
std::string ChooseDevice() {
    const auto start = Clock::now();
    std::string chosen;
    WaitFor(kAnswerTimeout, [&](State& s) {
        if (!options.device.empty()) {
            for (const auto& d : s.devices)
                if (d == options.device) chosen = d;
        } else {
            for (const auto& d : s.devices)
                if (s.props.count({d, "CCD_EXPOSURE"})) {
                    chosen = d;
                    break;
                }
            for (const auto& d : s.devices) {
                if (!chosen.empty()) break;
                auto it = s.props.find({d, "DRIVER_INFO"});
                if (it == s.props.end() || it->second.getType() != INDI_TEXT) continue;
                auto* iface = it->second.getText()->findWidgetByName("DRIVER_INTERFACE");
                if (iface && iface->getText() &&
                    (std::atoi(iface->getText()) & INDI::BaseDevice::CCD_INTERFACE))
                    chosen = d;
            }
        }
        if (!chosen.empty()) return true;
        // The server lists every device's properties as soon as a client connects (a
        // connected driver keeps updating them, so silence never comes): a device missing
        // after a while is not coming.
        return !s.serverUp || Clock::now() - start > kListingTime;
    });
    return chosen;
}

bool SwitchIsOnNow(const char* name, const char* element) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    return SwitchIsOn(Find(s, name), element);
}

int OpenCamera() {
    Close();
    State& s = S();
    const std::string where = options.host + ":" + std::to_string(options.port);
    client = std::make_unique<Client>();
    client->setServer(options.host.c_str(), static_cast<unsigned>(options.port));
    client->setConnectionTimeout(3, 0);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lastProperty = Clock::now();
    }
    bool connected = false;
    Send([&] { connected = client->connectServer(); });
    if (!connected) return Fail("INDI: no server at " + where);

    const std::string device = ChooseDevice();
    if (device.empty()) {
        return Fail(options.device.empty() ? "INDI: no camera on the server at " + where
                                           : "INDI: device '" + options.device +
                                                 "' not found on the server at " + where);
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.device = device;
    }
    if (!SwitchIsOnNow("CONNECTION", "CONNECT") && !SetSwitch("CONNECTION", "CONNECT"))
        return Fail("INDI: device '" + device + "' cannot be connected");
    const bool answered = WaitFor(kAnswerTimeout, [&](State& st) {
        // The sensor size comes in an update after the property itself.
        auto* maxX = NumberOf(Find(st, "CCD_INFO"), "CCD_MAX_X");
        return st.lost || (SwitchIsOn(Find(st, "CONNECTION"), "CONNECT") &&
                           Find(st, "CCD_EXPOSURE").isValid() && maxX && maxX->getValue() > 0 &&
                           Find(st, "CCD_FRAME").isValid());
    });
    if (!answered || !Usable())
        return Fail("INDI: device '" + device + "' does not answer at " + where);

    {
        std::lock_guard<std::mutex> lock(s.mutex);
        INDI::Property info = Find(s, "CCD_INFO");
        if (auto* w = NumberOf(info, "CCD_MAX_X")) s.sensorWidth = static_cast<int>(w->getValue());
        if (auto* h = NumberOf(info, "CCD_MAX_Y")) s.sensorHeight = static_cast<int>(h->getValue());
        if (auto* b = NumberOf(info, "CCD_BITSPERPIXEL")) s.bitsPerPixel = static_cast<int>(b->getValue());
        s.generation = 0;
    }
    if (s.sensorWidth < 1 || s.sensorHeight < 1)
        return Fail("INDI: device '" + device + "' reports no sensor size");
    cameraName = device;
    settings.width = s.sensorWidth;
    settings.height = s.sensorHeight;

    Send([&] { client->setBLOBMode(B_ALSO, device.c_str(), nullptr); });
    // A stream left on by an earlier client blocks exposures.
    if (SwitchIsOnNow("CCD_VIDEO_STREAM", "STREAM_ON")) SetSwitch("CCD_VIDEO_STREAM", "STREAM_OFF");
    SetSwitch("CCD_TRANSFER_FORMAT", "FORMAT_FITS");
    SetSwitch("CCD_COMPRESSION", "INDI_DISABLED");
    double min = 0, max = 0;
    if (RangeOf("LIMITS", "LIMITS_PREVIEW_FPS", &min, &max) && max > 0)
        SetNumbers("LIMITS", {{"LIMITS_PREVIEW_FPS", max}});
    if (RangeOf("POLLING_PERIOD", "PERIOD_MS", &min, &max))
        SetNumbers("POLLING_PERIOD", {{"PERIOD_MS", std::max<double>(min, kPreviewPeriodMs)}});

    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopWatchdog = false;
    }
    watchdog = std::thread(WatchdogLoop);
    return 1;
}

void SettingsChanged() {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.generation;
}

// Sends the frame, exposure and stream settings a stream exposure needs, then starts it.
void PrepareStream(int w, int h) {
    State& s = S();
    const double seconds = settings.exposureMs / 1000.0;
    if (settings.streamExposure != seconds) {
        SetNumbers("STREAMING_EXPOSURE", {{"STREAMING_EXPOSURE_VALUE", seconds}});
        settings.streamExposure = seconds;
    }
    // The stream takes its subframe from CCD_STREAM_FRAME: a CCD_FRAME subframe makes the
    // simulator stream frames of the wrong size, so CCD_FRAME stays at the full sensor.
    if (settings.frameW != s.sensorWidth || settings.frameH != s.sensorHeight ||
        settings.frameX != 0 || settings.frameY != 0) {
        SetNumbers("CCD_FRAME", {{"X", 0}, {"Y", 0}, {"WIDTH", s.sensorWidth},
                                 {"HEIGHT", s.sensorHeight}});
        settings.frameX = settings.frameY = 0;
        settings.frameW = s.sensorWidth;
        settings.frameH = s.sensorHeight;
        settings.streamFrameW = -1;
    }
    if (settings.streamFrameW != w || settings.streamFrameH != h) {
        // The driver answers a CCD_FRAME change by resetting its stream frame, possibly after
        // this one arrives: wait for the frame asked for, and ask again once if need be.
        bool set = false;
        for (int attempt = 0; attempt < 2 && !set; ++attempt) {
            if (!SetNumbers("CCD_STREAM_FRAME", {{"X", indicam::CentredOffset(s.sensorWidth, w)},
                                                 {"Y", indicam::CentredOffset(s.sensorHeight, h)},
                                                 {"WIDTH", w},
                                                 {"HEIGHT", h}}))
                break;
            set = WaitFor(1s, [&](State& st) {
                INDI::Property f = Find(st, "CCD_STREAM_FRAME");
                auto* fw = NumberOf(f, "WIDTH");
                auto* fh = NumberOf(f, "HEIGHT");
                return f.getState() != IPS_BUSY && fw && fh &&
                       static_cast<int>(fw->getValue()) == w && static_cast<int>(fh->getValue()) == h;
            });
        }
        settings.streamFrameW = w;
        settings.streamFrameH = h;
        std::lock_guard<std::mutex> lock(s.mutex);
        // Without a stream frame the driver streams the full sensor; the copy crops.
        s.streamWidth = set ? w : s.sensorWidth;
        s.streamHeight = set ? h : s.sensorHeight;
        s.streamFrameFresh = false;
    }
    if (!settings.streamOn) {
        SetSwitch("CCD_VIDEO_STREAM", "STREAM_ON");
        settings.streamOn = true;
    }
}

void PrepareSingle(int w, int h) {
    State& s = S();
    if (settings.streamOn) StopStream();
    const int x = indicam::CentredOffset(s.sensorWidth, w);
    const int y = indicam::CentredOffset(s.sensorHeight, h);
    if (settings.frameX != x || settings.frameY != y || settings.frameW != w ||
        settings.frameH != h) {
        SetNumbers("CCD_FRAME", {{"X", x}, {"Y", y}, {"WIDTH", w}, {"HEIGHT", h}});
        settings.frameX = x;
        settings.frameY = y;
        settings.frameW = w;
        settings.frameH = h;
        settings.streamFrameW = -1;  // the driver follows CCD_FRAME with its stream frame
    }
}

// "HOST:PORT" into its parts; false for anything else.
bool ParseServer(const std::string& v, std::string* host, int* port) {
    const size_t colon = v.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= v.size()) return false;
    const std::string portText = v.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5)
        return false;
    const int number = std::stoi(portText);
    if (number < 1 || number > 65535) return false;
    *host = v.substr(0, colon);
    *port = number;
    return true;
}

// A client of its own that only notes the cameras a server announces, for the camera choice.
class ListingClient : public INDI::BaseClient {
  public:
    // The cameras, in order of appearance, once the server has gone quiet for a moment (it
    // lists every device's properties at once when a client connects).
    std::vector<std::string> Cameras() {
        const auto start = Clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        while (!down_ && Clock::now() - start < kListingTime &&
               (Clock::now() - last_ < 400ms || Clock::now() - start < 300ms))
            changed_.wait_for(lock, 50ms);
        return cameras_;
    }

  protected:
    void newProperty(INDI::Property p) override {
        bool camera = p.isNameMatch("CCD_EXPOSURE");
        if (p.isNameMatch("DRIVER_INFO") && p.getType() == INDI_TEXT) {
            auto* iface = p.getText()->findWidgetByName("DRIVER_INTERFACE");
            camera = iface && iface->getText() &&
                     (std::atoi(iface->getText()) & INDI::BaseDevice::CCD_INTERFACE);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        last_ = Clock::now();
        const std::string device = p.getDeviceName();
        if (camera && std::find(cameras_.begin(), cameras_.end(), device) == cameras_.end())
            cameras_.push_back(device);
        changed_.notify_all();
    }
    void serverDisconnected(int /*exitCode*/) override {
        std::lock_guard<std::mutex> lock(mutex_);
        down_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> cameras_;
    Clock::time_point last_ = Clock::now();
    bool down_ = false;
};

// Copies text into buffer, cut to fit, zero-terminated.
void CopyOut(const std::string& text, char* buffer, int size) {
    if (!buffer || size < 1) return;
    const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

__attribute__((destructor)) void CloseAtUnload() {
    std::lock_guard<std::mutex> api(apiMutex);
    Close(/*atExit=*/true);
}

}  // namespace

extern "C" {

int CameraOption(const char* key, const char* value) {
    if (!key || !value) return 0;
    std::lock_guard<std::mutex> api(apiMutex);
    const std::string k = key, v = value;
    if (k == "server") return ParseServer(v, &options.host, &options.port) ? 1 : 0;
    if (k == "device") {
        if (v.empty()) return 0;
        options.device = v;
        return 1;
    }
    return 0;
}

const char* CameraLastError(void) {
    static thread_local std::string copy;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    copy = s.lastError;
    return copy.c_str();
}

int CameraListDevices(const char* server, char* buffer, int size) {
    std::string host = "localhost";
    int port = 7624;
    const std::string address = server ? server : "";
    if (!address.empty() && !ParseServer(address, &host, &port)) {
        CopyOut("not a server address (HOST:PORT): " + address, buffer, size);
        return -1;
    }
    ListingClient lister;
    lister.setServer(host.c_str(), static_cast<unsigned>(port));
    lister.setConnectionTimeout(3, 0);
    bool connected = false;
    Send([&] { connected = lister.connectServer(); });
    if (!connected) {
        CopyOut("no INDI server at " + host + ":" + std::to_string(port), buffer, size);
        return -1;
    }
    const std::vector<std::string> cameras = lister.Cameras();
    lister.disconnectServer();
    std::string names;
    int count = 0;
    for (const std::string& name : cameras) {
        if (size < 1 || names.size() + name.size() + 1 >= static_cast<size_t>(size)) break;
        names += name + "\n";
        ++count;
    }
    CopyOut(names, buffer, size);
    return count;
}

int openUSB(int /*reserved*/) {
    std::lock_guard<std::mutex> api(apiMutex);
    return OpenCamera();
}

const char* GetCameraInfo(int* width, int* height) {
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (width) *width = s.sensorWidth;
    if (height) *height = s.sensorHeight;
    return cameraName.c_str();
}

int ExposureSemaphore(sem_t* done) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.done = done;
    return 1;
}

int ThreadedExposure(void* buffer, int /*reserved*/, int /*mode*/) {
    if (!buffer) return 0;
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        if (!client) return 0;
        if (s.lost || !s.serverUp) {
            if (!settings.lostReported) {
                settings.lostReported = true;
                Report(lock, s.lastError.empty() ? "INDI: the camera is not connected"
                                                 : s.lastError);
            }
            return 0;
        }
        if (s.pending != Kind::None) return 0;
    }
    const int w = settings.width, h = settings.height;
    const bool stream = settings.exposureMs < kStreamBelowMs && HasProperty("CCD_VIDEO_STREAM") &&
                        HasProperty("STREAMING_EXPOSURE");
    if (stream)
        PrepareStream(w, h);
    else
        PrepareSingle(w, h);

    double seconds = settings.exposureMs / 1000.0;
    double min = 0, max = 0;
    if (!stream && RangeOf("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", &min, &max) && max > min)
        seconds = std::clamp(seconds, min, max);  // a value out of range is refused, no image
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.pending = stream ? Kind::Stream : Kind::Single;
        s.buffer = static_cast<uint8_t*>(buffer);
        s.width = w;
        s.height = h;
        s.mirror = settings.flip && !settings.driverFlips;
        s.flipped = settings.flip;
        s.deadline = Clock::now() + std::chrono::milliseconds(settings.exposureMs) + kImageMargin;
        s.changed.notify_all();  // the watchdog takes the new deadline
        if (stream && s.streamFrameFresh && s.streamFrameGeneration == s.generation) {
            s.streamFrameFresh = false;
            indicam::CopyToFrame(s.streamFrame, w, h, s.mirror, s.flipped, s.buffer);
            EndPending(s);
            return 1;
        }
        s.streamFrameFresh = false;
    }
    if (!stream && !SetNumbers("CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", seconds}})) {
        std::unique_lock<std::mutex> lock(s.mutex);
        Report(lock, "INDI: device '" + s.device + "' takes no exposure");
        EndPending(s);
    }
    return 1;
}

int CancelExposure(void) {
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    Kind was = Kind::None;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        was = s.pending;
        EndPending(s);
    }
    if (was == Kind::Single) SetSwitch("CCD_ABORT_EXPOSURE", "ABORT");
    return was == Kind::None ? 0 : 1;
}

int SetExposureLength(int ms) {
    std::lock_guard<std::mutex> api(apiMutex);
    const int clamped = std::clamp(ms, 1, 10000);
    if (clamped != settings.exposureMs) {
        settings.exposureMs = clamped;
        SettingsChanged();
    }
    return 1;
}

int SetGain(int gain) {
    std::lock_guard<std::mutex> api(apiMutex);
    const int g = std::clamp(gain, 0, 100);
    if (g == settings.gain) return 1;
    settings.gain = g;
    SettingsChanged();
    if (!Usable()) return 1;
    if (HasProperty("CCD_GAIN")) return SetScaled("CCD_GAIN", "GAIN", g, 100) ? 1 : 0;
    const std::string element = ControlElement({"Gain"});
    if (!element.empty()) return SetScaled("CCD_CONTROLS", element, g, 100) ? 1 : 0;
    return 1;  // a camera without gain
}

int SetWhiteBalance(int blue, int green, int red) {
    std::lock_guard<std::mutex> api(apiMutex);
    if (!Usable()) return 1;
    bool any = false;
    const std::pair<std::initializer_list<const char*>, int> channels[] = {
        {{"WB_B", "WB_Blue", "BlueBalance", "Blue"}, blue},
        {{"WB_G", "WB_Green", "GreenBalance", "Green"}, green},
        {{"WB_R", "WB_Red", "RedBalance", "Red"}, red}};
    for (const auto& [names, value] : channels) {
        const std::string element = ControlElement(names);
        if (!element.empty()) any |= SetScaled("CCD_CONTROLS", element, value, 255);
    }
    if (any) SettingsChanged();
    return 1;  // no balance controls: the colours stay as the driver makes them
}

int Subframe(int width, int height) {
    std::lock_guard<std::mutex> api(apiMutex);
    State& s = S();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (width < 1 || height < 1 || width > s.sensorWidth || height > s.sensorHeight) return 0;
    }
    if (width != settings.width || height != settings.height) {
        settings.width = width;
        settings.height = height;
        SettingsChanged();
    }
    return 1;
}

int HorizontalFlip(int on) {
    std::lock_guard<std::mutex> api(apiMutex);
    const bool flip = on != 0;
    if (flip == settings.flip) return 1;
    settings.flip = flip;
    // Drivers that mirror in the camera offer a FLIP switch; otherwise the copy mirrors.
    settings.driverFlips = HasProperty("FLIP") && SetSwitch("FLIP", "FLIP_HORIZONTAL", flip);
    SettingsChanged();
    return 1;
}

}  // extern "C"
