#include "acquisition/CameraLib.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

#include "tv_build_config.h"

namespace {
TarviApi g_api;

constexpr const char* kLibraryName = "libtarvidll.so";

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

bool LoadCameraLibrary(std::string* error) {
    std::vector<std::string> candidates;
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        candidates.push_back(folder + kLibraryName);
        // An installed program keeps its camera libraries in a private folder.
        candidates.push_back(folder + TV_PRIVATE_LIBDIR_REL "/" + kLibraryName);
    }
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
