#include "acquisition/CameraControls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "acquisition/CameraLib.h"

namespace {
// More values than any menu can show are a library's mistake.
constexpr int kMaxChoices = 256;
constexpr int kMaxControls = 512;

// The text of a fixed buffer, which need not be terminated.
template <size_t N>
std::string fixedText(const char (&buffer)[N]) {
    return std::string(buffer, strnlen(buffer, N));
}

std::optional<ControlKind> kindOf(int kind) {
    switch (kind) {
        case TARVI_CONTROL_INTEGER:
            return ControlKind::Integer;
        case TARVI_CONTROL_NUMBER:
            return ControlKind::Number;
        case TARVI_CONTROL_CHOICE:
            return ControlKind::Choice;
        case TARVI_CONTROL_SWITCH:
            return ControlKind::Switch;
        case TARVI_CONTROL_ACTION:
            return ControlKind::Action;
        default:
            return std::nullopt;
    }
}

std::string choiceName(const TarviApi& api, const std::string& id, int choice) {
    char name[128] = {};
    const int length = api.cameraControlChoice(id.c_str(), choice, name, sizeof name);
    if (length < 0) return {};
    name[sizeof name - 1] = '\0';
    std::string text(name);
    return text.empty() ? std::to_string(choice) : text;
}

bool wholeKind(ControlKind kind) {
    return kind == ControlKind::Integer || kind == ControlKind::Choice ||
           kind == ControlKind::Switch;
}

std::string numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}
}  // namespace

std::vector<CameraControl> readCameraControls(const TarviApi& api) {
    std::vector<CameraControl> list;
    if (!api.cameraControlCount) return list;
    const int count = std::min(api.cameraControlCount(nullptr), kMaxControls);
    std::set<std::string> ids;
    for (int index = 0; index < count; ++index) {
        TarviControlInfo info{};
        info.size = sizeof info;
        if (api.cameraControlInfo(index, &info) != 1) continue;
        CameraControl c;
        c.id = fixedText(info.id);
        const std::optional<ControlKind> kind = kindOf(info.kind);
        if (c.id.empty() || !kind || !ids.insert(c.id).second) continue;
        c.kind = *kind;
        c.caption = fixedText(info.caption);
        if (c.caption.empty()) c.caption = c.id;
        c.unit = fixedText(info.unit);
        c.role = info.role;
        c.readOnly = (info.flags & TARVI_CONTROL_READ_ONLY) != 0;
        c.whileRecording = (info.flags & TARVI_CONTROL_WHILE_RECORDING) != 0;
        c.geometry = (info.flags & TARVI_CONTROL_GEOMETRY) != 0;
        c.changesByItself = (info.flags & TARVI_CONTROL_VOLATILE) != 0;
        const bool finite = std::isfinite(info.minimum) && std::isfinite(info.maximum);
        c.minimum = finite ? std::min(info.minimum, info.maximum) : 0;
        c.maximum = finite ? std::max(info.minimum, info.maximum) : 0;
        c.step = std::isfinite(info.step) && info.step > 0 ? info.step : 0;
        if (c.kind == ControlKind::Switch) {
            c.minimum = 0;
            c.maximum = 1;
            c.step = 1;
        } else if (c.kind == ControlKind::Choice) {
            const int n = std::min(info.choiceCount, kMaxChoices);
            for (int v = 0; v < n; ++v) c.choices.push_back(choiceName(api, c.id, v));
            if (c.choices.empty()) continue;
            c.minimum = 0;
            c.maximum = static_cast<double>(c.choices.size() - 1);
            c.step = 1;
        } else if (c.kind == ControlKind::Integer) {
            c.minimum = std::ceil(c.minimum);
            c.maximum = std::max(c.minimum, std::floor(c.maximum));
            c.step = std::max(1.0, std::round(c.step));
        }
        list.push_back(std::move(c));
    }
    return list;
}

void readControlValues(const TarviApi& api, std::vector<CameraControl>& controls,
                       bool changingOnly) {
    if (!api.cameraControlGet) return;
    for (CameraControl& c : controls) {
        if (changingOnly && !c.changesByItself) continue;
        double v = 0;
        if (api.cameraControlGet(c.id.c_str(), &v) == 1 && std::isfinite(v))
            c.value = v;
        else
            c.value.reset();
    }
}

bool shownInPanel(const CameraControl& control) {
    return control.role < TARVI_ROLE_EXPOSURE || control.role > TARVI_ROLE_SAMPLE_DEPTH;
}

bool controlEnabled(const CameraControl& control, bool recording) {
    // A recording's frames keep their size: a control that may change it waits.
    return !control.readOnly && ((control.whileRecording && !control.geometry) || !recording);
}

