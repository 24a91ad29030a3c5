// The INDI client of the camera: what the server tells (properties, images) kept in the
// shared state, and the helpers that send settings to the device.
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "IndiSession.h"

namespace indicam {
void report(std::unique_lock<std::mutex>& lock, const std::string& message) {
    State& s = state();
    s.lastError = message;
    const bool repeat = s.lastPrinted == message;
    s.lastPrinted = message;
    lock.unlock();
    if (!repeat) std::fprintf(stderr, "%s\n", message.c_str());
    lock.lock();
}

void postDone(sem_t* done) {
    if (!done) return;
    int value = 0;
    if (sem_getvalue(done, &value) == 0 && value >= 1) return;  // counts to 1 at most
    sem_post(done);
}

// Ends the running exposure (the caller holds the state lock) and notes what became of it
// for CameraFrameInfo: filled only when this exposure's image was copied into its buffer,
// which is otherwise left untouched.
void endPending(State& s, bool filled, long long startUs) {
    if (s.pending == Kind::None) return;
    s.pending = Kind::None;
    s.buffer = nullptr;
    s.lastKnown = true;
    s.lastGood = filled;
    s.lastStartUs = filled ? startUs : 0;
    postDone(s.done);
}

long long unixNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

INDI::Property find(State& s, const char* name) {
    auto it = s.props.find({s.device, name});
    return it == s.props.end() ? INDI::Property() : it->second;
}

// The number element of a device property, or null.
INDI::WidgetView<INumber>* numberOf(const INDI::Property& p, const char* element) {
    if (!p.isValid() || p.getType() != INDI_NUMBER) return nullptr;
    return p.getNumber()->findWidgetByName(element);
}

bool switchIsOn(const INDI::Property& p, const char* element) {
    if (!p.isValid() || p.getType() != INDI_SWITCH) return false;
    auto* w = p.getSwitch()->findWidgetByName(element);
    return w && w->getState() == ISS_ON;
}

// The colour mosaic the driver announces in CCD_CFA, empty for none.
std::string driverPattern(State& s) {
    INDI::Property cfa = find(s, "CCD_CFA");
    if (!cfa.isValid() || cfa.getType() != INDI_TEXT) return {};
    auto* type = cfa.getText()->findWidgetByName("CFA_TYPE");
    if (!type || !type->getText()) return {};
    std::string pattern = type->getText();
    // The offsets are text elements of the same property.
    const auto offset = [&](const char* name) {
        auto* e = cfa.getText()->findWidgetByName(name);
        return e && e->getText() ? std::atoi(e->getText()) : 0;
    };
    const int dx = offset("CFA_OFFSET_X"), dy = offset("CFA_OFFSET_Y");
    return pattern.size() == 4 ? indicam::shiftPattern(pattern, dx, dy) : std::string();
}

namespace {
// One connection to the server. The control connection keeps what the server tells about
// the devices and their properties; an image connection (Role::Images) takes nothing but the
// camera's image BLOBs once it has their definitions.
class Client : public INDI::BaseClient {
  public:
    explicit Client(Role role) : role_(role) {}

  protected:
    void newProperty(INDI::Property p) override {
        State& s = state();
        if (role_ == Role::Images) {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (p.getType() == INDI_BLOB && p.getDeviceName() == s.device) {
                s.blobsDefined = true;
                s.changed.notify_all();
            }
            return;
        }
        remember(p);
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lastDefined = Clock::now();
    }
    void updateProperty(INDI::Property p) override {
        if (p.getType() == INDI_BLOB) {
            image(p);
            return;
        }
        if (role_ == Role::Images) return;
        remember(p);
        if (p.isNameMatch("CCD_EXPOSURE")) exposureState(p);
    }
    void removeProperty(INDI::Property p) override {
        if (role_ == Role::Images) return;
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.props.erase({p.getDeviceName(), p.getName()});
    }
    void removeDevice(INDI::BaseDevice d) override {
        if (role_ == Role::Images) return;
        State& s = state();
        std::unique_lock<std::mutex> lock(s.mutex);
        const std::string name = d.getDeviceName();
        for (auto it = s.props.begin(); it != s.props.end();)
            it = it->first.first == name ? s.props.erase(it) : std::next(it);
        std::erase(s.devices, name);
        if (name == s.device && !s.lost) {
            s.lost = true;
            report(lock, "INDI: device '" + name + "' is gone");
            noteTrouble(s, s.lastError);
            s.watch.stopped();
            endPending(s);
        }
        s.changed.notify_all();
    }
    void serverConnected() override {
        connected_ = true;
        if (role_ == Role::Images) return;
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.serverUp = true;
    }
    // Either connection closing means the server is gone (or dropped this client): the
    // camera is opened again, both connections anew.
    void serverDisconnected(int /*exitCode*/) override {
        if (!connected_.exchange(false)) return;  // never connected, or left on purpose
        State& s = state();
        std::unique_lock<std::mutex> lock(s.mutex);
        const bool wasUp = s.serverUp;
        s.serverUp = false;
        if (wasUp && !s.lost && !s.device.empty()) {
            s.lost = true;
            report(lock, "INDI: lost the server at " + g_options.host + ":" +
                             std::to_string(g_options.port));
            noteTrouble(s, s.lastError);
        }
        s.watch.stopped();
        s.lost = true;
        endPending(s);
        s.changed.notify_all();
    }

