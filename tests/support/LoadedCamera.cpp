#include "LoadedCamera.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace tvtest {
const TarviApi& loadedCamera(const char* path) {
    static std::map<std::string, TarviApi> loaded;
    auto it = loaded.find(path);
    if (it != loaded.end()) return it->second;
    TarviApi table;
    std::string error;
    if (!loadCameraTable(path, table, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    if (!table.cameraOption || !table.cameraLastError || !table.cameraFrameInfo ||
        !table.cameraSampleDepth) {
        std::fprintf(stderr, "%s: lacks an optional entry point the tests call\n", path);
        std::abort();
    }
    return loaded.emplace(path, table).first->second;
}

SimCamConfigureFn simCamConfigure(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!lib) return nullptr;
    auto configure = reinterpret_cast<SimCamConfigureFn>(dlsym(lib, "SimCamConfigure"));
    dlclose(lib);  // drops only the reference taken just now
    return configure;
}
}  // namespace tvtest
