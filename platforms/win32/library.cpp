// Native module libraries: LoadLibraryExW (the wide LoadLibraryW with the library's own
// folder searched for its dependencies) and GetProcAddress; the local application data
// folder for the libraries unpacked from the package.
#include "platforms/digest.h"
#include "platforms/platform.h"
#include "platforms/win32/wide.h"

#include <stdio.h>
#include <windows.h>

namespace platform {

// The system's message for the last error, without its line end.
static void* opened(HMODULE library, std::string* reason) {
    if (library || !reason) return reinterpret_cast<void*>(library);
    DWORD code = GetLastError();
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    *reason = n ? narrow(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!reason->empty() && (reason->back() == '\n' || reason->back() == '\r'))
        reason->pop_back();
    return nullptr;
}

// The file that path names, a bare name too, taken from the working directory; the
// library's own dependencies are looked for beside it.
void* loadLibrary(const std::string& path, std::string* reason) {
    std::wstring wide = widen(path);
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n ? n : 1, L'\0');
    n = n ? GetFullPathNameW(wide.c_str(), n, &full[0], nullptr) : 0;
    if (n == 0 || n >= full.size()) return opened(nullptr, reason);
    full.resize(n);
    return opened(LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), reason);
}

void* loadSystemLibrary(const std::string& name, std::string* reason) {
    return opened(LoadLibraryW(widen(name).c_str()), reason);
}

void* librarySymbol(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

// "C:\...", and a path from the root of the drive or a server ("\..." "\\...").
bool isAbsolutePath(const std::string& path) {
    bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '/' || path[2] == '\\');
    return drive || (!path.empty() && (path[0] == '/' || path[0] == '\\'));
}

// %LOCALAPPDATA%\Capsule\<name>, a folder of the user's own profile.
static std::string privateCacheFolder(const std::string& name) {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) return std::string();
    std::string folder = narrow(local) + "\\Capsule";
    CreateDirectoryW(widen(folder).c_str(), nullptr);
    folder += "\\" + name;
    CreateDirectoryW(widen(folder).c_str(), nullptr);
    DWORD attributes = GetFileAttributesW(widen(folder).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
               ? folder
               : std::string();
}

static bool readWhole(const std::string& path, std::string* out) {
    FILE* f = _wfopen(widen(path).c_str(), L"rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out->append(buf, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// The system loads a library from a file only: the bytes are written once into the user's
// own profile under a name made from their digest and the library's name, and a file there
// is never rewritten (another process may have it loaded) but used only when it holds
// exactly these bytes.
void* loadLibraryFromBytes(const std::string& data, const std::string& name, std::string* reason) {
    std::string folder = privateCacheFolder("modules");
    if (folder.empty()) {
        *reason = "no private cache folder to unpack it to";
        return nullptr;
    }
    unsigned char sum[digest::kSize];
    digest::sha256(data.data(), data.size(), sum);
    char hex[17];
    for (int i = 0; i < 8; i++)
        snprintf(hex + 2 * i, 3, "%02x", sum[i]);
    std::string copy = folder + "\\" + hex + "-" + name, old;
    if (!(readWhole(copy, &old) && old == data) && !writeFileAtomically(copy, data, 0700)) {
        *reason = "cannot unpack it to " + copy;
        return nullptr;
    }
    return loadLibrary(copy, reason);
}

// Windows keeps no compiled scripts (it has no build identity): no cache files.
bool hasCacheFolder(const char*) {
    return false;
}
bool readCacheFile(const char*, const std::string&, size_t, std::string*) {
    return false;
}
bool writeCacheFile(const char*, const std::string&, const std::string&, bool, const CacheBounds&) {
    return false;
}
bool randomBytes(void*, size_t) {
    return false;
}

} // namespace platform
