// The System object's natives, one group per file. A built-in module: like a module
// library it reaches the engine through the table alone (core/module_api.h); it may
// include the table's headers, core/text/, core/guard/, modules/package/ and the platform
// layer.
#ifndef CAPSULE_SYSTEM_MODULE_H
#define CAPSULE_SYSTEM_MODULE_H

#include "core/module_api.h"
#include "core/module_helpers.h"

#include <string>

// Defines the global System object (start-up's list installs it like a module library).
void systemModuleInit(HostContext* cx, const ModuleApi* api);

#define SYSTEM_NATIVE(name)                                                                        \
    int name(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval)

// A value as wide text, in the platform's encoding (UTF-8).
std::string textArg(HostContext* cx, HostValue v);
// A value as source text for the compiler: String(v) as UTF-16, every character kept,
// and its length in *count (a string's whole length; another value's text up to a NUL).
const HostChar* sourceArg(HostContext* cx, HostValue v, size_t* count);
// obj[name] the same way; false, and *out left alone, when it is undefined.
bool textProperty(HostContext* cx, HostObject* obj, const char* name, std::string* out);
// The request object of a native (regRequest, serviceConfig, link): null with the error
// "System: <what> is undefined" (or "... is not an object") reported.
HostObject* requestObject(HostContext* cx, HostValue v, const char* what);

// Console and evaluation.
SYSTEM_NATIVE(sysEvaluate);
SYSTEM_NATIVE(sysCompile);
SYSTEM_NATIVE(sysOpenConsole);
SYSTEM_NATIVE(sysPrint);
SYSTEM_NATIVE(sysGetchar);
SYSTEM_NATIVE(sysGetInput);
SYSTEM_NATIVE(sysGc);
SYSTEM_NATIVE(sysExit);
// Native module libraries.
SYSTEM_NATIVE(sysLoadModule);
// The library that a script's path names (path in UTF-8; key: the same path as the
// package names its files), loaded; null with the reason (module_files.cpp).
void* loadModuleLibrary(HostContext* cx, const std::string& path, const std::string& key,
                        std::string* reason);
// Threads, sleep and mutexes.
SYSTEM_NATIVE(sysCreateThread);
SYSTEM_NATIVE(sysSleep);
SYSTEM_NATIVE(sysCreateMutex);
SYSTEM_NATIVE(sysDestroyMutex);
SYSTEM_NATIVE(sysLockMutex);
SYSTEM_NATIVE(sysUnlockMutex);
// System information.
SYSTEM_NATIVE(sysGetSysName);
SYSTEM_NATIVE(sysGetLocale);
SYSTEM_NATIVE(sysGetPID);
SYSTEM_NATIVE(sysGetCPULoad);
SYSTEM_NATIVE(sysGetAdminRights);
// Processes.
SYSTEM_NATIVE(sysExec);
SYSTEM_NATIVE(sysOpen);
SYSTEM_NATIVE(sysEnumProcesses);
// Power and shortcuts.
SYSTEM_NATIVE(sysShutdown);
SYSTEM_NATIVE(sysCreateLink);
// Registry.
SYSTEM_NATIVE(sysGetRegistry);
SYSTEM_NATIVE(sysEnumRegistry);
SYSTEM_NATIVE(sysSetRegistry);
SYSTEM_NATIVE(sysDelRegistry);
// Services.
SYSTEM_NATIVE(sysControlService);
// A whole line of standard input, after a prompt (line_input.cpp).
SYSTEM_NATIVE(sysReadLine);

#endif
