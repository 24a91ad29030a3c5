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

namespace {
__attribute__((destructor)) void CloseAtUnload() {
    std::lock_guard<std::mutex> api(apiMutex);
    Close(/*atExit=*/true);
}
}  // namespace
}  // namespace indicam
