// The session with the INDI server and the camera device: connecting, choosing and
// connecting the device, the watchdog of exposures, and preparing single exposures and the
// video stream.
#include "IndiSession.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace indicam {
namespace {
// The rate the driver reports making while it streams (its FPS property, which falls to 0
// when its stream is turned off behind the library's back), else one frame per exposure.
double driverRate(State& s) {
    auto* made = numberOf(find(s, "FPS"), "AVG_FPS");
    if (made && made->getValue() > 0 && s.driverStreamOn) s.madeFps = made->getValue();
    if (s.madeFps > 0) return s.madeFps;
    return s.streamExposureUs > 0 ? 1e6 / static_cast<double>(s.streamExposureUs) : 0;
}

// After a window of the stream's rate was judged (with s.mutex held): a stream that stays
// slow after its restart is the trouble in force, its figures those of the last window; one
// back at the driver's rate ends it.
void noteStreamHealth(State& s, std::unique_lock<std::mutex>& lock) {
    const bool wasStalled = s.trouble.rfind("INDI stream stalled", 0) == 0;
    if (s.watch.stalled()) {
        const std::string text = s.watch.stalledText();
        noteTrouble(s, text);
        if (!wasStalled) {
            report(lock, text + " (the stream of '" + s.device + "' stays slow; restarting it " +
                             "again, less and less often)");
        }
        s.lastError = text;
    } else if (wasStalled && !s.watch.slow()) {
        noteTrouble(s, "");
        if (s.lastError.rfind("INDI stream stalled", 0) == 0) s.lastError.clear();
        char rate[64];
        std::snprintf(rate, sizeof rate, "%.1f frames a second", s.watch.seenFps());
        report(lock, "INDI: the stream of '" + s.device + "' is back at " + rate);
    }
}
}  // namespace

// Ends exposures whose image never comes, and restarts a stream far slower than its driver.
void watchdogLoop() {
    State& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    while (!s.stopWatchdog) {
        if (s.pending != Kind::None && Clock::now() >= s.deadline) {
            report(lock, "INDI: no image from '" + s.device + "' in time");
            endPending(s);
        }
        const auto now = Clock::now();
        const bool restart =
            s.watch.due(now, driverRate(s), StreamWatch::threadBusyNs(s.readerTid));
        noteStreamHealth(s, lock);
        if (restart) {
            lock.unlock();
            restartSlowStream();
            lock.lock();
            continue;
        }
        // A stream's windows are judged whether frames come or not.
        auto wake = now + 250ms;
        if (s.pending != Kind::None) wake = std::min(wake, s.deadline);
        s.changed.wait_until(lock, wake);
    }
}

// From the watchdog: stops the stream, sends its settings again and starts it. Takes apiMutex
// unless the session is closing (close() holds it while it waits for the watchdog).
void restartSlowStream() {
    State& s = state();
    std::unique_lock<std::mutex> api(g_apiMutex, std::defer_lock);
    while (!api.try_lock()) {
        std::unique_lock<std::mutex> lock(s.mutex);
        if (s.changed.wait_for(lock, 20ms, [&] { return s.stopWatchdog; })) return;
    }
    if (!g_settings.streamOn || !usable()) return;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        char rates[96];
        std::snprintf(rates, sizeof rates, "%.1f frames a second where the driver makes %.1f",
                      s.watch.seenFps(), s.watch.expectedFps());
        ++s.restarts;
        const std::string message =
            "INDI: the stream of '" + s.device + "' brings " + rates + "; restarting it";
        s.lastPrinted.clear();  // every restart is told
        const std::string kept = s.lastError;
        report(lock, message);
        if (kept.rfind("INDI stream stalled", 0) == 0) s.lastError = kept;
    }
    stopStream();
    g_settings.streamExposure = -1;
    g_settings.streamFrameW = -1;
    assertSessionSettings();
    prepareStream(g_settings.width, g_settings.height);
}

