// Processes: exec, open and enumProcesses.
#include "modules/system/system_module.h"

#include "core/text/utf.h"
#include "platforms/platform.h"

#include <string>
#include <vector>

#define api gSystemApi

// Every argument is converted before the request is left; the wait keeps it left.
SYSTEM_NATIVE(sysExec) {
    (void)self;
    if (argc < 1)
        return native::formatError(
            api, cx, "System.exec(<command>, [directory], [wait], [silent], [useExecV])");
    bool wait = native::present(argc, argv, 2) && native::intArg(api, cx, argv[2]) != 0;
    bool hasDirectory = native::present(argc, argv, 1);
    std::string directory = hasDirectory ? textArg(cx, argv[1]) : std::string();
    // silent and useExecV are converted and have no effect: the child never gets a window.
    for (unsigned i = 3; i < 5; i++)
        if (native::present(argc, argv, i)) api->toNumber(cx, argv[i]);
    std::string command = textArg(cx, argv[0]);
    int depth = api->suspendRequest(cx);
    bool started = platform::startProcess(command, hasDirectory ? &directory : nullptr, wait);
    api->resumeRequest(cx, depth);
    *rval = hostBoolean(started);
    return 1;
}

// Any present third argument, whatever its value, asks for elevation.
SYSTEM_NATIVE(sysOpen) {
    (void)self;
    if (argc < 1) return native::formatError(api, cx, "System.open(<file>, [params], ['runas'])");
    bool elevate = native::present(argc, argv, 2);
    std::string file = textArg(cx, argv[0]);
    std::string params = native::present(argc, argv, 1) ? textArg(cx, argv[1]) : std::string();
    int depth = api->suspendRequest(cx);
    bool started = platform::openWithDesktop(file, params, elevate);
    api->resumeRequest(cx, depth);
    *rval = hostBoolean(started);
    return 1;
}

// An array of records {name, pid}, enumerable and read-only, without holes.
SYSTEM_NATIVE(sysEnumProcesses) {
    (void)self, (void)argc, (void)argv;
    std::vector<platform::ProcessEntry> list;
    if (!platform::listProcesses(&list)) {
        api->reportError(cx, "Unable to enumerate processes");
        return 0;
    }
    HostObject* array = api->newArray(cx, 0, nullptr);
    if (!array) return 0;
    *rval = hostObject(array);
    const unsigned attrs = HOST_ATTR_ENUMERATE | HOST_ATTR_READONLY;
    unsigned index = 0;
    for (const platform::ProcessEntry& p : list) {
        HostObject* record = api->newObject(cx, nullptr);
        if (!record) return 0;
        std::u16string name = text::fromUtf8(p.name.data(), p.name.size());
        HostValue nameValue =
            api->newString(cx, nullptr, reinterpret_cast<const HostChar*>(name.c_str()));
        api->defineProperty(cx, record, "name", nameValue, nullptr, nullptr, attrs);
        api->defineProperty(cx, record, "pid", api->newNumber(cx, p.pid), nullptr, nullptr, attrs);
        HostValue value = hostObject(record);
        if (!api->setElement(cx, array, index++, &value)) return 0;
    }
    return 1;
}
