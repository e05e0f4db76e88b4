// Where System.loadModule finds a library. A relative path is looked for in the
// executable's folder (where the application's bin/ is), then in the working directory;
// a file in neither place that the package holds is taken from the package, written once
// to the user's private cache folder under a name made from its content; a bare name found
// nowhere else goes to the system's own library search.
#include "modules/system/system_module.h"

#include "modules/package/afs_reader.h"
#include "platforms/platform.h"

#include <stdint.h>
#include <stdio.h>

namespace {

bool isFile(const std::string& path) {
    platform::PathStatus st;
    return platform::pathStatus(path, &st) && !st.isDir;
}

std::string join(const std::string& folder, const std::string& path) {
    return folder.empty() ? path : folder + "/" + path;
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The copy's name: 64-bit FNV-1a of the bytes in hex, then the library's own name. Two
// builds of a library never share a file, and the same build is written only once.
std::string contentName(const std::string& data, const std::string& base) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : data)
        h = (h ^ c) * 0x100000001b3ull;
    char hex[20];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return std::string(hex) + "-" + base;
}

bool readWhole(const std::string& path, std::string* out) {
    FILE* f = platform::openFile(path, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out->append(buf, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// An entry of the package that the bootstrap opened (System.package): its stream.
struct Entry {
    std::string package; // the package file
    int64_t pos = 0, csize = 0, size = -1;
};

bool packageEntry(HostContext* cx, const std::string& key, Entry* e) {
    HostObject* system = hostToObject(hostApi->getProperty(cx, hostApi->getGlobal(cx), "System"));
    HostObject* pkg = system ? hostToObject(hostApi->getProperty(cx, system, "package")) : nullptr;
    HostObject* afs = pkg ? hostToObject(hostApi->getProperty(cx, pkg, "afs")) : nullptr;
    HostObject* fsd = afs ? hostToObject(hostApi->getProperty(cx, afs, "fsd")) : nullptr;
    HostObject* entry = fsd ? hostToObject(hostApi->getProperty(cx, fsd, key.c_str())) : nullptr;
    if (!entry) return false;
    e->pos = hostIntProperty(cx, entry, "pos", -1);
    e->csize = hostIntProperty(cx, entry, "csize", -1);
    e->size = hostIntProperty(cx, entry, "size", -1);
    e->package = textArg(cx, hostApi->getProperty(cx, pkg, "path"));
    return e->pos >= 0 && e->csize >= 0 && e->size >= 0;
}

// The entry as a file in the cache folder: written to a temporary file and renamed, and
// only when no file of that content is there, so that a library that another process has
// mapped is never rewritten and processes starting at once all succeed. "" and the reason
// when it cannot be had.
std::string cachedCopy(const Entry& e, const std::string& base, std::string* reason) {
    std::string data;
    FILE* f = platform::openFile(platform::localPath(e.package), "rb");
    afs::Status status =
        f ? afs::readEntry(f, e.pos, e.csize, e.size, &data) : afs::Status::Damaged;
    if (f) fclose(f);
    if (status != afs::Status::Ok) {
        *reason = status == afs::Status::NoMemory ? "no memory to unpack it from the package"
                                                  : "its entry in the package cannot be read";
        return std::string();
    }
    std::string folder = platform::privateCacheFolder("modules");
    if (folder.empty()) {
        *reason = "no private cache folder to unpack it to";
        return std::string();
    }
    std::string copy = folder + "/" + contentName(data, base), old;
    if (readWhole(copy, &old) && old == data) return copy;
    if (!platform::writeFileAtomically(copy, data, 0700)) {
        *reason = "cannot unpack it to " + copy;
        return std::string();
    }
    return copy;
}

} // namespace

void* loadModuleLibrary(HostContext* cx, const std::string& path, const std::string& key,
                        std::string* reason) {
    std::string local = platform::localPath(path);
    if (local.empty()) {
        *reason = "no file name";
        return nullptr;
    }
    if (platform::isAbsolutePath(local)) return platform::loadLibrary(local, reason);
    std::string self = platform::folderOf(platform::executablePath());
    for (const std::string& folder : {self, platform::currentDirectory()})
        if (isFile(join(folder, local))) return platform::loadLibrary(join(folder, local), reason);
    Entry entry;
    if (packageEntry(cx, key, &entry)) {
        int depth = hostApi->suspendRequest(cx);
        std::string copy = cachedCopy(entry, baseName(local), reason);
        hostApi->resumeRequest(cx, depth);
        return copy.empty() ? nullptr : platform::loadLibrary(copy, reason);
    }
    if (local.find_first_of("/\\") == std::string::npos)
        return platform::loadSystemLibrary(local, reason);
    // Nowhere: the loader says so in its own words.
    return platform::loadLibrary(join(self, local), reason);
}
