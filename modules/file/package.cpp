// initAFS and extract: the package archive behind a file, read through a File object.
#include "modules/package/afs_reader.h"
#include "modules/file/file_module.h"

#include <string>

// Leaves the file at its start, as every initAFS does that returns normally.
static void rewind(HostContext* cx, HostObject* self, FileRecord* rec) {
    {
        std::lock_guard<std::mutex> hold(rec->lock);
        if (rec->handle) fseeko(rec->handle, 0, SEEK_SET);
        rec->position = 0;
    }
    hostPublish(cx, self, "pos", hostApi->newNumber(cx, 0));
}

// A damaged or missing block leaves no `afs` behind (nor one from an earlier call).
static int noPackage(HostContext* cx, HostObject* self, FileRecord* rec, HostValue* rval) {
    if (!hostIsUndefined(hostApi->getProperty(cx, self, "afs")))
        hostPublish(cx, self, "afs", HOST_UNDEFINED);
    rewind(cx, self, rec);
    *rval = HOST_FALSE;
    return 1;
}

// Gives each entry of the directory, in enumeration order, the offset of its stream as
// `pos`: the streams follow one another in that order.
static bool placeEntries(HostContext* cx, HostObject* dir, double pos) {
    HostValue* entries = hostApi->propertyValues(cx, dir);
    if (!entries) return false;
    for (HostValue* e = entries; !hostIsUndefined(*e); e++) {
        HostObject* entry = hostToObject(*e);
        if (!entry) continue;
        hostPublish(cx, entry, "pos", hostApi->newNumber(cx, pos));
        pos += hostIntProperty(cx, entry, "csize", 0);
    }
    hostApi->release(cx, entries);
    return true;
}

// Publishes `afs` {size, pos, fsd}: fsd is the value of the directory's literal text, each
// entry with the offset of its stream as `pos`. A directory that does not inflate or is
// not the literal of an object gives false.
FILE_NATIVE(fileInitAFS) {
    (void)argc, (void)argv;
    FileRecord* rec = fileRecord(cx, self);
    if (!rec) return 1; // not a File object
    *rval = HOST_FALSE;
    afs::Block block;
    bool open = false, found = false;
    afs::Status status = afs::Status::Damaged;
    std::string text;
    int depth = hostApi->suspendRequest(cx);
    {
        std::lock_guard<std::mutex> hold(rec->lock);
        open = rec->handle != nullptr;
        if (open && (found = afs::locate(rec->handle, &block)))
            status = afs::readDirectory(rec->handle, block, &text);
    }
    hostApi->resumeRequest(cx, depth);
    if (!open) return 1; // a closed object keeps its properties
    if (!found || status == afs::Status::Damaged) return noPackage(cx, self, rec, rval);
    if (status == afs::Status::NoMemory) {
        hostApi->reportError(cx, "AFS: cannot allocate memory");
        return 0;
    }
    // The directory is the text of an object literal, read as data and never run (a
    // package may come from anyone): the engine reads it placing the entries as it goes,
    // or, for names that enumerate out of text order, reads the literal and they are
    // placed here. Any other text is no directory.
    HostValue fsd;
    double first = static_cast<double>(block.start + 8 + block.dirCsize);
    if (!hostApi->readDirectory(cx, text.data(), text.size(), first, &fsd)) {
        if (!hostApi->readLiteral(cx, text.data(), text.size(), &fsd))
            return noPackage(cx, self, rec, rval);
        if (!hostIsObject(fsd) || !placeEntries(cx, hostToObject(fsd), first))
            return noPackage(cx, self, rec, rval);
    }
    HostObject* info = hostApi->newObject(cx, nullptr);
    hostPublish(cx, info, "size", hostApi->newNumber(cx, block.length));
    hostPublish(cx, info, "pos", hostApi->newNumber(cx, static_cast<double>(block.start)));
    hostPublish(cx, info, "fsd", fsd);
    hostPublish(cx, self, "afs", hostObject(info));
    rewind(cx, self, rec);
    *rval = HOST_TRUE;
    return 1;
}

// extract(fileName): the content of one packaged file as a byte string; undefined for an
// empty entry or a closed object. A missing directory or entry, and a stream that does
// not inflate to its recorded size, are errors the caller can catch.
FILE_NATIVE(fileExtract) {
    if (argc < 1) return hostFormatError(cx, "File.extract(<fileName>)");
    FileRecord* rec = fileRecord(cx, self);
    if (!rec || !rec->handle) return 1;
    const char* name = hostApi->toBytes(cx, argv[0]);
    HostObject* info = hostToObject(hostApi->getProperty(cx, self, "afs"));
    HostObject* dir = info ? hostToObject(hostApi->getProperty(cx, info, "fsd")) : nullptr;
    if (!dir) {
        hostApi->reportError(cx, "AFS: no package directory");
        return 0;
    }
    HostObject* entry = hostToObject(hostApi->getProperty(cx, dir, name));
    if (!entry) {
        hostApi->reportError(cx, "AFS: no entry '%s'", name);
        return 0;
    }
    int32_t pos = hostIntProperty(cx, entry, "pos", 0);
    int32_t csize = hostIntProperty(cx, entry, "csize", 0);
    int32_t size = hostIntProperty(cx, entry, "size", 0);
    if (size < 1) return 1;
    std::string data;
    afs::Status status = afs::Status::Damaged;
    int depth = hostApi->suspendRequest(cx);
    {
        std::lock_guard<std::mutex> hold(rec->lock);
        if (rec->handle) status = afs::readEntry(rec->handle, pos, csize, size, &data);
    }
    hostApi->resumeRequest(cx, depth);
    if (status == afs::Status::NoMemory) {
        hostApi->reportError(cx, "AFS: cannot allocate memory");
        return 0;
    }
    if (status != afs::Status::Ok) {
        hostApi->reportError(cx, "AFS: damaged entry '%s'", name);
        return 0;
    }
    *rval = hostApi->newStringN(cx, data.data(), data.size());
    return 1;
}
