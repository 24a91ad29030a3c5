#pragma once
// A camera library loaded as the program loads it, for the tests that drive one through its
// entry points.
#include "acquisition/CameraLib.h"

namespace tvtest {
// The table of the camera library in `path`, loaded on the first call and kept loaded (its
// threads must never outlive its code). Besides the ten entry points every camera has, the
// library must offer CameraOption, CameraLastError, CameraFrameInfo and CameraSampleDepth; a
// library that cannot be loaded or lacks one ends the test program, saying why.
const TarviApi& loadedCamera(const char* path);

// SimCamConfigure(scene, seeing) of the simulated camera library in `path`, which the program
// has loaded already; null when it is not loaded or lacks the entry point.
using SimCamConfigureFn = int (*)(int, int);
SimCamConfigureFn simCamConfigure(const char* path);
}  // namespace tvtest
