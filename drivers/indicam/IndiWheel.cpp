// The filter wheel beside the INDI camera: a device of the same server with FILTER_SLOT and
// FILTER_NAME, named by the wheel=NAME option or found by its driver interface (a wheel of
// its own first, else the camera itself when it has one built in). Its properties reach the
// camera's client with those of every other device; the entry points below read them and
// send the moves, under apiMutex like the camera's, never from a callback.
//
// A move counts from the moment it is sent until the driver reports the position reached
// (FILTER_SLOT ok at the position asked for) or refused (alert); a move another client asks
// for, while the driver shows FILTER_SLOT busy.
#include "IndiWheel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "IndiAccessory.h"
#include "IndiSession.h"

#pragma GCC visibility push(default)
#include "tarvidll.h"
#pragma GCC visibility pop

namespace indicam {
namespace {
// A driver that neither reaches the position nor refuses it within this time has failed.
constexpr auto kMoveTimeout = 60s;

struct Wheel {
    std::string option;  // wheel=NAME; "" for the first wheel found (under apiMutex)
    // Under the state lock.
    std::string device;  // "" while there is none
    bool asked = false;  // a move sent whose end has not been seen yet
    int target = 0;
    Clock::time_point askedAt;
    bool moving = false;  // as FilterWheelState last reported it
    long long settledUs = 0;
};
Wheel& wheel() {
    static Wheel* w = new Wheel;  // never destroyed, like the rest of the library's state
    return *w;
}

INDI::Property wheelProperty(State& s, const char* name) {
    return deviceProperty(s, wheel().device, name);
}

bool sendWheel(const char* name, const std::function<bool(INDI::Property&)>& edit) {
    return sendDeviceProperty(wheel().device, name, edit);
}

INDI::WidgetView<INumber>* slotValue(State& s) {
    return numberOf(wheelProperty(s, "FILTER_SLOT"), "FILTER_SLOT_VALUE");
}

int slotCount(State& s) {
    auto* value = slotValue(s);
    INDI::Property names = wheelProperty(s, "FILTER_NAME");
    const int byNames = names.isValid() && names.getType() == INDI_TEXT
                            ? static_cast<int>(names.getText()->count())
                            : 0;
    if (!value) return 0;
    const int byRange = static_cast<int>(std::lround(value->getMax()));
    return byRange >= 1 ? byRange : byNames;
}

std::string slotName(State& s, int slot) {
    INDI::Property names = wheelProperty(s, "FILTER_NAME");
    if (!names.isValid() || names.getType() != INDI_TEXT) return {};
    auto* text = names.getText();
    auto* w = text->findWidgetByName(("FILTER_SLOT_NAME_" + std::to_string(slot)).c_str());
    if (!w && slot >= 1 && slot <= static_cast<int>(text->count())) w = text->at(slot - 1);
    return w && w->getText() ? w->getText() : "";
}
}  // namespace

bool setWheelOption(const std::string& value, std::string* why) {
    if (value.empty()) {
        *why = "wheel needs the name of an INDI filter wheel, or none";
        return false;
    }
    wheel().option = value;
    return true;
}

void openWheel() {
    State& s = state();
    Wheel& w = wheel();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        w.device.clear();
        w.asked = w.moving = false;
        w.settledUs = 0;
    }
    if (w.option == "none") return;
    const std::string device =
        openAccessory(w.option, INDI::BaseDevice::FILTER_INTERFACE, "filter wheel",
                      [](State& st, const std::string& d) {
                          INDI::Property slot = deviceProperty(st, d, "FILTER_SLOT");
                          auto* value = numberOf(slot, "FILTER_SLOT_VALUE");
                          INDI::Property names = deviceProperty(st, d, "FILTER_NAME");
                          return value && names.isValid() &&
                                 (value->getMax() >= 1 ||
                                  (names.getType() == INDI_TEXT && names.getText()->count() >= 1));
                      });
    std::lock_guard<std::mutex> lock(s.mutex);
    w.device = device;
}
}  // namespace indicam

using namespace indicam;

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int FilterWheelState(TarviWheelState* state) {
    if (!state) return 0;
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = indicam::state();
    Wheel& w = wheel();
    std::lock_guard<std::mutex> lock(s.mutex);
    INDI::Property slotProperty = wheelProperty(s, "FILTER_SLOT");
    auto* value = slotValue(s);
    const int slots = slotCount(s);
    if (w.device.empty() || !value || slots < 1 || !g_client || !s.serverUp || s.lost) return 0;
    const IPState driverState = slotProperty.getState();
    const int slot = static_cast<int>(std::lround(value->getValue()));
    if (w.asked) {
        const bool ended = driverState == IPS_ALERT ||
                           (driverState != IPS_BUSY && slot == w.target) ||
                           Clock::now() - w.askedAt > kMoveTimeout;
        if (ended) {
            w.asked = false;
            if (slot != w.target)
                std::fprintf(stderr, "INDI: filter wheel '%s' did not reach position %d\n",
                             w.device.c_str(), w.target);
        }
    }
    const bool moving = w.asked || driverState == IPS_BUSY;
    if (w.moving && !moving) w.settledUs = unixNowUs();
    w.moving = moving;

    // The names' fingerprint, so that the program reads them again when one changes.
    unsigned names = 2166136261u;
    for (int k = 0; k <= slots; ++k) {
        const std::string name = k == 0 ? w.device : slotName(s, k);
        for (const char c : name + '\n')
            names = (names ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    const auto fits = [&](size_t offset, size_t bytes) { return offset + bytes <= state->size; };
    if (fits(offsetof(TarviWheelState, slotCount), sizeof state->slotCount))
        state->slotCount = slots;
    if (fits(offsetof(TarviWheelState, slot), sizeof state->slot))
        state->slot = slot >= 1 && slot <= slots ? slot : 0;
    if (fits(offsetof(TarviWheelState, moving), sizeof state->moving)) state->moving = moving;
    if (fits(offsetof(TarviWheelState, settledUnixUs), sizeof state->settledUnixUs))
        state->settledUnixUs = w.settledUs;
    if (fits(offsetof(TarviWheelState, names), sizeof state->names)) state->names = names;
    return 1;
}

int FilterWheelName(int slot, char* buffer, int size) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (wheel().device.empty() || slot < 0 || slot > slotCount(s)) return -1;
    const std::string name = slot == 0 ? wheel().device : slotName(s, slot);
    if (buffer && size > 0) {
        const size_t n = std::min(name.size(), static_cast<size_t>(size) - 1);
        std::memcpy(buffer, name.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(name.size());
}

int FilterWheelMove(int slot) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = state();
    Wheel& w = wheel();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (w.device.empty() || slot < 1 || slot > slotCount(s)) return 0;
    }
    const bool sent = sendWheel("FILTER_SLOT", [slot](INDI::Property& p) {
        auto* value = numberOf(p, "FILTER_SLOT_VALUE");
        if (!value) return false;
        value->setValue(slot);
        // Busy until the driver answers: an answer of before the move cannot end it.
        p.setState(IPS_BUSY);
        return true;
    });
    if (!sent) return 0;
    std::lock_guard<std::mutex> lock(s.mutex);
    w.asked = w.moving = true;
    w.target = slot;
    w.askedAt = Clock::now();
    return 1;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
