// Native module libraries: LoadLibraryExW (the wide LoadLibraryW with the library's own
// folder searched for its dependencies) and GetProcAddress.
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <windows.h>

namespace platform {

// Module libraries travel with the application: a relative path, a bare name too, is taken
// from the working directory, never searched for on the system's library path (where
// LoadLibraryW would find a system DLL of that name first). The library's own dependencies
// are looked for beside it.
void* loadLibrary(const std::string& path) {
    std::wstring wide = widen(path);
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return nullptr;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr);
    if (n == 0 || n >= full.size()) return nullptr;
    full.resize(n);
    return reinterpret_cast<void*>(
        LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void* librarySymbol(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

} // namespace platform
