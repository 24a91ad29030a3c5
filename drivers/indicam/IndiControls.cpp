// The INDI camera's controls: the driver's camera properties (CCD_CONTROLS, CCD_GAIN,
// CCD_OFFSET, CCD_BINNING, CCD_TEMPERATURE, CCD_COOLER, CCD_VIDEO_FORMAT, ...) as the
// program's list of controls. A number property gives one control per element
// ("CCD_OFFSET.OFFSET"); a switch property one control, a switch when it is an on/off pair,
// else a choice of its elements. Properties the library itself relies on (frame, stream,
// transfer format) are not offered. CCD_TEMPERATURE is two controls: the sensor's temperature
// as the driver reports it, and the set point last sent (INDI keeps no set point of its own).
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#pragma GCC visibility push(default)
#include "tarvidll.h"
#pragma GCC visibility pop

#include "ControlInfo.h"
#include "IndiSession.h"

namespace indicam {
namespace {

struct Offered {
    const char* property;
    int role;   // for a single-element property (or CCD_CONTROLS' own names below)
    int flags;  // beyond what the property's permission says
};
// Binning is shown, not set: the library's subframes are in unbinned sensor pixels.
constexpr Offered kOffered[] = {
    {"CCD_CONTROLS", TARVI_ROLE_NONE, 0},
    {"CCD_GAIN", TARVI_ROLE_GAIN, 0},
    {"CCD_OFFSET", TARVI_ROLE_OFFSET, 0},
    {"CCD_BINNING", TARVI_ROLE_BINNING, TARVI_CONTROL_READ_ONLY},
    {"CCD_TEMPERATURE", TARVI_ROLE_SENSOR_TEMPERATURE,
     TARVI_CONTROL_READ_ONLY | TARVI_CONTROL_VOLATILE},
    {"CCD_TEMP_RAMP", TARVI_ROLE_NONE, TARVI_CONTROL_WHILE_RECORDING},
    {"CCD_COOLER", TARVI_ROLE_COOLER, TARVI_CONTROL_WHILE_RECORDING},
    {"CCD_COOLER_POWER", TARVI_ROLE_NONE, TARVI_CONTROL_READ_ONLY | TARVI_CONTROL_VOLATILE},
    {"CCD_VIDEO_FORMAT", TARVI_ROLE_NONE, 0},
    {"CCD_FRAME_TYPE", TARVI_ROLE_NONE, 0},
};
constexpr const char* kSetPoint = "CCD_TEMPERATURE.SET_POINT";

// One control: where it lives in the driver's properties.
struct Control {
    camera::ControlDescription description;
    std::string property, element;    // element: of a number; "" for a switch property
    std::vector<std::string> values;  // a choice's elements, or a switch's on and off
};

struct ControlList {
    std::mutex mutex;
    std::vector<Control> controls;
    unsigned generation = 0;
    std::string described;  // the descriptions the generation was counted for
    double setPoint = NAN;  // the temperature last asked for
};
ControlList& list() {
    static auto* l = new ControlList;  // never destroyed, as the library's other state
    return *l;
}

bool endsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

int roleOfElement(const Offered& o, const std::string& element) {
    if (std::string(o.property) != "CCD_CONTROLS") return o.role;
    if (element == "Gain") return TARVI_ROLE_GAIN;
    if (element == "Offset") return TARVI_ROLE_OFFSET;
    return TARVI_ROLE_NONE;
}

void addNumbers(const INDI::Property& p, const Offered& o, std::vector<Control>& out) {
    const bool readOnly = p.getPermission() == IP_RO;
    for (const auto& w : *p.getNumber()) {
        if (std::string(o.property) == "CCD_BINNING" && w.isNameMatch("VER_BIN")) continue;
        Control c;
        c.property = o.property;
        c.element = w.getName();
        c.description.id = c.property + "." + c.element;
        const std::string label = w.getLabel() ? w.getLabel() : c.element;
        c.description.caption = p.getNumber()->count() == 1 && p.getLabel() ? p.getLabel() : label;
        const bool whole = std::floor(w.getStep()) == w.getStep() && w.getStep() >= 1;
        c.description.kind = whole ? TARVI_CONTROL_INTEGER : TARVI_CONTROL_NUMBER;
        c.description.flags = o.flags | (readOnly ? TARVI_CONTROL_READ_ONLY : 0);
        c.description.role = roleOfElement(o, c.element);
        c.description.minimum = w.getMin();
        c.description.maximum = w.getMax();
        c.description.step = w.getStep();
        if (std::string(o.property) == "CCD_TEMPERATURE") {
            c.description.caption = "Sensor Temperature";
            c.description.unit = "C";
            if (!readOnly) {
                Control set = c;
                set.description.id = kSetPoint;
                set.description.caption = "Target Temperature";
                set.description.role = TARVI_ROLE_TARGET_TEMPERATURE;
                set.description.flags = TARVI_CONTROL_WHILE_RECORDING;
                out.push_back(std::move(set));
            }
        }
        out.push_back(std::move(c));
    }
}

void addSwitch(const INDI::Property& p, const Offered& o, std::vector<Control>& out) {
    Control c;
    c.property = o.property;
    c.description.id = o.property;
    c.description.caption = p.getLabel() ? p.getLabel() : o.property;
    c.description.flags = o.flags | (p.getPermission() == IP_RO ? TARVI_CONTROL_READ_ONLY : 0);
    c.description.role = o.role;
    for (const auto& w : *p.getSwitch()) c.values.push_back(w.getName());
    std::vector<std::string> labels;
    for (const auto& w : *p.getSwitch())
        labels.push_back(w.getLabel() ? w.getLabel() : w.getName());
    // An on/off pair is a switch, its "on" element first.
    const bool pair = c.values.size() == 2 &&
                      ((endsWith(c.values[0], "_ON") && endsWith(c.values[1], "_OFF")) ||
                       (endsWith(c.values[0], "_ENABLED") && endsWith(c.values[1], "_DISABLED")));
    if (pair) {
        c.description.kind = TARVI_CONTROL_SWITCH;
        c.description.maximum = 1;
        c.description.step = 1;
    } else {
        if (c.values.empty()) return;
        c.description.kind = TARVI_CONTROL_CHOICE;
        c.description.choiceCount = static_cast<int>(c.values.size());
        c.description.maximum = c.description.choiceCount - 1;
        c.description.step = 1;
        c.values.insert(c.values.end(), labels.begin(), labels.end());  // names, then captions
    }
    out.push_back(std::move(c));
}

// The controls of the camera's properties now (with the state lock held).
std::vector<Control> readControls(State& s) {
    std::vector<Control> out;
    for (const Offered& o : kOffered) {
        const INDI::Property p = find(s, o.property);
        if (!p.isValid()) continue;
        if (p.getType() == INDI_NUMBER) addNumbers(p, o, out);
        if (p.getType() == INDI_SWITCH) addSwitch(p, o, out);
    }
    return out;
}

std::string describe(const std::vector<Control>& controls) {
    std::string text;
    for (const Control& c : controls)
        text += c.description.id + c.description.caption + std::to_string(c.description.flags) +
                std::to_string(c.description.minimum) + std::to_string(c.description.maximum) + ";";
    return text;
}

const Control* findControl(const std::vector<Control>& controls, const char* id) {
    if (!id) return nullptr;
    for (const Control& c : controls)
        if (c.description.id == id) return &c;
    return nullptr;
}

void refuse(const std::string& why) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastError = why;
}
}  // namespace
}  // namespace indicam

