#include "acquisition/CameraLib.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <set>
#include <vector>

#include "tv_build_config.h"

namespace {
TarviApi g_api;
// The dlopen handle of the library of g_api; null for a table installed by a test.
void* g_handle = nullptr;
// The program's refusal of the camera of g_api (setCameraRefusal); set on the acquisition
// thread, read on the window thread.
std::mutex g_refusalMutex;
std::string g_refusal;

// Puts a table in use: a new camera, so no refusal of the old one holds. The library of the
// table before, unless released, stays loaded for good.
void install(const TarviApi& api, void* handle = nullptr) {
    g_api = api;
    g_handle = handle;
    setCameraRefusal({});
}

constexpr const char* kLibraryName = "libtarvidll.so";
// A camera NAME stands for the file libtarvidll-NAME.so.
const std::string kNamedPrefix = "libtarvidll-", kNamedSuffix = ".so";
// The longest NAME whose file name stays within NAME_MAX.
constexpr size_t kMaxCameraName = NAME_MAX - 15;

// The start of a long text, for messages.
std::string shortened(const std::string& text) {
    return text.size() <= 40 ? text : text.substr(0, 37) + "...";
}

// Folder of the running executable, with a trailing slash; empty when unknown.
std::string executableFolder() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

template <typename Fn>
bool take(void* handle, const char* name, Fn& slot, std::string& missing) {
    dlerror();
    void* sym = dlsym(handle, name);
    if (!sym) {
        if (!missing.empty()) missing += ", ";
        missing += name;
        return false;
    }
    slot = reinterpret_cast<Fn>(sym);
    return true;
}

// Opens one candidate and fills *api from it. The handle stays open on success (in *handle
// when asked for): only releaseCameraLibrary closes it.
bool tryLoad(const std::string& path, TarviApi* api, std::string* why, void** opened = nullptr) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = dlerror();
        *why = err ? err : (path + ": cannot be loaded");
        return false;
    }
    TarviApi t;
    std::string missing;
    bool ok = true;
    ok &= take(handle, "openUSB", t.openUSB, missing);
    ok &= take(handle, "GetCameraInfo", t.getCameraInfo, missing);
    ok &= take(handle, "ExposureSemaphore", t.exposureSemaphore, missing);
    ok &= take(handle, "ThreadedExposure", t.threadedExposure, missing);
    ok &= take(handle, "CancelExposure", t.cancelExposure, missing);
    ok &= take(handle, "SetExposureLength", t.setExposureLength, missing);
    ok &= take(handle, "SetGain", t.setGain, missing);
    ok &= take(handle, "SetWhiteBalance", t.setWhiteBalance, missing);
    ok &= take(handle, "Subframe", t.subframe, missing);
    ok &= take(handle, "HorizontalFlip", t.horizontalFlip, missing);
    if (!ok) {
        *why = path + ": missing " + missing;
        dlclose(handle);
        return false;
    }
    std::string optional;
    take(handle, "CameraOption", t.cameraOption, optional);
    take(handle, "CameraLastError", t.cameraLastError, optional);
    take(handle, "CameraFrameInfo", t.cameraFrameInfo, optional);
    take(handle, "CameraSampleDepth", t.cameraSampleDepth, optional);
    take(handle, "CameraSensorInfo", t.cameraSensorInfo, optional);
    take(handle, "CameraListDevices", t.cameraListDevices, optional);
    take(handle, "SetExposureMicroseconds", t.setExposureMicroseconds, optional);
    take(handle, "SubframeOrigin", t.subframeOrigin, optional);
    take(handle, "CameraHealth", t.cameraHealth, optional);
    take(handle, "CameraClose", t.cameraClose, optional);
    // A wheel needs all three of its entry points.
    if (!take(handle, "FilterWheelState", t.filterWheelState, optional) |
        !take(handle, "FilterWheelName", t.filterWheelName, optional) |
        !take(handle, "FilterWheelMove", t.filterWheelMove, optional)) {
        t.filterWheelState = nullptr;
        t.filterWheelName = nullptr;
        t.filterWheelMove = nullptr;
    }
    // Controls need all five of theirs.
    if (!take(handle, "CameraControlCount", t.cameraControlCount, optional) |
        !take(handle, "CameraControlInfo", t.cameraControlInfo, optional) |
        !take(handle, "CameraControlChoice", t.cameraControlChoice, optional) |
        !take(handle, "CameraControlGet", t.cameraControlGet, optional) |
        !take(handle, "CameraControlSet", t.cameraControlSet, optional)) {
        t.cameraControlCount = nullptr;
        t.cameraControlInfo = nullptr;
        t.cameraControlChoice = nullptr;
        t.cameraControlGet = nullptr;
        t.cameraControlSet = nullptr;
    }
    // The focuser: both or none.
    if (!take(handle, "FocuserState", t.focuserState, optional) |
        !take(handle, "FocuserMove", t.focuserMove, optional)) {
        t.focuserState = nullptr;
        t.focuserMove = nullptr;
    }
    *api = t;
    if (opened) *opened = handle;
    return true;
}
}  // namespace

bool TarviApi::complete() const {
    return openUSB && getCameraInfo && exposureSemaphore && threadedExposure && cancelExposure &&
           setExposureLength && setGain && setWhiteBalance && subframe && horizontalFlip;
}

TarviApi& camera() {
    return g_api;
}

std::string cameraLibraryPath() {
    Dl_info info{};
    if (!g_api.openUSB || dladdr(reinterpret_cast<void*>(g_api.openUSB), &info) == 0 ||
        !info.dli_fname)
        return {};
    // A table of functions inside the program itself (a test's fake camera) is no library.
    const std::string file = info.dli_fname;
    return file.find(".so") == std::string::npos ? std::string() : file;
}

