#pragma once
// The filter wheel beside the INDI camera (IndiWheel.cpp): what the camera's entry points ask
// of it. The wheel's own entry points are declared in tarvidll.h.
#include <string>

namespace indicam {
// The wheel=NAME option (under apiMutex): the INDI device of the wheel, or "none" for no
// wheel. False, with the reason in *why, for an empty name.
bool setWheelOption(const std::string& value, std::string* why);
// Once the camera is open (under apiMutex): finds the wheel on the same server, connects it
// and waits for its slot and names. A wheel that is missing or does not answer is reported
// on stderr and left out; the camera works without it.
void openWheel();
}  // namespace indicam
