#include "acquisition/CameraLib.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <vector>

#include "tv_build_config.h"

namespace {
TarviApi g_api;

constexpr const char* kLibraryName = "libtarvidll.so";
// A camera NAME stands for the file libtarvidll-NAME.so.
const std::string kNamedPrefix = "libtarvidll-", kNamedSuffix = ".so";
// The longest NAME whose file name stays within NAME_MAX.
constexpr size_t kMaxCameraName = NAME_MAX - 15;

// The start of a long text, for messages.
std::string Shortened(const std::string& text) {
    return text.size() <= 40 ? text : text.substr(0, 37) + "...";
}

// Folder of the running executable, with a trailing slash; empty when unknown.
std::string ExecutableFolder() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

template <typename Fn>
bool Take(void* handle, const char* name, Fn& slot, std::string& missing) {
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

// Opens one candidate and fills *api from it. The handle stays open on success: nothing
// closes the camera library while the program runs.
bool TryLoad(const std::string& path, TarviApi* api, std::string* why) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = dlerror();
        *why = err ? err : (path + ": cannot be loaded");
        return false;
    }
    TarviApi t;
    std::string missing;
    bool ok = true;
    ok &= Take(handle, "openUSB", t.openUSB, missing);
    ok &= Take(handle, "GetCameraInfo", t.GetCameraInfo, missing);
    ok &= Take(handle, "ExposureSemaphore", t.ExposureSemaphore, missing);
    ok &= Take(handle, "ThreadedExposure", t.ThreadedExposure, missing);
    ok &= Take(handle, "CancelExposure", t.CancelExposure, missing);
    ok &= Take(handle, "SetExposureLength", t.SetExposureLength, missing);
    ok &= Take(handle, "SetGain", t.SetGain, missing);
    ok &= Take(handle, "SetWhiteBalance", t.SetWhiteBalance, missing);
    ok &= Take(handle, "Subframe", t.Subframe, missing);
    ok &= Take(handle, "HorizontalFlip", t.HorizontalFlip, missing);
    if (!ok) {
        *why = path + ": missing " + missing;
        dlclose(handle);
        return false;
    }
    std::string optional;
    Take(handle, "CameraOption", t.CameraOption, optional);
    Take(handle, "CameraLastError", t.CameraLastError, optional);
    Take(handle, "CameraFrameInfo", t.CameraFrameInfo, optional);
    Take(handle, "CameraSampleDepth", t.CameraSampleDepth, optional);
    // A wheel needs all three of its entry points.
    if (!Take(handle, "FilterWheelState", t.FilterWheelState, optional) |
        !Take(handle, "FilterWheelName", t.FilterWheelName, optional) |
        !Take(handle, "FilterWheelMove", t.FilterWheelMove, optional)) {
        t.FilterWheelState = nullptr;
        t.FilterWheelName = nullptr;
        t.FilterWheelMove = nullptr;
    }
    *api = t;
    return true;
}
}  // namespace

bool TarviApi::Complete() const {
    return openUSB && GetCameraInfo && ExposureSemaphore && ThreadedExposure && CancelExposure &&
           SetExposureLength && SetGain && SetWhiteBalance && Subframe && HorizontalFlip;
}

TarviApi& Camera() {
    return g_api;
}

std::string CameraLibraryPath() {
    Dl_info info{};
    if (!g_api.openUSB || dladdr(reinterpret_cast<void*>(g_api.openUSB), &info) == 0 ||
        !info.dli_fname)
        return {};
    // A table of functions inside the program itself (a test's fake camera) is no library.
    const std::string file = info.dli_fname;
    return file.find(".so") == std::string::npos ? std::string() : file;
}

void SetCameraApi(const TarviApi& api) {
    g_api = api;
}

bool LoadCameraLibraryFrom(const std::string& path, std::string* error) {
    TarviApi api;
    std::string why;
    if (!TryLoad(path, &api, &why)) {
        g_api = TarviApi{};
        if (error) *error = why;
        return false;
    }
    g_api = api;
    if (error) error->clear();
    return true;
}

std::vector<std::string> CameraLibraryFolders() {
    std::vector<std::string> folders;
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        folders.push_back(folder);
        // An installed program keeps its camera libraries in a private folder.
        folders.push_back(folder + TV_PRIVATE_LIBDIR_REL "/");
    }
    return folders;
}

std::vector<std::string> AvailableCameras() {
    const std::string& prefix = kNamedPrefix;
    const std::string& suffix = kNamedSuffix;
    std::set<std::string> names;
    for (const std::string& folder : CameraLibraryFolders()) {
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

bool CheckCameraChoice(const std::string& choice, std::string* error) {
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
                why = "the camera name \"" + Shortened(choice) +
                      "\" may hold letters, digits, '.', '_', '+' and '-' only";
                break;
            }
        }
    }
    if (error) *error = why;
    return why.empty();
}

bool LoadChosenCamera(const std::string& choice, std::string* error) {
    if (choice.empty()) return LoadCameraLibrary(error);
    g_api = TarviApi{};
    if (!CheckCameraChoice(choice, error)) return false;
    if (choice.find('/') != std::string::npos) return LoadCameraLibraryFrom(choice, error);
    const std::string file = kNamedPrefix + choice + kNamedSuffix;
    for (const std::string& folder : CameraLibraryFolders()) {
        std::error_code ec;  // an unreadable folder is passed over
        if (std::filesystem::exists(folder + file, ec))
            return LoadCameraLibraryFrom(folder + file, error);
    }
    if (error) *error = "no camera library " + file;
    return false;
}

bool ParseCameraOption(const std::string& text, CameraOptionValue& option) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    option.key = text.substr(0, eq);
    option.value = text.substr(eq + 1);
    return true;
}

bool ApplyCameraOptions(const std::vector<CameraOptionValue>& options, std::string* error) {
    for (const CameraOptionValue& o : options) {
        std::string why;
        if (!g_api.CameraOption) {
            why = "this camera library takes no options (" + o.key + "=" + o.value + ")";
        } else if (g_api.CameraOption(o.key.c_str(), o.value.c_str()) != 1) {
            why = "camera option " + o.key + "=" + o.value + " refused";
            const std::string reason = CameraFailureReason();
            if (!reason.empty()) why += ": " + reason;
        }
        if (!why.empty()) {
            if (error) *error = why;
            return false;
        }
    }
    return true;
}

std::string CameraFailureReason() {
    const char* text = g_api.CameraLastError ? g_api.CameraLastError() : nullptr;
    return text ? std::string(text) : std::string();
}

bool LoadCameraLibrary(std::string* error) {
    std::vector<std::string> candidates;
    for (const std::string& folder : CameraLibraryFolders())
        candidates.push_back(folder + kLibraryName);
    candidates.push_back(kLibraryName);  // LD_LIBRARY_PATH, the loader cache, ...

    std::string reasons;
    for (const std::string& path : candidates) {
        TarviApi api;
        std::string why;
        if (TryLoad(path, &api, &why)) {
            g_api = api;
            if (error) error->clear();
            return true;
        }
        if (!reasons.empty()) reasons += "; ";
        reasons += why;
    }
    g_api = TarviApi{};
    if (error) *error = reasons;
    return false;
}
