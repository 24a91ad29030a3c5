#include "IndiAccessory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace indicam {
namespace {
bool hasInterface(State& s, const std::string& device, unsigned mask) {
    auto* iface = [&]() -> INDI::WidgetView<IText>* {
        INDI::Property info = deviceProperty(s, device, "DRIVER_INFO");
        if (!info.isValid() || info.getType() != INDI_TEXT) return nullptr;
        return info.getText()->findWidgetByName("DRIVER_INTERFACE");
    }();
    return iface && iface->getText() &&
           (static_cast<unsigned>(std::atoi(iface->getText())) & mask) != 0;
}

std::string chooseAccessory(State& s, const std::string& named, unsigned mask) {
    if (!named.empty())
        return std::find(s.devices.begin(), s.devices.end(), named) != s.devices.end() ? named : "";
    for (const std::string& d : s.devices)
        if (d != s.device && hasInterface(s, d, mask)) return d;
    return hasInterface(s, s.device, mask) ? s.device : std::string();
}
}  // namespace

INDI::Property deviceProperty(State& s, const std::string& device, const char* name) {
    auto it = s.props.find({device, name});
    return it == s.props.end() ? INDI::Property() : it->second;
}

bool sendDeviceProperty(const std::string& device, const char* name,
                        const std::function<bool(INDI::Property&)>& edit) {
    State& s = state();
    INDI::Property p;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!g_client || !s.serverUp || s.lost || device.empty()) return false;
        p = deviceProperty(s, device, name);
        if (!p.isValid() || !edit(p)) return false;
    }
    if (p.getType() == INDI_SWITCH)
        send([&] { g_client->sendNewSwitch(p); });
    else
        send([&] { g_client->sendNewNumber(p); });
    return true;
}

std::string openAccessory(const std::string& named, unsigned mask, const char* what,
                          const std::function<bool(State&, const std::string&)>& ready) {
    State& s = state();
    std::string device;
    // The server lists every device at once; a device named may take a moment more.
    waitFor(named.empty() ? kListingQuiet : Clock::duration(kListingTime), [&](State& st) {
        device = chooseAccessory(st, named, mask);
        return !device.empty() || st.lost;
    });
    if (device.empty()) {
        if (!named.empty())
            std::fprintf(stderr, "INDI: %s '%s' not found; none in use\n", what, named.c_str());
        return {};
    }
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        connected = switchIsOn(deviceProperty(s, device, "CONNECTION"), "CONNECT");
    }
    if (!connected)
        sendDeviceProperty(device, "CONNECTION", [](INDI::Property& p) {
            auto* sw = p.getSwitch();
            auto* on = sw->findWidgetByName("CONNECT");
            if (!on) return false;
            sw->reset();
            on->setState(ISS_ON);
            return true;
        });
    const bool answered = waitFor(kAnswerTimeout, [&](State& st) {
        return st.lost || (switchIsOn(deviceProperty(st, device, "CONNECTION"), "CONNECT") &&
                           ready(st, device));
    });
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!answered || s.lost) {
        std::fprintf(stderr, "INDI: %s '%s' does not answer; none in use\n", what, device.c_str());
        return {};
    }
    return device;
}
}  // namespace indicam
