#pragma once
// The one road to the camera: a table of the ten entry points of the camera library.
#include <string>

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

    // True when all ten entry points are present.
    bool Complete() const;
};

// The table in use. Empty (every pointer null) until LoadCameraLibrary or SetCameraApi.
TarviApi& Camera();
// Installs a table (tests put a fake camera here).
void SetCameraApi(const TarviApi& api);

// Loads libtarvidll.so from the executable's own folder first, then through the normal
// loader search, and takes the ten functions by name. On success the table is installed
// and true returned; a missing library or function leaves the table empty, returns false
// and puts the reason into *error when given.
bool LoadCameraLibrary(std::string* error = nullptr);
// Same, from one explicit file (tests).
bool LoadCameraLibraryFrom(const std::string& path, std::string* error = nullptr);