// Stops the stream, leaves the server and forgets the device. Under apiMutex. At process
// exit (atExit) the client and what it told are left in memory: tearing down the client
// library's device tree during exit was seen to crash inside that library.
void close(bool atExit) {
    closeImages(atExit);
    if (g_client) {
        if (usable()) stopStream();
        if (g_client->isServerConnected()) g_client->disconnectServer();
    }
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        endPending(s);
        s.stopWatchdog = true;
        s.changed.notify_all();
    }
    if (g_watchdog.joinable()) g_watchdog.join();
    if (atExit) {
        g_client.release();
        return;
    }
    g_client.reset();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.props.clear();
    s.devices.clear();
    s.device.clear();
    s.serverUp = false;
    s.lost = false;
    s.blobsDefined = false;
    s.readerTid = 0;
    s.stopWatchdog = false;
    s.streamFrameFresh = false;
    s.driverStreamOn = false;
    s.sensorWidth = s.sensorHeight = 0;
    s.abortsUnanswered = 0;
    s.lastKnown = false;
    s.watch = StreamWatch{};
    s.madeFps = 0;
    g_settings = Settings{};
    g_cameraName.clear();
}

int fail(const std::string& message) {
    State& s = state();
    if (!g_reopening) {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.lastPrinted.clear();
        report(lock, message);
    }
    close();
    return 0;
}
// The device to use: the named one, else the first that has CCD_EXPOSURE or calls itself
// a CCD. Empty when none shows up.
std::string chooseDevice() {
    const auto start = Clock::now();
    std::string chosen;
    waitFor(kAnswerTimeout, [&](State& s) {
        if (!g_options.device.empty()) {
            for (const auto& d : s.devices)
                if (d == g_options.device) chosen = d;
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

bool switchIsOnNow(const char* name, const char* element) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return switchIsOn(find(s, name), element);
}

int openCamera() {
    close();
    State& s = state();
    const std::string where = g_options.host + ":" + std::to_string(g_options.port);
    g_client = makeClient();
    g_client->setServer(g_options.host.c_str(), static_cast<unsigned>(g_options.port));
    g_client->setConnectionTimeout(3, 0);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lastProperty = Clock::now();
    }
    bool connected = false;
    send([&] { connected = g_client->connectServer(); });
    if (!connected) return fail("INDI: no server at " + where);

    const std::string device = chooseDevice();
    if (device.empty()) {
        return fail(g_options.device.empty() ? "INDI: no camera on the server at " + where
                                             : "INDI: device '" + g_options.device +
                                                   "' not found on the server at " + where);
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.device = device;
    }
    if (!switchIsOnNow("CONNECTION", "CONNECT") && !setSwitch("CONNECTION", "CONNECT"))
        return fail("INDI: device '" + device + "' cannot be connected");
    const bool answered = waitFor(kAnswerTimeout, [&](State& st) {
        // The sensor size comes in an update after the property itself.
        auto* maxX = numberOf(find(st, "CCD_INFO"), "CCD_MAX_X");
        return st.lost || (switchIsOn(find(st, "CONNECTION"), "CONNECT") &&
                           find(st, "CCD_EXPOSURE").isValid() && maxX && maxX->getValue() > 0 &&
                           find(st, "CCD_FRAME").isValid());
    });
    if (!answered || !usable())
        return fail("INDI: device '" + device + "' does not answer at " + where);
    // A device another client has connected already lists all its properties at once, the
    // stream's last: wait for the listing to end, or the settings below would miss some.
    waitFor(kListingTime,
            [](State& st) { return st.lost || Clock::now() - st.lastDefined >= kListingQuiet; });

    {
        std::lock_guard<std::mutex> lock(s.mutex);
        INDI::Property info = find(s, "CCD_INFO");
        if (auto* w = numberOf(info, "CCD_MAX_X")) s.sensorWidth = static_cast<int>(w->getValue());
        if (auto* h = numberOf(info, "CCD_MAX_Y")) s.sensorHeight = static_cast<int>(h->getValue());
        if (auto* b = numberOf(info, "CCD_BITSPERPIXEL"))
            s.bitsPerPixel = static_cast<int>(b->getValue());
        auto* px = numberOf(info, "CCD_PIXEL_SIZE_X");
        auto* py = numberOf(info, "CCD_PIXEL_SIZE_Y");
        s.pixelWidthUm = px ? px->getValue() : 0;
        s.pixelHeightUm = py ? py->getValue() : 0;
        s.generation = 0;
    }
    if (s.sensorWidth < 1 || s.sensorHeight < 1)
        return fail("INDI: device '" + device + "' reports no sensor size");
    g_cameraName = device;
    g_settings.width = s.sensorWidth;
    g_settings.height = s.sensorHeight;

    connectImages(device);
    // A stream left on by an earlier client blocks exposures.
    stopStream();
    assertSessionSettings();

    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopWatchdog = false;
    }
    g_watchdog = std::thread(watchdogLoop);
    return 1;
}

void settingsChanged() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.generation;
}