  private:
    // The driver's answers to a single exposure: busy while it runs; an alert when it was
    // refused or failed; idle once it was aborted (by this library, another client or the
    // driver); ok when it is over, the image coming just before.
    static void exposureState(const INDI::Property& p) {
        State& s = state();
        std::unique_lock<std::mutex> lock(s.mutex);
        if (p.getDeviceName() != s.device) return;
        const IPState state = p.getState();
        if ((state == IPS_IDLE || state == IPS_ALERT) && s.abortsUnanswered > 0) {
            --s.abortsUnanswered;  // the answer to an abort of an earlier exposure
            return;
        }
        if (s.pending != Kind::Single) return;
        if (state == IPS_BUSY) {
            s.exposureAnswered = true;
        } else if (state == IPS_ALERT) {
            report(lock, "INDI: the exposure on '" + s.device + "' failed");
            endPending(s);
        } else if (state == IPS_IDLE && s.exposureAnswered) {
            report(lock, "INDI: the exposure on '" + s.device + "' was aborted");
            endPending(s);
        } else if (state == IPS_OK && s.exposureAnswered) {
            // Over without an image so far: one that is still on its way gets a moment.
            s.deadline = std::min(s.deadline, Clock::now() + 2s);
            s.changed.notify_all();
        }
    }

    static void remember(const INDI::Property& p) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const std::string device = p.getDeviceName();
        if (device == s.device && p.isNameMatch("CCD_VIDEO_STREAM")) {
            // The property objects are updated in place: what was on is noted here.
            const bool on = switchIsOn(p, "STREAM_ON");
            if (s.driverStreamOn && !on) noteStreamStopped(s);
            s.driverStreamOn = on;
        }
        if (std::find(s.devices.begin(), s.devices.end(), device) == s.devices.end())
            s.devices.push_back(device);
        s.props[{device, p.getName()}] = p;
        s.lastProperty = Clock::now();
        s.changed.notify_all();
    }

    // An image BLOB: decoded outside the lock, copied into the waiting buffer under it.
    static void image(const INDI::Property& p) {
        State& s = state();
        const long long arrivedUs = unixNowUs();
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
        if ((stream && s.pending == Kind::Single) || (!stream && s.pending == Kind::Stream)) return;
        const int streamW = s.streamWidth, streamH = s.streamHeight;
        const int sensorW = s.sensorWidth, sensorH = s.sensorHeight;
        int reportedW = 0, reportedH = 0;
        if (stream) {
            INDI::Property frame = find(s, "CCD_STREAM_FRAME");
            if (auto* fw = numberOf(frame, "WIDTH")) reportedW = static_cast<int>(fw->getValue());
            if (auto* fh = numberOf(frame, "HEIGHT")) reportedH = static_cast<int>(fh->getValue());
        }
        const int bits = s.bitsPerPixel;
        const std::string pattern = stream ? driverPattern(s) : std::string();
        const unsigned generation = s.generation;
        const long long streamExposureUs = s.streamExposureUs;
        if (stream) {
            s.watch.frame();
            s.readerTid = static_cast<pid_t>(syscall(SYS_gettid));
        }
        lock.unlock();

        indicam::Image image;
        std::string error;
        bool ok = false;
        bool staleStreamFrame = false;
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
                // The driver sends a stream frame as soon as it is read out.
                image.startUs = arrivedUs - streamExposureUs;
                ok = true;
            } else {
                // A frame the driver read out before the new stream frame size took effect:
                // passed over, the exposure waits for the next one (the watchdog bounds it).
                staleStreamFrame = true;
                error = "stream frame of " + std::to_string(size) + " bytes, expected " +
                        std::to_string(streamW) + " x " + std::to_string(streamH) + " at 8 bits";
            }
        } else if (format == ".fits" || format == ".fit") {
            ok = data && indicam::decodeFits(data, size, bits, &image, &error);
        } else {
            error = "image of format '" + format + "' cannot be read (FITS or raw stream only)";
        }

