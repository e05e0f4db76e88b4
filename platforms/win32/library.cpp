// Native module libraries: LoadLibraryW and GetProcAddress.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

namespace platform {

// Module libraries travel with the application, so a bare name is taken from the working
// directory rather than searched for on the system's library path.
void* loadLibrary(const std::string& path) {
    std::string file = path.find_first_of("\\/") == std::string::npos ? ".\\" + path : path;
    return reinterpret_cast<void*>(LoadLibraryW(widen(file).c_str()));
}

void* librarySymbol(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

} // namespace platform