void setCameraApi(const TarviApi& api) {
    install(api);
}

void releaseCameraLibrary(bool unload) {
    void* handle = g_handle;
    install(TarviApi{});
#if defined(__SANITIZE_ADDRESS__)
    // Under the address sanitizer a library stays mapped: what its own data still holds would
    // read as leaked once the data is gone, and the reports could not name its functions.
    unload = false;
#endif
    if (unload && handle) dlclose(handle);
}

bool loadCameraLibraryFrom(const std::string& path, std::string* error) {
    TarviApi api;
    std::string why;
    void* handle = nullptr;
    if (!tryLoad(path, &api, &why, &handle)) {
        install(TarviApi{});
        if (error) *error = why;
        return false;
    }
    install(api, handle);
    if (error) error->clear();
    return true;
}

bool loadCameraTable(const std::string& path, TarviApi& table, std::string* error) {
    std::string why;
    const bool ok = tryLoad(path, &table, &why);
    if (error) *error = why;
    return ok;
}

std::vector<std::string> cameraLibraryFolders() {
    std::vector<std::string> folders;
    const std::string folder = executableFolder();
    if (!folder.empty()) {
        folders.push_back(folder);
        // An installed program keeps its camera libraries in a private folder.
        folders.push_back(folder + TV_PRIVATE_LIBDIR_REL "/");
    }
    return folders;
}

std::vector<std::string> availableCameras() {
    const std::string& prefix = kNamedPrefix;
    const std::string& suffix = kNamedSuffix;
    std::set<std::string> names;
    for (const std::string& folder : cameraLibraryFolders()) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            const std::string file = entry.path().filename().string();
            if (file.size() > prefix.size() + suffix.size() && file.rfind(prefix, 0) == 0 &&
                file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.insert(
                    file.substr(prefix.size(), file.size() - prefix.size() - suffix.size()));
        }
    }
    return {names.begin(), names.end()};
}

bool checkCameraChoice(const std::string& choice, std::string* error) {
    std::string why;
    if (choice.empty()) {
        why = "an empty camera name";
    } else if (choice.find('\0') != std::string::npos) {
        why = "a camera name with a NUL character";
    } else if (choice.find('/') != std::string::npos) {
        if (choice.size() >= PATH_MAX)
            why = "the camera library path is longer than " + std::to_string(PATH_MAX - 1) +
                  " characters";
    } else if (choice.size() > kMaxCameraName) {
        why = "the camera name is longer than " + std::to_string(kMaxCameraName) + " characters";
    } else {
        for (const char c : choice) {
            const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '+' || c == '-';
            if (!ok) {
                why = "the camera name \"" + shortened(choice) +
                      "\" may hold letters, digits, '.', '_', '+' and '-' only";
                break;
            }
        }
    }
    if (error) *error = why;
    return why.empty();
}

bool loadChosenCamera(const std::string& choice, std::string* error) {
    if (choice.empty()) return loadCameraLibrary(error);
    install(TarviApi{});
    if (!checkCameraChoice(choice, error)) return false;
    if (choice.find('/') != std::string::npos) return loadCameraLibraryFrom(choice, error);
    const std::string file = kNamedPrefix + choice + kNamedSuffix;
    for (const std::string& folder : cameraLibraryFolders()) {
        std::error_code ec;  // an unreadable folder is passed over
        if (std::filesystem::exists(folder + file, ec))
            return loadCameraLibraryFrom(folder + file, error);
    }
    if (error) *error = "no camera library " + file;
    return false;
}

bool parseCameraOption(const std::string& text, CameraOptionValue& option) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    option.key = text.substr(0, eq);
    option.value = text.substr(eq + 1);
    return true;
}

bool applyCameraOptions(const std::vector<CameraOptionValue>& options, std::string* error) {
    for (const CameraOptionValue& o : options) {
        std::string why;
        if (!g_api.cameraOption) {
            why = "this camera library takes no options (" + o.key + "=" + o.value + ")";
        } else if (g_api.cameraOption(o.key.c_str(), o.value.c_str()) != 1) {
            why = "camera option " + o.key + "=" + o.value + " refused";
            const std::string reason = cameraFailureReason();
            if (!reason.empty()) why += ": " + reason;
        }
        if (!why.empty()) {
            if (error) *error = why;
            return false;
        }
    }
    return true;
}

std::string cameraFailureReason() {
    {
        std::lock_guard<std::mutex> lock(g_refusalMutex);
        if (!g_refusal.empty()) return g_refusal;
    }
    const char* text = g_api.cameraLastError ? g_api.cameraLastError() : nullptr;
    return text ? std::string(text) : std::string();
}

void setCameraRefusal(const std::string& why) {
    std::lock_guard<std::mutex> lock(g_refusalMutex);
    g_refusal = why;
}

bool loadCameraLibrary(std::string* error) {
    std::vector<std::string> candidates;
    for (const std::string& folder : cameraLibraryFolders())
        candidates.push_back(folder + kLibraryName);
    candidates.push_back(kLibraryName);  // LD_LIBRARY_PATH, the loader cache, ...

    std::string reasons;
    for (const std::string& path : candidates) {
        TarviApi api;
        std::string why;
        void* handle = nullptr;
        if (tryLoad(path, &api, &why, &handle)) {
            install(api, handle);
            if (error) error->clear();
            return true;
        }
        if (!reasons.empty()) reasons += "; ";
        reasons += why;
    }
    install(TarviApi{});
    if (error) *error = reasons;
    return false;
}
