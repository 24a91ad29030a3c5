#pragma once
// The simulated camera's controls beside the ten functions: offset, binning and a cooler with
// its set point, through the CameraControl entry points. Called with camera::lockCamera() held.
#include <string>

namespace simcam {

// Back to the values of a camera just opened: offset 0, no binning, the cooler off.
void resetControls();
// Forgets the controls: the camera was closed.
void closeControls();
// The dark level the offset adds to each sample, in 8-bit levels.
int offsetLevel();
// Why the last camera option or control change was refused ("" after one was taken).
std::string& lastError();

}  // namespace simcam