std::optional<double> acceptedValue(const CameraControl& control, double asked, std::string* why) {
    auto refused = [&](const std::string& text) -> std::optional<double> {
        if (why) *why = control.caption + ": " + text;
        return std::nullopt;
    };
    if (control.readOnly) return refused("cannot be changed");
    if (control.kind == ControlKind::Action) return 0.0;
    if (!std::isfinite(asked)) return refused("not a number");
    double v = asked;
    if (wholeKind(control.kind)) v = std::nearbyint(v);
    if (control.step > 0 && control.kind != ControlKind::Number)
        v = control.minimum + std::nearbyint((v - control.minimum) / control.step) * control.step;
    // A tiny slip of the arithmetic is no reason to refuse.
    const double slack = 1e-9 * std::max(1.0, std::fabs(control.maximum - control.minimum));
    if (v < control.minimum - slack || v > control.maximum + slack)
        return refused(numberText(asked) + " is outside " + numberText(control.minimum) + " to " +
                       numberText(control.maximum));
    return std::clamp(v, control.minimum, control.maximum);
}

std::string controlValueText(const CameraControl& control) {
    if (!control.value || control.kind == ControlKind::Action) return {};
    const double v = *control.value;
    switch (control.kind) {
        case ControlKind::Switch:
            return v != 0 ? "On" : "Off";
        case ControlKind::Choice: {
            const long i = std::lround(v);
            if (i >= 0 && i < static_cast<long>(control.choices.size()))
                return control.choices[static_cast<size_t>(i)];
            return numberText(v);
        }
        default:
            return control.unit.empty() ? numberText(v) : numberText(v) + " " + control.unit;
    }
}

const CameraControl* controlOfRole(const std::vector<CameraControl>& controls, int role) {
    for (const CameraControl& c : controls)
        if (c.role == role) return &c;
    return nullptr;
}

// ---- ControlHost

void ControlHost::request(const std::string& id, double value) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Request& r : pending_)
        if (r.id == id) {
            r.value = value;
            return;
        }
    pending_.push_back({id, value});
}

ControlSnapshot ControlHost::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
}

void ControlHost::publish(bool listChanged) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (listChanged) ++snapshot_.listSerial;
    snapshot_.controls = controls_;
}

void ControlHost::refuse(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++snapshot_.refusals;
    snapshot_.lastRefusal = why;
}

void ControlHost::open(const TarviApi& api) {
    generation_ = 0;
    if (api.cameraControlCount) api.cameraControlCount(&generation_);
    controls_ = readCameraControls(api);
    readControlValues(api, controls_, false);
    publish(true);
}

void ControlHost::clear() {
    controls_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.clear();
    }
    publish(true);
}

bool ControlHost::service(const TarviApi& api, bool recording, uint32_t nowMs) {
    if (!api.cameraControlSet) return false;
    std::vector<Request> asked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        asked.swap(pending_);
    }
    bool sent = false, geometry = false;
    std::vector<Request> waiting;
    for (const Request& r : asked) {
        const auto it = std::find_if(controls_.begin(), controls_.end(),
                                     [&](const CameraControl& c) { return c.id == r.id; });
        if (it == controls_.end()) {
            refuse(r.id + ": the camera has no such control");
            continue;
        }
        if (!it->readOnly && !controlEnabled(*it, recording)) {
            waiting.push_back(r);  // sent once the recording has ended
            continue;
        }
        std::string why;
        const std::optional<double> value = acceptedValue(*it, r.value, &why);
        if (!value) {
            refuse(why);
            continue;
        }
        sent = true;
        if (api.cameraControlSet(it->id.c_str(), *value) != 1) {
            const char* reason = api.cameraLastError ? api.cameraLastError() : nullptr;
            refuse(it->caption + ": refused by the camera" +
                   (reason && *reason ? std::string(": ") + reason : std::string()));
            continue;
        }
        geometry = geometry || it->geometry;
    }
    if (!waiting.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        // A request that came meanwhile is newer than one kept back.
        for (Request& r : waiting)
            if (std::none_of(pending_.begin(), pending_.end(),
                             [&](const Request& p) { return p.id == r.id; }))
                pending_.push_back(std::move(r));
    }
    // The list is looked at with the values: after a change, and once a period.
    const bool poll = nowMs - polledMs_ >= kPollMs;
    if (!sent && !poll) return false;
    if (poll) polledMs_ = nowMs;
    unsigned generation = generation_;
    api.cameraControlCount(&generation);
    const bool listChanged = generation != generation_;
    if (listChanged) {
        generation_ = generation;
        controls_ = readCameraControls(api);
    }
    // After a change every value (one control may move others), else those that move alone.
    readControlValues(api, controls_, !sent && !listChanged);
    publish(listChanged);
    return geometry;
}
