// Native libraries through the dynamic loader.
#include "platforms/platform.h"

#include <dlfcn.h>

namespace platform {

// Module libraries travel with the application, so a bare name is taken from the working
// directory rather than searched for on the system's library path.
void* loadLibrary(const std::string& path) {
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* librarySymbol(void* library, const char* name) {
    dlerror();
    return library ? dlsym(library, name) : nullptr;
}

} // namespace platform