using namespace indicam;

extern "C" {
// NOLINTBEGIN(readability-identifier-naming): the entry points keep their exported names

int CameraControlCount(unsigned int* generation) {
    std::vector<Control> now;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.device.empty() && !s.lost) now = readControls(s);
    }
    ControlList& l = list();
    std::lock_guard<std::mutex> lock(l.mutex);
    const std::string described = describe(now);
    if (described != l.described) {
        l.described = described;
        ++l.generation;
    }
    l.controls = std::move(now);
    if (generation) *generation = l.generation;
    return static_cast<int>(l.controls.size());
}

int CameraControlInfo(int index, TarviControlInfo* info) {
    ControlList& l = list();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!info || index < 0 || index >= static_cast<int>(l.controls.size())) return 0;
    camera::fillControlInfo(l.controls[static_cast<size_t>(index)].description, info);
    return 1;
}

int CameraControlChoice(const char* id, int choice, char* buffer, int size) {
    ControlList& l = list();
    std::lock_guard<std::mutex> lock(l.mutex);
    const Control* c = findControl(l.controls, id);
    if (!c || c->description.kind != TARVI_CONTROL_CHOICE || choice < 0 ||
        choice >= c->description.choiceCount)
        return -1;
    return camera::copyText(c->values[static_cast<size_t>(c->description.choiceCount + choice)],
                            buffer, size);
}

