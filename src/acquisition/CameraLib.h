#pragma once
// The one road to the camera: a table of the ten entry points of the camera library.
#include <string>
#include <vector>

#include "acquisition/tarvidll.h"

struct TarviApi {
    decltype(&::openUSB) openUSB = nullptr;
    decltype(&::GetCameraInfo) getCameraInfo = nullptr;
    decltype(&::ExposureSemaphore) exposureSemaphore = nullptr;
    decltype(&::ThreadedExposure) threadedExposure = nullptr;
    decltype(&::CancelExposure) cancelExposure = nullptr;
    decltype(&::SetExposureLength) setExposureLength = nullptr;
    decltype(&::SetGain) setGain = nullptr;
    decltype(&::SetWhiteBalance) setWhiteBalance = nullptr;
    decltype(&::Subframe) subframe = nullptr;
    decltype(&::HorizontalFlip) horizontalFlip = nullptr;
    // Optional: may be null.
    decltype(&::CameraOption) cameraOption = nullptr;
    decltype(&::CameraLastError) cameraLastError = nullptr;
    decltype(&::CameraFrameInfo) cameraFrameInfo = nullptr;
    decltype(&::CameraSampleDepth) cameraSampleDepth = nullptr;
    decltype(&::CameraListDevices) cameraListDevices = nullptr;
    decltype(&::SetExposureMicroseconds) setExposureMicroseconds = nullptr;
    decltype(&::CameraSensorInfo) cameraSensorInfo = nullptr;
    decltype(&::SubframeOrigin) subframeOrigin = nullptr;
    decltype(&::CameraHealth) cameraHealth = nullptr;
    decltype(&::CameraClose) cameraClose = nullptr;
    // The filter wheel: all three or none.
    decltype(&::FilterWheelState) filterWheelState = nullptr;
    decltype(&::FilterWheelName) filterWheelName = nullptr;
    decltype(&::FilterWheelMove) filterWheelMove = nullptr;
    // The camera controls: all five or none.
    decltype(&::CameraControlCount) cameraControlCount = nullptr;
    decltype(&::CameraControlInfo) cameraControlInfo = nullptr;
    decltype(&::CameraControlChoice) cameraControlChoice = nullptr;
    decltype(&::CameraControlGet) cameraControlGet = nullptr;
    decltype(&::CameraControlSet) cameraControlSet = nullptr;
    // The focuser: both or none.
    decltype(&::FocuserState) focuserState = nullptr;
    decltype(&::FocuserMove) focuserMove = nullptr;

    // True when all ten entry points are present.
    bool complete() const;
};

// The table in use. Empty (every pointer null) until loadCameraLibrary or setCameraApi.
TarviApi& camera();
// The file of the camera library in use; "" when none is loaded (or a table was installed).
std::string cameraLibraryPath();
// Installs a table (tests put a fake camera here).
void setCameraApi(const TarviApi& api);
// Takes the camera library in use out of use (a change of camera): the table empties, and
// with `unload` the library is unloaded (only once its CameraClose has ended its threads;
// otherwise it stays loaded, never to be called again unless it is loaded anew).
void releaseCameraLibrary(bool unload);

// Loads libtarvidll.so from the executable's own folder first, then through the normal
// loader search, and takes the ten functions by name. On success the table is installed
// and true returned; a missing library or function leaves the table empty, returns false
// and puts the reason into *error when given.
bool loadCameraLibrary(std::string* error = nullptr);
// Same, from one explicit file.
bool loadCameraLibraryFrom(const std::string& path, std::string* error = nullptr);
// The table of the camera library in one file, without putting it in use (for what a library
// offers beside the camera in use, such as its device list). The library stays loaded: its
// threads must never outlive its code. False, with the reason, as loadCameraLibraryFrom.
bool loadCameraTable(const std::string& path, TarviApi& table, std::string* error = nullptr);

// The folders that hold camera libraries: the executable's own, then the private library
// folder of an installed program.
std::vector<std::string> cameraLibraryFolders();
// The camera names found there: "sim" for libtarvidll-sim.so, and so on, sorted.
std::vector<std::string> availableCameras();
// A camera choice that can name a library: a path (with a "/") the file system could hold,
// or a NAME of letters, digits, '.', '_', '+' and '-' whose file name libtarvidll-NAME.so
// fits the file system's limit. False, with the reason, for anything else (the choice may
// come from the command line or an old settings file).
bool checkCameraChoice(const std::string& choice, std::string* error = nullptr);
// Loads the chosen camera: a choice with a "/" is a file; otherwise a name NAME loads
// libtarvidll-NAME.so from the camera library folders. An empty choice loads the default
// (loadCameraLibrary). Never throws; a choice checkCameraChoice refuses is not loaded.
bool loadChosenCamera(const std::string& choice, std::string* error = nullptr);

// One KEY=VALUE camera option.
struct CameraOptionValue {
    std::string key;
    std::string value;
};
// Splits "KEY=VALUE"; false without a "=" or with an empty key.
bool parseCameraOption(const std::string& text, CameraOptionValue& option);
// Hands the options to the loaded library's CameraOption, in order. False, with the
// reason, when the library takes no options or refuses one.
bool applyCameraOptions(const std::vector<CameraOptionValue>& options, std::string* error);
// Why the camera cannot be used: the program's own reason when it refused the camera
// (setCameraRefusal), else the library's reason for its last failure; "" when there is none.
std::string cameraFailureReason();
// The program refuses the camera that opened (its frames do not fit the frame budget):
// cameraFailureReason gives `why` from now on. "" takes the refusal back; installing or
// loading a camera table does too.
void setCameraRefusal(const std::string& why);
