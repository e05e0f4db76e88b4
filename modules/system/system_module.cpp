// The System object: a plain object on the global object (enumerable, writable,
// deletable) carrying the natives of the table below, which scripts may replace.
#include "modules/system/system_module.h"

#include "core/text/utf.h"

static const HostFunctionSpec kSystemFunctions[] = {
    {"evaluate", sysEvaluate, 1, 0, 0},
    {"compile", sysCompile, 2, 0, 0},
    {"openConsole", sysOpenConsole, 1, 0, 0},
    {"print", sysPrint, 1, 0, 0},
    {"getchar", sysGetchar, 0, 0, 0},
    {"getInput", sysGetInput, 0, 0, 0},
    {"exec", sysExec, 1, 0, 0},
    {"open", sysOpen, 1, 0, 0},
    {"createThread", sysCreateThread, 1, 0, 0},
    {"sleep", sysSleep, 1, 0, 0},
    {"createMutex", sysCreateMutex, 0, 0, 0},
    {"destroyMutex", sysDestroyMutex, 1, 0, 0},
    {"lockMutex", sysLockMutex, 1, 0, 0},
    {"unlockMutex", sysUnlockMutex, 1, 0, 0},
    {"gc", sysGc, 0, 0, 0},
    {"exit", sysExit, 1, 0, 0},
    {"loadModule", sysLoadModule, 1, 0, 0},
    {"getSysName", sysGetSysName, 1, 0, 0},
    {"getLocale", sysGetLocale, 1, 0, 0},
    {"getPID", sysGetPID, 0, 0, 0},
    {"getCPULoad", sysGetCPULoad, 0, 0, 0},
    {"getAdminRights", sysGetAdminRights, 0, 0, 0},
    {"shutdown", sysShutdown, 1, 0, 0},
    {"getRegistry", sysGetRegistry, 1, 0, 0},
    {"enumRegistry", sysEnumRegistry, 1, 0, 0},
    {"setRegistry", sysSetRegistry, 1, 0, 0},
    {"delRegistry", sysDelRegistry, 1, 0, 0},
    {"controlService", sysControlService, 2, 0, 0},
    {"createLink", sysCreateLink, 1, 0, 0},
    {"enumProcesses", sysEnumProcesses, 0, 0, 0},
    {"readLine", sysReadLine, 0, 0, 0},
    {nullptr, nullptr, 0, 0, 0},
};

static std::string utf8(const HostChar* s) {
    size_t n = 0;
    while (s && s[n])
        n++;
    return text::toUtf8(s, n);
}

std::string textArg(HostContext* cx, HostValue v) {
    return utf8(hostApi->toChars(cx, v));
}

const HostChar* sourceArg(HostContext* cx, HostValue v, size_t* count) {
    const HostChar* chars = hostApi->toChars(cx, v);
    size_t n = 0;
    if (hostIsString(v))
        n = static_cast<size_t>(hostApi->toLength(cx, v)); // a string converts without effects
    else
        while (chars[n])
            n++;
    *count = n;
    return chars;
}

bool textProperty(HostContext* cx, HostObject* obj, const char* name, std::string* out) {
    const HostChar* s = hostCharsProperty(cx, obj, name);
    if (!s) return false;
    *out = utf8(s);
    return true;
}

HostObject* requestObject(HostContext* cx, HostValue v, const char* what) {
    HostObject* obj = hostToObject(v);
    if (!obj)
        hostApi->reportError(cx, "System: %s is %s", what,
                             hostIsUndefined(v) ? "undefined" : "not an object");
    return obj;
}

void systemModuleInit(HostContext* cx, const ModuleApi* api) {
    hostApi = api;
    HostObject* system = hostApi->newObject(cx, nullptr);
    hostApi->defineProperty(cx, hostApi->getGlobal(cx), "System", hostObject(system), nullptr,
                            nullptr, HOST_ATTR_ENUMERATE);
    hostApi->defineFunctions(cx, system, kSystemFunctions);
}
