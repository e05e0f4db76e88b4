// Processes: exec, open and enumProcesses.
#include "modules/system/system_module.h"

#include "core/text/utf.h"
#include "platforms/platform.h"

#include <string>
#include <vector>

// Every argument is converted before the request is left; the wait keeps it left.
SYSTEM_NATIVE(sysExec) {
    (void)self;
    if (argc < 1)
        return hostFormatError(cx,
                               "System.exec(<command>, [directory], [wait], [silent], [useExecV])");
    bool wait = hostPresent(argc, argv, 2) && hostIntArg(cx, argv[2]) != 0;
    bool hasDirectory = hostPresent(argc, argv, 1);
    std::string directory = hasDirectory ? textArg(cx, argv[1]) : std::string();
    // silent and useExecV are converted and have no effect: the child never gets a window.
    for (unsigned i = 3; i < 5; i++)
        if (hostPresent(argc, argv, i)) hostApi->toNumber(cx, argv[i]);
    std::string command = textArg(cx, argv[0]);
    int depth = hostApi->suspendRequest(cx);
    bool started = platform::startProcess(command, hasDirectory ? &directory : nullptr, wait);
    hostApi->resumeRequest(cx, depth);
    *rval = hostBoolean(started);
    return 1;
}

// Any present third argument, whatever its value, asks for elevation.
SYSTEM_NATIVE(sysOpen) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "System.open(<file>, [params], ['runas'])");
    bool elevate = hostPresent(argc, argv, 2);
    std::string file = textArg(cx, argv[0]);
    std::string params = hostPresent(argc, argv, 1) ? textArg(cx, argv[1]) : std::string();
    int depth = hostApi->suspendRequest(cx);
    bool started = platform::openWithDesktop(file, params, elevate);
    hostApi->resumeRequest(cx, depth);
    *rval = hostBoolean(started);
    return 1;
}

// An array of records {name, pid}, enumerable and read-only, without holes.
SYSTEM_NATIVE(sysEnumProcesses) {
    (void)self, (void)argc, (void)argv;
    std::vector<platform::ProcessEntry> list;
    if (!platform::listProcesses(&list)) {
        hostApi->reportError(cx, "Unable to enumerate processes");
        return 0;
    }
    HostObject* array = hostApi->newArray(cx, 0, nullptr);
    if (!array) return 0;
    *rval = hostObject(array);
    const unsigned attrs = HOST_ATTR_ENUMERATE | HOST_ATTR_READONLY;
    unsigned index = 0;
    for (const platform::ProcessEntry& p : list) {
        HostObject* record = hostApi->newObject(cx, nullptr);
        if (!record) return 0;
        std::u16string name = text::fromUtf8(p.name.data(), p.name.size());
        HostValue nameValue =
            hostApi->newString(cx, nullptr, reinterpret_cast<const HostChar*>(name.c_str()));
        hostApi->defineProperty(cx, record, "name", nameValue, nullptr, nullptr, attrs);
        hostApi->defineProperty(cx, record, "pid", hostApi->newNumber(cx, p.pid), nullptr, nullptr,
                                attrs);
        HostValue value = hostObject(record);
        if (!hostApi->setElement(cx, array, index++, &value)) return 0;
    }
    return 1;
}
