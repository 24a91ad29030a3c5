#pragma once
// The camera's own controls (offset, binning, a cooler, ...) as the camera library lists them
// through the CameraControl entry points: read and checked here, kept by the acquisition
// thread, shown by the window from a snapshot. No window and no Qt here.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct TarviApi;

enum class ControlKind { Integer, Number, Choice, Switch, Action };

struct CameraControl {
    std::string id;
    std::string caption;
    std::string unit;
    ControlKind kind = ControlKind::Integer;
    int role = 0;  // a TARVI_ROLE_ value
    bool readOnly = false;
    bool whileRecording = false;   // may change while a recording runs
    bool geometry = false;         // a change may change the sensor size
    bool changesByItself = false;  // read again every second or so
    double minimum = 0, maximum = 0, step = 0;
    std::vector<std::string> choices;  // the names of a choice's values 0..n-1
    std::optional<double> value;       // in force, as the library last said; none: not known
};

// The controls a library lists now, checked: a control without an id, with an id met before,
// of an unknown kind or a choice without values is left out; texts end at their buffers'
// ends; a range upside down is turned round; a switch is 0..1, a choice 0..n-1. Values are
// not read (readControlValues). Empty for a library without the entry points.
std::vector<CameraControl> readCameraControls(const TarviApi& api);
// Reads the values in force of every control, or of those that change by themselves only.
void readControlValues(const TarviApi& api, std::vector<CameraControl>& controls,
                       bool changingOnly);

// A control for the "Camera Controls" panel: every one but those the program's own sliders and
// menus cover (exposure, gain, white balance, flip, subframe, sample depth).
bool shownInPanel(const CameraControl& control);
// Whether the user may change the control now.
bool controlEnabled(const CameraControl& control, bool recording);
// The value to send for `asked`: a whole number for the integer kinds, on the step from the
// minimum, within the range; nullopt, with the reason, for a read-only control, a value that
// is not a number, or one outside the range (an action takes any value).
std::optional<double> acceptedValue(const CameraControl& control, double asked,
                                    std::string* why = nullptr);
// The value for people and the capture log: "12", "-10.5 C", the choice's name, "On"/"Off";
// "" while not known and for an action.
std::string controlValueText(const CameraControl& control);
// The first control of a role; null when there is none.
const CameraControl* controlOfRole(const std::vector<CameraControl>& controls, int role);

// What the window sees of the controls: the list (listSerial changes whenever it was read
// anew, so the panel rebuilds itself only then), its values, and the last refusal.
struct ControlSnapshot {
    uint64_t listSerial = 0;
    std::vector<CameraControl> controls;
    uint64_t refusals = 0;  // counts each refused change
    std::string lastRefusal;
};

// The acquisition thread's side: changes asked for by any thread, applied between exposures
// (those a recording must not see wait for its end), the values read back after each change
// and every second for those that change by themselves, and the snapshot.
class ControlHost {
  public:
    // ---- any thread
    // The latest value asked for a control replaces one not yet sent.
    void request(const std::string& id, double value);
    ControlSnapshot snapshot() const;

    // ---- acquisition thread
    // Reads the list and every value of a camera just opened.
    void open(const TarviApi& api);
    // Between exposures: sends what was asked for and may go now, reads back, follows the
    // list. True when a control that changes the sensor size was set (the caller asks for
    // the sensor size again).
    bool service(const TarviApi& api, bool recording, uint32_t nowMs);
    // Forgets the camera's controls (it was closed).
    void clear();

    static constexpr uint32_t kPollMs = 1000;

  private:
    struct Request {
        std::string id;
        double value = 0;
    };
    void publish(bool listChanged);
    void refuse(const std::string& why);

    mutable std::mutex mutex_;
    std::vector<Request> pending_;  // under mutex_
    ControlSnapshot snapshot_;      // under mutex_

    // Acquisition thread only.
    std::vector<CameraControl> controls_;
    unsigned generation_ = 0;
    uint32_t polledMs_ = 0;
};
