// Where System.loadModule finds a library. A relative path is looked for in the
// executable's folder (where the application's bin/ is), then in the working directory;
// a file in neither place that the package holds is taken from the package and loaded
// from the bytes read (platform::loadLibraryFromBytes); a bare name found nowhere else goes
// to the system's own library search.
#include "modules/system/system_module.h"

#include "modules/package/afs_reader.h"
#include "platforms/platform.h"

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

// The entry's bytes, read once from the package and loaded from what was read. Null and
// the reason when it cannot be had.
void* packagedLibrary(const Entry& e, const std::string& base, std::string* reason) {
    std::string data;
    FILE* f = platform::openFile(platform::localPath(e.package), "rb");
    afs::Status status =
        f ? afs::readEntry(f, e.pos, e.csize, e.size, &data) : afs::Status::Damaged;
    if (f) fclose(f);
    if (status != afs::Status::Ok) {
        *reason = status == afs::Status::NoMemory ? "no memory to unpack it from the package"
                                                  : "its entry in the package cannot be read";
        return nullptr;
    }
    return platform::loadLibraryFromBytes(data, base, reason);
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
        void* library = packagedLibrary(entry, baseName(local), reason);
        hostApi->resumeRequest(cx, depth);
        return library;
    }
    if (local.find_first_of("/\\") == std::string::npos)
        return platform::loadSystemLibrary(local, reason);
    // Nowhere: the loader says so in its own words.
    return platform::loadLibrary(join(self, local), reason);
}