        lock.lock();
        if (!ok) {
            if (s.pending != Kind::None && !staleStreamFrame) {
                report(lock, "INDI: rejected an image from '" + s.device + "': " + error);
                endPending(s);
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
        if (!copyImage(s, image)) {
            report(lock, "INDI: rejected an image of " + std::to_string(image.width) + " x " +
                             std::to_string(image.height) + " from '" + s.device +
                             "' for a frame of " + std::to_string(s.width) + " x " +
                             std::to_string(s.height));
            endPending(s);
            return;
        }
        endPending(s, true, image.startUs);
    }

  public:
    // Its end from now on is no news: the library leaves it on purpose.
    void leaving() { connected_ = false; }

  private:
    const Role role_;
    std::atomic<bool> connected_{false};
};
}  // namespace

std::unique_ptr<INDI::BaseClient> makeClient(Role role) {
    return std::make_unique<Client>(role);
}

namespace {
// Connects the image connection to `host` (a name, or "localhost:" and a local socket's path)
// and waits for the camera's BLOB definitions; false, with the connection closed, otherwise.
bool openImages(const std::string& host) {
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.blobsDefined = false;
    }
    g_imageClient = makeClient(Role::Images);
    g_imageClient->setServer(host.c_str(), static_cast<unsigned>(g_options.port));
    g_imageClient->setConnectionTimeout(3, 0);
    bool connected = false;
    send([&] { connected = g_imageClient->connectServer(); });
    // The BLOB definitions first: an image connection that takes only BLOBs is sent no
    // definitions, and its client library drops images of properties it does not know.
    if (connected &&
        waitFor(kAnswerTimeout, [](State& st) { return st.blobsDefined || st.lost; }) && usable())
        return true;
    closeImages();
    return false;
}
}  // namespace

void connectImages(const std::string& device) {
    bool ready = false;
    if (g_options.separateBlobs && !g_options.localSocket.empty()) {
        ready = openImages("localhost:" + g_options.localSocket);
        if (ready) {
            g_imageClient->enableDirectBlobAccess(device.c_str(), nullptr);  // read in place
        } else {
            std::fprintf(stderr,
                         "INDI: no server at the local socket '%s'; the images come over %s:%d\n",
                         g_options.localSocket.c_str(), g_options.host.c_str(), g_options.port);
        }
    }
    if (g_options.separateBlobs && !ready) ready = openImages(g_options.host);
    if (ready) send([&] { g_imageClient->setBLOBMode(B_ONLY, device.c_str(), nullptr); });
    send([&] { g_client->setBLOBMode(ready ? B_NEVER : B_ALSO, device.c_str(), nullptr); });
}

void closeImages(bool atExit) {
    if (!g_imageClient) return;
    static_cast<Client&>(*g_imageClient).leaving();
    if (g_imageClient->isServerConnected()) g_imageClient->disconnectServer();
    if (atExit)
        g_imageClient.release();
    else
        g_imageClient.reset();
}

bool usable() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return g_client && s.serverUp && !s.lost;
}

// Sets number elements of a property of the camera and sends it; values are clamped to the
// element's range. False when the property or an element is missing.
bool setNumbers(const char* name, std::initializer_list<std::pair<const char*, double>> values) {
    State& s = state();
    INDI::Property p;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!g_client || !s.serverUp || s.lost) return false;
        p = find(s, name);
        if (!p.isValid() || p.getType() != INDI_NUMBER) return false;
        for (const auto& [element, value] : values) {
            auto* w = numberOf(p, element);
            if (!w) return false;
            double v = value;
            if (w->getMax() > w->getMin()) v = std::clamp(v, w->getMin(), w->getMax());
            w->setValue(v);
        }
    }
    send([&] { g_client->sendNewNumber(p); });
    return true;
}

