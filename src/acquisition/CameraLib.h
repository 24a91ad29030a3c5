#pragma once
// The one road to the camera: a table of the ten entry points of the camera library.
#include <string>
#include <vector>

#include "acquisition/tarvidll.h"

struct TarviApi {
    decltype(&::openUSB) openUSB = nullptr;
    decltype(&::GetCameraInfo) GetCameraInfo = nullptr;
    decltype(&::ExposureSemaphore) ExposureSemaphore = nullptr;
    decltype(&::ThreadedExposure) ThreadedExposure = nullptr;
    decltype(&::CancelExposure) CancelExposure = nullptr;
    decltype(&::SetExposureLength) SetExposureLength = nullptr;
    decltype(&::SetGain) SetGain = nullptr;
    decltype(&::SetWhiteBalance) SetWhiteBalance = nullptr;
    decltype(&::Subframe) Subframe = nullptr;
    decltype(&::HorizontalFlip) HorizontalFlip = nullptr;
    // Optional: may be null.
    decltype(&::CameraOption) CameraOption = nullptr;
    decltype(&::CameraLastError) CameraLastError = nullptr;
    decltype(&::CameraFrameInfo) CameraFrameInfo = nullptr;
    decltype(&::CameraSampleDepth) CameraSampleDepth = nullptr;
    // The filter wheel: all three or none.
    decltype(&::FilterWheelState) FilterWheelState = nullptr;
    decltype(&::FilterWheelName) FilterWheelName = nullptr;
    decltype(&::FilterWheelMove) FilterWheelMove = nullptr;

    // True when all ten entry points are present.
    bool Complete() const;
};

// The table in use. Empty (every pointer null) until LoadCameraLibrary or SetCameraApi.
TarviApi& Camera();
// The file of the camera library in use; "" when none is loaded (or a table was installed).
std::string CameraLibraryPath();
// Installs a table (tests put a fake camera here).
void SetCameraApi(const TarviApi& api);

// Loads libtarvidll.so from the executable's own folder first, then through the normal
// loader search, and takes the ten functions by name. On success the table is installed
// and true returned; a missing library or function leaves the table empty, returns false
// and puts the reason into *error when given.
bool LoadCameraLibrary(std::string* error = nullptr);
// Same, from one explicit file.
bool LoadCameraLibraryFrom(const std::string& path, std::string* error = nullptr);

// The folders that hold camera libraries: the executable's own, then the private library
// folder of an installed program.
std::vector<std::string> CameraLibraryFolders();
// The camera names found there: "sim" for libtarvidll-sim.so, and so on, sorted.
std::vector<std::string> AvailableCameras();
// A camera choice that can name a library: a path (with a "/") the file system could hold,
// or a NAME of letters, digits, '.', '_', '+' and '-' whose file name libtarvidll-NAME.so
// fits the file system's limit. False, with the reason, for anything else (the choice may
// come from the command line or an old settings file).
bool CheckCameraChoice(const std::string& choice, std::string* error = nullptr);
// Loads the chosen camera: a choice with a "/" is a file; otherwise a name NAME loads
// libtarvidll-NAME.so from the camera library folders. An empty choice loads the default
// (LoadCameraLibrary). Never throws; a choice CheckCameraChoice refuses is not loaded.
bool LoadChosenCamera(const std::string& choice, std::string* error = nullptr);

// One KEY=VALUE camera option.
struct CameraOptionValue {
    std::string key;
    std::string value;
};
// Splits "KEY=VALUE"; false without a "=" or with an empty key.
bool ParseCameraOption(const std::string& text, CameraOptionValue& option);
// Hands the options to the loaded library's CameraOption, in order. False, with the
// reason, when the library takes no options or refuses one.
bool ApplyCameraOptions(const std::vector<CameraOptionValue>& options, std::string* error);
// The library's own reason for its last failure; "" when it has none to give.
std::string CameraFailureReason();
