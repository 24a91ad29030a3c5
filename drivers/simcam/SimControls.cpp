#include "SimControls.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

// The entry points' declarations first, exported: ControlInfo.h includes them too.
#pragma GCC visibility push(default)
#include "tarvidll.h"
#pragma GCC visibility pop

#include "CameraCommon.h"
#include "ControlInfo.h"
#include "Scene.h"

namespace {
using SteadyClock = std::chrono::steady_clock;

constexpr double kAmbientC = 20;
constexpr double kCoolingRangeC = 40;  // the cooler holds at most this far below ambient
constexpr double kTimeConstantS = 5;   // the sensor follows the cooler with this lag

// The controls in the order of the list; ControlCount is their number.
enum ControlIndex {
    OffsetControl,
    BinningControl,
    CoolerControl,
    TargetControl,
    SensorTempControl,
    PowerControl,
    WarmUpControl,
    ControlCount
};

const camera::ControlDescription& description(int index) {
    static const camera::ControlDescription kDescriptions[ControlCount] = {
        {"Offset", "Offset", "", TARVI_CONTROL_INTEGER, 0, TARVI_ROLE_OFFSET, 0, 0, 255, 1},
        {"Binning", "Binning", "", TARVI_CONTROL_INTEGER, TARVI_CONTROL_GEOMETRY,
         TARVI_ROLE_BINNING, 0, 1, simcam::kMaxBinning, 1},
        {"Cooler", "Cooler", "", TARVI_CONTROL_SWITCH, TARVI_CONTROL_WHILE_RECORDING,
         TARVI_ROLE_COOLER, 0, 0, 1, 1},
        {"TargetTemperature", "Target Temperature", "C", TARVI_CONTROL_NUMBER,
         TARVI_CONTROL_WHILE_RECORDING, TARVI_ROLE_TARGET_TEMPERATURE, 0, -40, 30, 0.5},
        {"SensorTemperature", "Sensor Temperature", "C", TARVI_CONTROL_NUMBER,
         TARVI_CONTROL_READ_ONLY | TARVI_CONTROL_VOLATILE, TARVI_ROLE_SENSOR_TEMPERATURE, 0, -60,
         60, 0.1},
        {"CoolerPower", "Cooler Power", "%", TARVI_CONTROL_NUMBER,
         TARVI_CONTROL_READ_ONLY | TARVI_CONTROL_VOLATILE, TARVI_ROLE_NONE, 0, 0, 100, 1},
        {"WarmUp", "Warm Up", "", TARVI_CONTROL_ACTION, TARVI_CONTROL_WHILE_RECORDING,
         TARVI_ROLE_NONE, 0, 0, 0, 0}};
    return kDescriptions[index];
}

struct ControlState {
    bool open = false;
    int offset = 0;
    bool cooler = false;
    double target = 0;
    double temperature = kAmbientC;
    SteadyClock::time_point at = SteadyClock::now();
};

ControlState& controls() {
    static auto* s = new ControlState;  // never destroyed, like the camera's other state
    return *s;
}

int indexOf(const char* id) {
    if (!id) return -1;
    for (int i = 0; i < ControlCount; ++i)
        if (description(i).id == id) return i;
    return -1;
}

// The sensor's temperature now: towards the set point (within the cooler's range) while the
// cooler runs, else towards the ambient.
void advanceTemperature(ControlState& s) {
    const auto now = SteadyClock::now();
    const double seconds = std::chrono::duration<double>(now - s.at).count();
    s.at = now;
    const double goal = s.cooler ? std::max(s.target, kAmbientC - kCoolingRangeC) : kAmbientC;
    s.temperature += (goal - s.temperature) * (1 - std::exp(-seconds / kTimeConstantS));
}

double valueOf(ControlState& s, int index) {
    advanceTemperature(s);
    switch (index) {
        case OffsetControl:
            return s.offset;
        case BinningControl:
            return simcam::binning();
        case CoolerControl:
            return s.cooler ? 1 : 0;
        case TargetControl:
            return s.target;
        case SensorTempControl:
            return std::round(s.temperature * 10) / 10;
        case PowerControl:
            return s.cooler ? std::round(std::clamp((kAmbientC - s.temperature) / kCoolingRangeC,
                                                    0.0, 1.0) *
                                         100)
                            : 0;
        default:
            return 0;
    }
}

// "" when the value was set, else why not.
std::string setValue(ControlState& s, int index, double value) {
    const camera::ControlDescription& c = description(index);
    if (c.flags & TARVI_CONTROL_READ_ONLY) return c.caption + " cannot be changed";
    if (c.kind != TARVI_CONTROL_ACTION &&
        (!std::isfinite(value) || value < c.minimum || value > c.maximum))
        return c.caption + ": " + std::to_string(value) + " is out of range";
    advanceTemperature(s);
    switch (index) {
        case OffsetControl:
            s.offset = static_cast<int>(std::lround(value));
            break;
        case BinningControl: {
            if (camera::exposureRunning()) return "Binning cannot change during an exposure";
            simcam::setBinning(static_cast<int>(std::lround(value)));
            camera::Settings& settings = camera::current();
            settings.width = simcam::sensorWidth();
            settings.height = simcam::sensorHeight();
            break;
        }
        case CoolerControl:
            s.cooler = value != 0;
            break;
        case TargetControl:
            s.target = value;
            break;
        case WarmUpControl:
            s.cooler = false;
            break;
        default:
            break;
    }
    return {};
}
}  // namespace

namespace simcam {

void resetControls() {
    ControlState& s = controls();
    s.open = true;
    s.offset = 0;
    s.cooler = false;
    s.target = 0;
    lastError().clear();
    setBinning(1);
}

void closeControls() {
    controls().open = false;
    setBinning(1);
}

std::string& lastError() {
    static auto* text = new std::string;
    return *text;
}

int offsetLevel() {
    return controls().offset;
}

}  // namespace simcam

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int CameraControlCount(unsigned int* generation) {
    auto lock = camera::lockCamera();
    if (generation) *generation = 1;  // the list never changes
    return controls().open ? ControlCount : 0;
}

int CameraControlInfo(int index, TarviControlInfo* info) {
    auto lock = camera::lockCamera();
    if (!info || !controls().open || index < 0 || index >= ControlCount) return 0;
    camera::fillControlInfo(description(index), info);
    return 1;
}

int CameraControlChoice(const char* /*id*/, int /*choice*/, char* /*buffer*/, int /*size*/) {
    return -1;  // no control of this camera is a choice
}

int CameraControlGet(const char* id, double* value) {
    auto lock = camera::lockCamera();
    const int index = indexOf(id);
    if (!value || !controls().open || index < 0) return 0;
    *value = valueOf(controls(), index);
    return 1;
}

int CameraControlSet(const char* id, double value) {
    auto lock = camera::lockCamera();
    ControlState& s = controls();
    const int index = indexOf(id);
    std::string& error = simcam::lastError();
    error = !s.open     ? std::string("the camera is not open")
            : index < 0 ? std::string("no control ") + (id ? id : "")
                        : setValue(s, index, value);
    return error.empty() ? 1 : 0;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