// Turns one element of a switch property on (the others of a one-of-many switch off).
bool setSwitch(const char* name, const char* element, bool on) {
    State& s = state();
    INDI::Property p;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!g_client || !s.serverUp || s.lost) return false;
        p = find(s, name);
        if (!p.isValid() || p.getType() != INDI_SWITCH) return false;
        auto* sw = p.getSwitch();
        auto* w = sw->findWidgetByName(element);
        if (!w) return false;
        if (sw->getRule() != ISR_NOFMANY) sw->reset();
        w->setState(on ? ISS_ON : ISS_OFF);
    }
    send([&] { g_client->sendNewSwitch(p); });
    return true;
}

// As setNumbers, but sends only when the driver's values (as last reported, or as last sent
// by this library) differ from those wanted, so that whatever another client left is put
// right without sending the same values again and again.
bool ensureNumbers(const char* name, std::initializer_list<std::pair<const char*, double>> values) {
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const INDI::Property p = find(s, name);
        bool same = p.isValid();
        for (const auto& [element, value] : values) {
            auto* w = numberOf(p, element);
            if (!w) return false;
            double v = value;
            if (w->getMax() > w->getMin()) v = std::clamp(v, w->getMin(), w->getMax());
            same = same && std::fabs(w->getValue() - v) <= 1e-9 * std::max(1.0, std::fabs(v));
        }
        if (same) return true;
    }
    return setNumbers(name, values);
}

// Turns the element of a one-of-many switch on when the driver does not have it on.
bool ensureSwitch(const char* name, const char* element) {
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const INDI::Property p = find(s, name);
        if (!p.isValid()) return false;
        if (switchIsOn(p, element)) return true;
    }
    return setSwitch(name, element);
}

bool hasProperty(const char* name) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return find(s, name).isValid();
}

// Range of a number element, false when there is none.
bool rangeOf(const char* name, const char* element, double* min, double* max) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto* w = numberOf(find(s, name), element);
    if (!w) return false;
    *min = w->getMin();
    *max = w->getMax();
    return true;
}

// The element of CCD_CONTROLS whose name matches one of the candidates (any case).
std::string controlElement(std::initializer_list<const char*> candidates) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    INDI::Property p = find(s, "CCD_CONTROLS");
    if (!p.isValid() || p.getType() != INDI_NUMBER) return {};
    for (auto& w : *p.getNumber())
        for (const char* c : candidates)
            if (strcasecmp(w.getName(), c) == 0) return w.getName();
    return {};
}

// Maps a value of 0..top onto an element's range and sends it.
bool setScaled(const char* name, const std::string& element, int value, int top) {
    double min = 0, max = 0;
    if (element.empty() || !rangeOf(name, element.c_str(), &min, &max) || max <= min) return false;
    const double v = min + (max - min) * std::clamp(value, 0, top) / top;
    return setNumbers(name, {{element.c_str(), v}});
}

bool switchIsOnNow(const char* name, const char* element);

void stopStream() {
    const bool wasOn = g_settings.streamOn || switchIsOnNow("CCD_VIDEO_STREAM", "STREAM_ON");
    if (wasOn) setSwitch("CCD_VIDEO_STREAM", "STREAM_OFF");
    g_settings.streamOn = false;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.streamFrameFresh = false;
    s.watch.stopped();
    if (wasOn) noteStreamStopped(s);
}

void noteTrouble(State& s, const std::string& text) {
    if (s.trouble.empty() && !text.empty()) ++s.troubles;
    s.trouble = text;
}

// Under the state lock.
void noteStreamStopped(State& s) {
    auto* exposure = numberOf(find(s, "STREAMING_EXPOSURE"), "STREAMING_EXPOSURE_VALUE");
    s.streamStopped = Clock::now();
    s.stoppedExposureUs = exposure ? std::llround(exposure->getValue() * 1e6) : 0;
}

// Waits until a stream stopped lately has had time to finish its frame in the driver.
void awaitStreamSettled() {
    State& s = state();
    Clock::time_point until;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        until = s.streamStopped + kStreamSettle + std::chrono::microseconds(s.stoppedExposureUs);
    }
    if (Clock::now() < until) std::this_thread::sleep_until(until);
}
}  // namespace indicam
