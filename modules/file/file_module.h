// The File class: its record, its natives (one group per file) and the helpers they share.
// A built-in module: like a module library it reaches the engine through the table alone
// (core/module_api.h); it may include the table's headers, core/text/, modules/package/
// and the platform layer.
#ifndef CAPSULE_FILE_MODULE_H
#define CAPSULE_FILE_MODULE_H

#include "core/module_api.h"
#include "core/module_helpers.h"

#include <mutex>
#include <stdint.h>
#include <stdio.h>
#include <string>

// Defines the File class (start-up's list installs it like a module library).
void fileModuleInit(HostContext* cx, const ModuleApi* api);

// The private record of a File object. The lock keeps a stream alive while a thread
// works on it with its request suspended, so that another thread cannot close it then.
struct FileRecord {
    FILE* handle = nullptr;
    int64_t position = 0;
    int64_t length = 0;
    int64_t time = 0; // seconds since 1970
    std::mutex lock;
};

// The record of a File object, or null for anything else.
FileRecord* fileRecord(HostContext* cx, HostObject* self);
// A path argument as a local path: UTF-16 text to UTF-8, backslashes as separators.
bool filePathArg(HostContext* cx, HostValue v, std::string* path);

#define FILE_NATIVE(name)                                                                          \
    int name(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval)

// Stream operations.
FILE_NATIVE(fileOpen);
FILE_NATIVE(fileClose);
FILE_NATIVE(fileRead);
FILE_NATIVE(fileWrite);
FILE_NATIVE(fileSeek);
// The package archive.
FILE_NATIVE(fileInitAFS);
FILE_NATIVE(fileExtract);
// Compression.
FILE_NATIVE(fileCompress);
FILE_NATIVE(fileUncompress);
// File-system functions.
FILE_NATIVE(fileStatus);
FILE_NATIVE(fileRemove);
FILE_NATIVE(fileRename);
FILE_NATIVE(fileSetTime);
FILE_NATIVE(fileCreateDir);
FILE_NATIVE(fileChangeDir);
FILE_NATIVE(fileOpenDir);
FILE_NATIVE(fileRemoveDir);
FILE_NATIVE(fileGetCurrentWorkingDir);
FILE_NATIVE(fileRealPath);

#endif
