// The session with the INDI server and the camera device: connecting, choosing and
// connecting the device, the watchdog of exposures, and preparing single exposures and the
// video stream.
#include "IndiSession.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace indicam {
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
void Close(bool atExit) {
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
    s.driverStreamOn = false;
    s.sensorWidth = s.sensorHeight = 0;
    s.abortsUnanswered = 0;
    s.lastKnown = false;
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
    client = MakeClient();
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
    // A device another client has connected already lists all its properties at once, the
    // stream's last: wait for the listing to end, or the settings below would miss some.
    WaitFor(kListingTime,
            [](State& st) { return st.lost || Clock::now() - st.lastDefined >= kListingQuiet; });

    {
        std::lock_guard<std::mutex> lock(s.mutex);
        INDI::Property info = Find(s, "CCD_INFO");
        if (auto* w = NumberOf(info, "CCD_MAX_X")) s.sensorWidth = static_cast<int>(w->getValue());
        if (auto* h = NumberOf(info, "CCD_MAX_Y")) s.sensorHeight = static_cast<int>(h->getValue());
        if (auto* b = NumberOf(info, "CCD_BITSPERPIXEL"))
            s.bitsPerPixel = static_cast<int>(b->getValue());
        s.generation = 0;
    }
    if (s.sensorWidth < 1 || s.sensorHeight < 1)
        return Fail("INDI: device '" + device + "' reports no sensor size");
    cameraName = device;
    settings.width = s.sensorWidth;
    settings.height = s.sensorHeight;

    Send([&] { client->setBLOBMode(B_ALSO, device.c_str(), nullptr); });
    // A stream left on by an earlier client blocks exposures.
    StopStream();
    AssertSessionSettings();

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

// Every setting of the device the images depend on, whatever an earlier client left: they
// come to this client as FITS BLOBs, uncompressed, of light frames, unbinned, one exposure at
// a time, with the driver polling fast enough for short exposures. Properties a driver does
// not have are left out.
void AssertSessionSettings() {
    EnsureSwitch("UPLOAD_MODE", "UPLOAD_CLIENT");
    EnsureSwitch("CCD_TRANSFER_FORMAT", "FORMAT_FITS");
    EnsureSwitch("CCD_COMPRESSION", "INDI_DISABLED");
    EnsureSwitch("CCD_FRAME_TYPE", "FRAME_LIGHT");
    EnsureSwitch("CCD_FAST_TOGGLE", "INDI_DISABLED");
    EnsureNumbers("CCD_BINNING", {{"HOR_BIN", 1}, {"VER_BIN", 1}});
    double min = 0, max = 0;
    if (RangeOf("POLLING_PERIOD", "PERIOD_MS", &min, &max))
        EnsureNumbers("POLLING_PERIOD", {{"PERIOD_MS", std::max<double>(min, kPreviewPeriodMs)}});
    AssertStreamSettings();
}

// The stream's settings: raw frames (the only stream frames the copy reads), every frame sent
// (no divisor) and the preview rate limit at its top, which the driver otherwise keeps at a
// few frames a second.
void AssertStreamSettings() {
    EnsureSwitch("CCD_STREAM_ENCODER", "RAW");
    double min = 0, max = 0;
    if (RangeOf("LIMITS", "LIMITS_PREVIEW_FPS", &min, &max) && max > 0)
        EnsureNumbers("LIMITS", {{"LIMITS_PREVIEW_FPS", max}});
    if (RangeOf("STREAMING_EXPOSURE", "STREAMING_DIVISOR_VALUE", &min, &max))
        EnsureNumbers("STREAMING_EXPOSURE", {{"STREAMING_DIVISOR_VALUE", std::max(min, 1.0)}});
}

// After a window of the stream's rate check: when frames came far slower than the driver
// makes them, its settings are sent again, once a session, and the user is told; if that does
// not help, the user is told once more.
void CheckStreamRate() {
    State& s = S();
    double seen = 0, expected = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.rateSlow) return;
        s.rateSlow = false;
        seen = s.rateSeen;
        expected = s.rateExpected;
    }
    if (settings.rateReported) return;
    char rates[96];
    std::snprintf(rates, sizeof rates, "%.1f frames a second where the driver makes %.1f", seen,
                  expected);
    std::string message = "INDI: the stream of '" + cameraName + "' brings " + rates;
    if (!settings.rateReasserted) {
        settings.rateReasserted = true;
        settings.streamExposure = -1;
        settings.streamFrameW = -1;
        AssertSessionSettings();
        SetSwitch("CCD_VIDEO_STREAM", "STREAM_ON");
        message += "; its settings were sent again";
        std::lock_guard<std::mutex> lock(s.mutex);
        s.rateFrames = 0;
    } else {
        settings.rateReported = true;
    }
    std::unique_lock<std::mutex> lock(s.mutex);
    Report(lock, message);
}

// Sends the frame, exposure and stream settings a stream exposure needs, then starts it.
void PrepareStream(int w, int h) {
    State& s = S();
    const double seconds = settings.exposureMs / 1000.0;
    if (settings.streamExposure != seconds) {
        SetNumbers("STREAMING_EXPOSURE", {{"STREAMING_EXPOSURE_VALUE", seconds}});
        settings.streamExposure = seconds;
        std::lock_guard<std::mutex> lock(s.mutex);
        s.streamExposureUs = static_cast<long long>(settings.exposureMs) * 1000;
        s.rateFrames = 0;  // a new rate to check
    }
    // The stream takes its subframe from CCD_STREAM_FRAME: a CCD_FRAME subframe makes the
    // simulator stream frames of the wrong size, so CCD_FRAME stays at the full sensor.
    if (settings.frameW != s.sensorWidth || settings.frameH != s.sensorHeight ||
        settings.frameX != 0 || settings.frameY != 0) {
        SetNumbers("CCD_FRAME",
                   {{"X", 0}, {"Y", 0}, {"WIDTH", s.sensorWidth}, {"HEIGHT", s.sensorHeight}});
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
                       static_cast<int>(fw->getValue()) == w &&
                       static_cast<int>(fh->getValue()) == h;
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
        AssertStreamSettings();  // another client may have changed them since the last stream
        AwaitStreamSettled();
        SetSwitch("CCD_VIDEO_STREAM", "STREAM_ON");
        settings.streamOn = true;
        std::lock_guard<std::mutex> lock(s.mutex);
        s.rateFrames = 0;
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

bool ParseServer(const std::string& v, std::string* host, int* port, std::string* why) {
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
__attribute__((destructor)) void CloseAtUnload() {
    std::lock_guard<std::mutex> api(apiMutex);
    Close(/*atExit=*/true);
}
}  // namespace
}  // namespace indicam
