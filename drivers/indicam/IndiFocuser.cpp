// The focuser beside the INDI camera: a device of the same server with ABS_FOCUS_POSITION,
// named by the focuser=NAME option or found by its driver interface. The entry points below
// read its position and send moves under apiMutex, never from a callback.
//
// A move counts from the moment it is sent until the driver reports the position reached
// (ABS_FOCUS_POSITION ok) or refused (alert); a move another client asks for, while the
// driver shows the property busy.
#include "IndiFocuser.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "IndiAccessory.h"
#include "IndiSession.h"

#pragma GCC visibility push(default)
#include "tarvidll.h"
#pragma GCC visibility pop

namespace indicam {
namespace {
// A focuser that neither reaches the position nor refuses it within this time has failed.
constexpr auto kFocusTimeout = 120s;

struct Focuser {
    std::string option;  // focuser=NAME; "" for the first focuser found (under apiMutex)
    // Under the state lock.
    std::string device;  // "" while there is none
    bool asked = false;  // a move sent whose end has not been seen yet
    int target = 0;
    Clock::time_point askedAt;
};
Focuser& focuser() {
    static Focuser* f = new Focuser;  // never destroyed, like the rest of the library's state
    return *f;
}

INDI::WidgetView<INumber>* focusPosition(State& s, const std::string& device) {
    return numberOf(deviceProperty(s, device, "ABS_FOCUS_POSITION"), "FOCUS_ABSOLUTE_POSITION");
}
}  // namespace

bool setFocuserOption(const std::string& value, std::string* why) {
    if (value.empty()) {
        *why = "focuser needs the name of an INDI focuser, or none";
        return false;
    }
    focuser().option = value;
    return true;
}

void openFocuser() {
    State& s = state();
    Focuser& f = focuser();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        f.device.clear();
        f.asked = false;
    }
    if (f.option == "none") return;
    const std::string device =
        openAccessory(f.option, INDI::BaseDevice::FOCUSER_INTERFACE, "focuser",
                      [](State& st, const std::string& d) { return focusPosition(st, d); });
    std::lock_guard<std::mutex> lock(s.mutex);
    f.device = device;
}
}  // namespace indicam

using namespace indicam;

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int FocuserState(TarviFocuserState* out) {
    if (!out) return 0;
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = indicam::state();
    Focuser& f = focuser();
    std::lock_guard<std::mutex> lock(s.mutex);
    INDI::Property property = deviceProperty(s, f.device, "ABS_FOCUS_POSITION");
    auto* value = focusPosition(s, f.device);
    if (f.device.empty() || !value || !g_client || !s.serverUp || s.lost) return 0;
    const IPState driverState = property.getState();
    const int position = static_cast<int>(std::lround(value->getValue()));
    if (f.asked && (driverState == IPS_ALERT || (driverState != IPS_BUSY && position == f.target) ||
                    Clock::now() - f.askedAt > kFocusTimeout)) {
        f.asked = false;
        if (position != f.target)
            std::fprintf(stderr, "INDI: focuser '%s' did not reach position %d\n", f.device.c_str(),
                         f.target);
    }
    const auto fits = [&](size_t offset, size_t bytes) { return offset + bytes <= out->size; };
    if (fits(offsetof(TarviFocuserState, position), sizeof out->position)) out->position = position;
    if (fits(offsetof(TarviFocuserState, minimum), sizeof out->minimum))
        out->minimum = static_cast<int>(std::lround(value->getMin()));
    if (fits(offsetof(TarviFocuserState, maximum), sizeof out->maximum))
        out->maximum = static_cast<int>(std::lround(value->getMax()));
    if (fits(offsetof(TarviFocuserState, moving), sizeof out->moving))
        out->moving = f.asked || driverState == IPS_BUSY;
    return 1;
}

int FocuserMove(int position) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    State& s = state();
    Focuser& f = focuser();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto* value = focusPosition(s, f.device);
        if (f.device.empty() || !value || position < value->getMin() || position > value->getMax())
            return 0;
    }
    const bool sent =
        sendDeviceProperty(f.device, "ABS_FOCUS_POSITION", [position](INDI::Property& p) {
            auto* value = numberOf(p, "FOCUS_ABSOLUTE_POSITION");
            if (!value) return false;
            value->setValue(position);
            // Busy until the driver answers: an answer of before the move cannot end it.
            p.setState(IPS_BUSY);
            return true;
        });
    if (!sent) return 0;
    std::lock_guard<std::mutex> lock(s.mutex);
    f.asked = true;
    f.target = position;
    f.askedAt = Clock::now();
    return 1;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
