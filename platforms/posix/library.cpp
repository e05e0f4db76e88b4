// Native libraries through the dynamic loader.
#include "platforms/digest.h"
#include "platforms/platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

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

// The bytes go into an anonymous memory file, sealed against any change, that the loader
// opens as /proc/self/fd/N. The file stays open for the process: the loader knows a
// library by its path too, and a number given out again would name the older library.
void* loadLibraryFromBytes(const std::string& data, const std::string& name, std::string* reason) {
    static std::mutex lock;
    static std::map<std::string, void*> loaded; // by the digest of the bytes
    unsigned char sum[digest::kSize];
    digest::sha256(data.data(), data.size(), sum);
    std::string key(reinterpret_cast<const char*>(sum), sizeof sum);
    std::lock_guard<std::mutex> hold(lock);
    auto found = loaded.find(key);
    if (found != loaded.end()) return found->second;
    // The name only labels the file (in /proc/self/maps); the system takes at most 249 bytes.
    int fd = memfd_create(name.substr(0, 200).c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        *reason = "no anonymous memory file to load it from";
        return nullptr;
    }
    bool written = true;
    for (size_t done = 0; written && done < data.size();) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        done += written ? static_cast<size_t>(n) : 0;
    }
    if (!written ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        close(fd);
        *reason = "cannot write it to an anonymous memory file";
        return nullptr;
    }
    char path[32];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    void* library = opened(dlopen(path, RTLD_NOW | RTLD_LOCAL), reason);
    if (!library) {
        close(fd);
        return nullptr;
    }
    loaded[key] = library;
    return library;
}

void* librarySymbol(void* library, const char* name) {
    dlerror();
    return library ? dlsym(library, name) : nullptr;
}

bool isAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

} // namespace platform
