// The File class: registration, the constructor, the finalizer and the shared helpers.
#include "modules/file/file_module.h"

FileRecord* fileRecord(HostContext* cx, HostObject* self) {
    return static_cast<FileRecord*>(hostRecord(cx, self));
}

// new File([path], [mode]): a closed object, opened at once when both are given. Called
// without new it attaches nothing (the host refuses a record on a non-File object).
static FILE_NATIVE(fileConstruct) {
    if (!self || hostApi->getPrivate(cx, self)) return 1; // not a new instance: leave it alone
    FileRecord* rec = new FileRecord;
    if (!hostApi->setPrivate(cx, self, rec)) {
        delete rec;
        return 1;
    }
    if (argc == 2) return fileOpen(cx, self, argc, argv, rval) ? 1 : 0;
    return 1;
}

static void fileFinalize(HostContext* cx, HostObject* obj) {
    FileRecord* rec = fileRecord(cx, obj);
    if (!rec) return;
    hostApi->setPrivate(cx, obj, nullptr);
    if (rec->handle) fclose(rec->handle);
    delete rec;
}

static const HostFunctionSpec kMethods[] = {
    {"open", fileOpen, 2, 0, 0},       {"close", fileClose, 0, 0, 0},
    {"read", fileRead, 1, 0, 0},       {"write", fileWrite, 1, 0, 0},
    {"seek", fileSeek, 1, 0, 0},       {"initAFS", fileInitAFS, 0, 0, 0},
    {"extract", fileExtract, 0, 0, 0}, {nullptr, nullptr, 0, 0, 0},
};

static const HostFunctionSpec kStatics[] = {
    {"compress", fileCompress, 1, 0, 0},
    {"uncompress", fileUncompress, 1, 0, 0},
    {"status", fileStatus, 1, 0, 0},
    {"remove", fileRemove, 1, 0, 0},
    {"setTime", fileSetTime, 2, 0, 0},
    {"createDir", fileCreateDir, 1, 0, 0},
    {"changeDir", fileChangeDir, 1, 0, 0},
    {"openDir", fileOpenDir, 1, 0, 0},
    {"removeDir", fileRemoveDir, 1, 0, 0},
    {"getCurrentWorkingDir", fileGetCurrentWorkingDir, 0, 0, 0},
    {"realPath", fileRealPath, 1, 0, 0},
    {"rename", fileRename, 2, 0, 0},
    {nullptr, nullptr, 0, 0, 0},
};

void fileModuleInit(HostContext* cx, const ModuleApi* table) {
    hostApi = table;
    hostApi->defineClass(cx, "File", fileConstruct, 0, nullptr, kMethods, nullptr, kStatics,
                         fileFinalize);
}