int CameraControlGet(const char* id, double* value) {
    ControlList& l = list();
    std::lock_guard<std::mutex> listLock(l.mutex);
    const Control* c = findControl(l.controls, id);
    if (!c || !value) return 0;
    if (c->description.id == kSetPoint) {
        if (std::isnan(l.setPoint)) return 0;
        *value = l.setPoint;
        return 1;
    }
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const INDI::Property p = find(s, c->property.c_str());
    if (!p.isValid()) return 0;
    if (!c->element.empty()) {
        auto* w = numberOf(p, c->element.c_str());
        if (!w) return 0;
        *value = w->getValue();
        return 1;
    }
    if (p.getType() != INDI_SWITCH) return 0;
    for (size_t i = 0; i < c->values.size(); ++i)
        if (switchIsOn(p, c->values[i].c_str())) {
            *value = c->description.kind == TARVI_CONTROL_SWITCH ? (i == 0 ? 1 : 0)
                                                                 : static_cast<double>(i);
            return 1;
        }
    return 0;
}

int CameraControlSet(const char* id, double value) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    Control c;
    {
        ControlList& l = list();
        std::lock_guard<std::mutex> lock(l.mutex);
        const Control* found = findControl(l.controls, id);
        if (!found) {
            refuse(std::string("the camera has no control ") + (id ? id : ""));
            return 0;
        }
        c = *found;
    }
    if (c.description.flags & TARVI_CONTROL_READ_ONLY) {
        refuse(c.description.caption + " cannot be changed");
        return 0;
    }
    if (!std::isfinite(value) || value < c.description.minimum || value > c.description.maximum) {
        refuse(c.description.caption + ": the value is out of range");
        return 0;
    }
    bool sent = false;
    if (!c.element.empty()) {
        sent = setNumbers(c.property.c_str(), {{c.element.c_str(), value}});
        if (sent && c.description.id == kSetPoint) {
            ControlList& l = list();
            std::lock_guard<std::mutex> lock(l.mutex);
            l.setPoint = value;
        }
    } else {
        const size_t index = c.description.kind == TARVI_CONTROL_SWITCH
                                 ? (value != 0 ? 0 : 1)
                                 : static_cast<size_t>(std::lround(value));
        sent = index < c.values.size() && setSwitch(c.property.c_str(), c.values[index].c_str());
    }
    if (!sent) refuse(c.description.caption + ": the camera is not reachable");
    return sent ? 1 : 0;
}

// Stops the stream and leaves the server. The client library's own threads may outlive the
// call, so the library stays loaded (0).
int CameraClose(void) {
    std::lock_guard<std::mutex> api(g_apiMutex);
    close();
    return 0;
}

// NOLINTEND(readability-identifier-naming)
}  // extern "C"
