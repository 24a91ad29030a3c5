#pragma once
// The focuser beside the INDI camera (IndiFocuser.cpp): what the camera's entry points ask of
// it. The focuser's own entry points are declared in tarvidll.h.
#include <string>

namespace indicam {
// The focuser=NAME option (under apiMutex): the INDI device of the focuser, or "none" for no
// focuser. False, with the reason in *why, for an empty name.
bool setFocuserOption(const std::string& value, std::string* why);
// Once the camera is open (under apiMutex): finds the focuser on the same server, connects it
// (the one named, else the first found) and waits for its absolute position. A focuser that is
// missing or does not answer is reported on stderr and left out.
void openFocuser();
}  // namespace indicam
