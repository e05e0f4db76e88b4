// The stream operations of File objects: open, close, read, write and seek.
#include "modules/file/file_module.h"

#include "core/text/utf.h"
#include "platforms/platform.h"

#include <algorithm>
#include <string.h>
#include <string>

// The record's fields change under its lock from any thread: each native publishes the
// values it read there, never the fields themselves afterwards.
static void publishPosition(HostContext* cx, HostObject* self, int64_t position) {
    hostPublish(cx, self, "pos", hostApi->newNumber(cx, static_cast<double>(position)));
}

// A path argument as a local path: UTF-16 text to UTF-8, backslashes as separators.
bool filePathArg(HostContext* cx, HostValue v, std::string* path) {
    const HostChar* w = hostApi->toChars(cx, v);
    size_t n = 0;
    while (w[n])
        n++;
    *path = platform::localPath(text::toUtf8(w, n));
    return !hostApi->errorPending(cx); // a toString that threw goes to the caller
}

// Modes the C library defines: r, w or a, then at most one each of "+", "b" and "t".
static bool acceptedMode(const char* mode) {
    if (!mode || !strchr("rwa", mode[0]) || !mode[0]) return false;
    int plus = 0, binary = 0, textual = 0;
    for (const char* p = mode + 1; *p; p++) {
        int* seen = *p == '+' ? &plus : *p == 'b' ? &binary : *p == 't' ? &textual : nullptr;
        if (!seen || (*seen)++) return false;
    }
    return true;
}

FILE_NATIVE(fileOpen) {
    if (argc < 2) return hostFormatError(cx, "File.open(<path>, <mode>)");
    FileRecord* rec = fileRecord(cx, self);
    if (!rec) return 1; // not a File object
    hostPublish(cx, self, "path", argv[0]);
    hostPublish(cx, self, "mode", argv[1]);
    std::string path, mode;
    if (!filePathArg(cx, hostApi->getProperty(cx, self, "path"), &path)) return 0;
    mode = hostApi->toBytes(cx, hostApi->getProperty(cx, self, "mode"));
    if (hostApi->errorPending(cx)) return 0;
    FILE* f = acceptedMode(mode.c_str()) ? platform::openFile(path, mode.c_str()) : nullptr;
    int64_t length, time, position;
    {
        std::lock_guard<std::mutex> hold(rec->lock);
        if (rec->handle) fclose(rec->handle); // an open object is closed before it is reused
        rec->handle = f;
        if (f) {
            int64_t size = 0, mtime = 0;
            platform::streamStatus(f, &size, &mtime);
            rec->length = size;
            rec->time = mtime;
            rec->position = 0;
        }
        length = rec->length, time = rec->time, position = rec->position;
    }
    hostPublish(cx, self, "length", hostApi->newNumber(cx, static_cast<double>(length)));
    hostPublish(cx, self, "time", hostApi->newNumber(cx, static_cast<double>(time) * 1000.0));
    publishPosition(cx, self, position);
    *rval = hostBoolean(f != nullptr);
    return 1;
}

FILE_NATIVE(fileClose) {
    (void)argc, (void)argv, (void)rval;
    FileRecord* rec = fileRecord(cx, self);
    if (!rec) return 1;
    std::lock_guard<std::mutex> hold(rec->lock);
    if (rec->handle) fclose(rec->handle);
    rec->handle = nullptr;
    return 1;
}

// read([length]): up to length bytes (the length the file had when opened by default).
// A negative or non-numeric length reads nothing. The buffer grows with what is actually
// read, so a large count on a short file costs nothing.
FILE_NATIVE(fileRead) {
    FileRecord* rec = fileRecord(cx, self);
    if (!rec) return 1;
    bool whole = !hostPresent(argc, argv, 0);
    int64_t want = whole ? 0 : hostIntArg(cx, argv[0]);
    if (want < 0) want = 0;
    std::string data;
    bool open;
    int64_t position = 0;
    int depth = hostApi->suspendRequest(cx);
    {
        std::lock_guard<std::mutex> hold(rec->lock);
        open = rec->handle != nullptr;
        if (whole) want = rec->length;
        if (open) {
            size_t chunk = 64 * 1024;
            while (static_cast<int64_t>(data.size()) < want) {
                size_t n = static_cast<size_t>(
                    std::min<int64_t>(want - static_cast<int64_t>(data.size()), chunk));
                size_t at = data.size();
                data.resize(at + n);
                size_t got = fread(&data[at], 1, n, rec->handle);
                data.resize(at + got);
                if (got < n) break;
                if (chunk < (1u << 24)) chunk *= 2;
            }
            position = rec->position = ftello(rec->handle);
        }
    }
    hostApi->resumeRequest(cx, depth);
    if (!open) return 1;
    *rval = hostApi->newStringN(cx, data.data(), data.size());
    publishPosition(cx, self, position);
    return 1;
}

FILE_NATIVE(fileWrite) {
    if (argc < 1) return hostFormatError(cx, "File.write(<content>)");
    FileRecord* rec = fileRecord(cx, self);
    if (!rec) return 1;
    size_t size;
    const char* content = hostBytesArg(cx, argv[0], &size);
    if (hostApi->errorPending(cx)) return 0;
    size_t written;
    int64_t position;
    {
        std::lock_guard<std::mutex> hold(rec->lock);
        if (!rec->handle) return 1;
        written = fwrite(content, 1, size, rec->handle);
        position = rec->position = ftello(rec->handle);
    }
    *rval = hostApi->newNumber(cx, static_cast<double>(written));
    publishPosition(cx, self, position);
    return 1;
}

// seek(pos): from the start for pos >= 0, from the end for a negative pos.
FILE_NATIVE(fileSeek) {
    (void)rval;
    if (argc < 1) return hostFormatError(cx, "File.seek(<pos>)");
    FileRecord* rec = fileRecord(cx, self);
    if (!rec) return 1;
    int32_t pos = hostIntArg(cx, argv[0]);
    int64_t position;
    {
        std::lock_guard<std::mutex> hold(rec->lock);
        if (!rec->handle) return 1;
        fseeko(rec->handle, pos, pos >= 0 ? SEEK_SET : SEEK_END);
        position = rec->position = ftello(rec->handle);
    }
    publishPosition(cx, self, position);
    return 1;
}
