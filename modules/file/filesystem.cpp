// File-system functions on the File constructor: status, removal, times, directories and
// listings. They keep the engine request throughout; failures are results, not errors.
#include "modules/file/file_module.h"

#include "core/text/utf.h"
#include "platforms/platform.h"

#include <math.h>
#include <string>
#include <vector>

// A script string from a UTF-8 name; bytes that are not UTF-8 survive as escaped units.
static HostValue nameString(HostContext* cx, const std::string& name) {
    std::u16string w = text::fromUtf8(name.data(), name.size());
    return hostApi->newString(cx, nullptr, reinterpret_cast<const HostChar*>(w.c_str()));
}

static HostValue typeString(HostContext* cx, bool isDir) {
    return hostApi->newString(cx, isDir ? "dir" : "file", nullptr);
}

// The natives that take one path and report whether the system did what they asked.
static int pathOperation(HostContext* cx, unsigned argc, HostValue* argv, HostValue* rval,
                         const char* usage, bool (*operation)(const std::string&)) {
    if (argc < 1) return hostFormatError(cx, usage);
    std::string path;
    if (!filePathArg(cx, argv[0], &path)) return 0;
    *rval = hostBoolean(operation(path));
    return 1;
}

FILE_NATIVE(fileStatus) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "File.status(<path>)");
    platform::PathStatus st;
    std::string path;
    if (!filePathArg(cx, argv[0], &path)) return 0;
    if (!platform::pathStatus(path, &st)) {
        *rval = HOST_FALSE;
        return 1;
    }
    HostObject* obj = hostApi->newObject(cx, nullptr);
    if (!obj) return 0;
    hostPublish(cx, obj, "size", hostApi->newNumber(cx, static_cast<double>(st.size)));
    hostPublish(cx, obj, "time", hostApi->newNumber(cx, static_cast<double>(st.mtime) * 1000.0));
    hostPublish(cx, obj, "type", typeString(cx, st.isDir));
    *rval = hostObject(obj);
    return 1;
}

FILE_NATIVE(fileRemove) {
    (void)self;
    return pathOperation(cx, argc, argv, rval, "File.remove(<path>)", platform::removeFile);
}

// rename(from, to): true when the file or folder has its new name; a file there before
// is replaced in the same step, so a reader finds the old content or the new.
FILE_NATIVE(fileRename) {
    (void)self;
    if (argc < 2) return hostFormatError(cx, "File.rename(<from>, <to>)");
    std::string from, to;
    if (!filePathArg(cx, argv[0], &from) || !filePathArg(cx, argv[1], &to)) return 0;
    *rval = hostBoolean(platform::renamePath(from, to));
    return 1;
}

// setTime(path, time): time in milliseconds, truncated toward zero to whole seconds.
FILE_NATIVE(fileSetTime) {
    (void)self;
    if (argc < 2) return hostFormatError(cx, "File.setTime(<path>, <time>)");
    std::string path;
    if (!filePathArg(cx, argv[0], &path)) return 0;
    double seconds = trunc(hostApi->toNumber(cx, argv[1]) / 1000.0);
    if (hostApi->errorPending(cx)) return 0;
    bool ok = seconds > -9.2e18 && seconds < 9.2e18 && // NaN and what no 64-bit time holds
              platform::setFileTime(path, static_cast<int64_t>(seconds));
    *rval = hostBoolean(ok);
    return 1;
}

FILE_NATIVE(fileCreateDir) {
    (void)self;
    return pathOperation(cx, argc, argv, rval, "File.createDir(<path>)", platform::createDirectory);
}

FILE_NATIVE(fileChangeDir) {
    (void)self;
    return pathOperation(cx, argc, argv, rval, "File.changeDir(<path>)", platform::changeDirectory);
}

// openDir(pattern): [{name, type}, ...] in the system's order; empty when nothing matches.
FILE_NATIVE(fileOpenDir) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "File.openDir(<path>)");
    std::string pattern;
    if (!filePathArg(cx, argv[0], &pattern)) return 0;
    std::vector<platform::DirEntry> entries = platform::listDirectory(pattern);
    HostObject* list = hostApi->newArray(cx, 0, nullptr);
    if (!list) return 0;
    HostValue dir = typeString(cx, true), file = typeString(cx, false);
    for (size_t i = 0; i < entries.size(); i++) {
        HostObject* entry = hostApi->newObject(cx, nullptr);
        if (!entry) return 0;
        hostPublish(cx, entry, "name", nameString(cx, entries[i].name));
        hostPublish(cx, entry, "type", entries[i].isDir ? dir : file);
        HostValue v = hostObject(entry);
        if (!hostApi->setElement(cx, list, static_cast<unsigned>(i), &v)) return 0;
    }
    *rval = hostObject(list);
    return 1;
}

FILE_NATIVE(fileRemoveDir) {
    (void)self;
    return pathOperation(cx, argc, argv, rval, "File.removeDir(<path>)", platform::removeDirectory);
}

// realPath(path): the absolute path with every link resolved, or false when the path names
// nothing (a link that leads nowhere included).
FILE_NATIVE(fileRealPath) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "File.realPath(<path>)");
    std::string path;
    if (!filePathArg(cx, argv[0], &path)) return 0;
    std::string full = platform::resolvedPath(path);
    *rval = full.empty() ? HOST_FALSE : nameString(cx, full);
    return 1;
}

FILE_NATIVE(fileGetCurrentWorkingDir) {
    (void)self, (void)argc, (void)argv;
    *rval = nameString(cx, platform::currentDirectory());
    return 1;
}