// Every setting of the device the images depend on, whatever an earlier client left: they
// come to this client as FITS BLOBs, uncompressed, of light frames, unbinned, one exposure at
// a time, with the driver polling fast enough for short exposures. Properties a driver does
// not have are left out.
void assertSessionSettings() {
    ensureSwitch("UPLOAD_MODE", "UPLOAD_CLIENT");
    ensureSwitch("CCD_TRANSFER_FORMAT", "FORMAT_FITS");
    ensureSwitch("CCD_COMPRESSION", "INDI_DISABLED");
    ensureSwitch("CCD_FRAME_TYPE", "FRAME_LIGHT");
    ensureSwitch("CCD_FAST_TOGGLE", "INDI_DISABLED");
    ensureNumbers("CCD_BINNING", {{"HOR_BIN", 1}, {"VER_BIN", 1}});
    double min = 0, max = 0;
    if (rangeOf("POLLING_PERIOD", "PERIOD_MS", &min, &max))
        ensureNumbers("POLLING_PERIOD", {{"PERIOD_MS", std::max<double>(min, kPreviewPeriodMs)}});
    assertStreamSettings();
}

// The stream's settings: raw frames (the only stream frames the copy reads), every frame sent
// (no divisor) and the preview rate limit at its top, which the driver otherwise keeps at a
// few frames a second.
void assertStreamSettings() {
    ensureSwitch("CCD_STREAM_ENCODER", "RAW");
    double min = 0, max = 0;
    if (rangeOf("LIMITS", "LIMITS_PREVIEW_FPS", &min, &max) && max > 0)
        ensureNumbers("LIMITS", {{"LIMITS_PREVIEW_FPS", max}});
    if (rangeOf("STREAMING_EXPOSURE", "STREAMING_DIVISOR_VALUE", &min, &max))
        ensureNumbers("STREAMING_EXPOSURE", {{"STREAMING_DIVISOR_VALUE", std::max(min, 1.0)}});
}

Placement placeSubframe(int w, int h) {
    const State& s = state();
    return {indicam::placedOffset(s.sensorWidth, w, g_settings.originLeft),
            indicam::placedOffset(s.sensorHeight, h, g_settings.originTop)};
}

