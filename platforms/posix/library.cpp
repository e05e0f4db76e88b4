// Native libraries through the dynamic loader.
#include "platforms/platform.h"

#include <dlfcn.h>

namespace platform {

static void* opened(void* library, std::string* reason) {
    if (!library && reason) {
        const char* why = dlerror();
        *reason = why ? why : "unknown error";
    }
    return library;
}

// A name without a separator would be searched for: "./" keeps it in the working directory.
void* loadLibrary(const std::string& path, std::string* reason) {
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    return opened(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL), reason);
}

void* loadSystemLibrary(const std::string& name, std::string* reason) {
    return opened(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL), reason);
}

void* librarySymbol(void* library, const char* name) {
    dlerror();
    return library ? dlsym(library, name) : nullptr;
}

bool isAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

} // namespace platform
