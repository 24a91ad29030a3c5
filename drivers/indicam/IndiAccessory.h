#pragma once
// What the devices beside the INDI camera share (the filter wheel, the focuser): a device of
// the same server, named by an option or found by its driver interface, connected by this
// library and driven through its properties. Their properties reach the camera's client with
// those of every other device.
#include <functional>
#include <string>

#include "IndiSession.h"

namespace indicam {
// Under the state lock: a property of `device` (invalid when it has none of that name).
INDI::Property deviceProperty(State& s, const std::string& device, const char* name);

// Sends property `name` of `device` as `edit` leaves it (the state lock not held); false when
// the device, its property or the server is not there or `edit` refuses.
bool sendDeviceProperty(const std::string& device, const char* name,
                        const std::function<bool(INDI::Property&)>& edit);

// Once the camera is open (under apiMutex): finds the accessory (`named`, else the first
// device with the driver interface `mask` that is not the camera, else the camera when it
// has that interface itself), connects it and waits until `ready` says its properties are
// there. Returns its device name, or "" with the reason on stderr (`what`: "filter wheel");
// the camera works without it.
std::string openAccessory(const std::string& named, unsigned mask, const char* what,
                          const std::function<bool(State&, const std::string&)>& ready);
}  // namespace indicam