// Sends the frame, exposure and stream settings a stream exposure needs, then starts it.
void prepareStream(int w, int h) {
    State& s = state();
    const double seconds = static_cast<double>(g_settings.exposureUs) / 1e6;
    if (g_settings.streamExposure != seconds) {
        setNumbers("STREAMING_EXPOSURE", {{"STREAMING_EXPOSURE_VALUE", seconds}});
        g_settings.streamExposure = seconds;
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.streamExposureUs != g_settings.exposureUs) s.madeFps = 0;  // a rate to learn again
        s.streamExposureUs = g_settings.exposureUs;
        if (g_settings.streamOn) s.watch.started(Clock::now());  // a new rate to judge
    }
    // The stream takes its subframe from CCD_STREAM_FRAME: a CCD_FRAME subframe makes the
    // simulator stream frames of the wrong size, so CCD_FRAME stays at the full sensor.
    if (g_settings.frameW != s.sensorWidth || g_settings.frameH != s.sensorHeight ||
        g_settings.frameX != 0 || g_settings.frameY != 0) {
        setNumbers("CCD_FRAME",
                   {{"X", 0}, {"Y", 0}, {"WIDTH", s.sensorWidth}, {"HEIGHT", s.sensorHeight}});
        g_settings.frameX = g_settings.frameY = 0;
        g_settings.frameW = s.sensorWidth;
        g_settings.frameH = s.sensorHeight;
        g_settings.streamFrameW = -1;
    }
    const Placement at = placeSubframe(w, h);
    if (g_settings.streamFrameW != w || g_settings.streamFrameH != h ||
        g_settings.streamFrameX != at.left || g_settings.streamFrameY != at.top) {
        // The driver answers a CCD_FRAME change by resetting its stream frame, possibly after
        // this one arrives: wait for the frame asked for, and ask again once if need be.
        bool set = false;
        for (int attempt = 0; attempt < 2 && !set; ++attempt) {
            if (!setNumbers("CCD_STREAM_FRAME",
                            {{"X", at.left}, {"Y", at.top}, {"WIDTH", w}, {"HEIGHT", h}}))
                break;
            set = waitFor(1s, [&](State& st) {
                INDI::Property f = find(st, "CCD_STREAM_FRAME");
                auto* fx = numberOf(f, "X");
                auto* fy = numberOf(f, "Y");
                auto* fw = numberOf(f, "WIDTH");
                auto* fh = numberOf(f, "HEIGHT");
                return f.getState() != IPS_BUSY && fw && fh &&
                       static_cast<int>(fw->getValue()) == w &&
                       static_cast<int>(fh->getValue()) == h &&
                       (!fx || static_cast<int>(fx->getValue()) == at.left) &&
                       (!fy || static_cast<int>(fy->getValue()) == at.top);
            });
        }
        g_settings.streamFrameW = w;
        g_settings.streamFrameH = h;
        g_settings.streamFrameX = at.left;
        g_settings.streamFrameY = at.top;
        std::lock_guard<std::mutex> lock(s.mutex);
        // Without a stream frame the driver streams the full sensor; the copy crops.
        s.streamWidth = set ? w : s.sensorWidth;
        s.streamHeight = set ? h : s.sensorHeight;
        s.streamFrameFresh = false;
    }
    if (!g_settings.streamOn) {
        assertStreamSettings();  // another client may have changed them since the last stream
        awaitStreamSettled();
        setSwitch("CCD_VIDEO_STREAM", "STREAM_ON");
        g_settings.streamOn = true;
        std::lock_guard<std::mutex> lock(s.mutex);
        s.watch.started(Clock::now());
    }
}

void prepareSingle(int w, int h) {
    if (g_settings.streamOn) stopStream();
    const Placement at = placeSubframe(w, h);
    const int x = at.left, y = at.top;
    if (g_settings.frameX != x || g_settings.frameY != y || g_settings.frameW != w ||
        g_settings.frameH != h) {
        setNumbers("CCD_FRAME", {{"X", x}, {"Y", y}, {"WIDTH", w}, {"HEIGHT", h}});
        g_settings.frameX = x;
        g_settings.frameY = y;
        g_settings.frameW = w;
        g_settings.frameH = h;
        g_settings.streamFrameW = -1;  // the driver follows CCD_FRAME with its stream frame
    }
}

bool parseServer(const std::string& v, std::string* host, int* port, std::string* why) {
    std::string reason;
    const size_t colon = v.rfind(':');
    std::string portText = colon == std::string::npos ? std::string() : v.substr(colon + 1);
    if (colon == std::string::npos || colon + 1 >= v.size())
        reason = "the port is missing";
    else if (colon == 0)
        reason = "the host is missing";
    else if (portText.find_first_not_of("0123456789") != std::string::npos)
        reason = "the port '" + portText + "' is not a number";
    else if (portText.size() > 5 || std::stoi(portText) < 1 || std::stoi(portText) > 65535)
        reason = "the port " + portText + " is not between 1 and 65535";
    if (!reason.empty()) {
        if (why) *why = "'" + v + "' is not a server address HOST:PORT: " + reason;
        return false;
    }
    *host = v.substr(0, colon);
    *port = std::stoi(portText);
    return true;
}

namespace {
__attribute__((destructor)) void closeAtUnload() {
    std::lock_guard<std::mutex> api(g_apiMutex);
    close(/*atExit=*/true);
}
}  // namespace
}  // namespace indicam
