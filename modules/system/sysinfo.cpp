// System information: getSysName, getLocale, getPID, getCPULoad, getAdminRights.
#include "modules/system/system_module.h"

#include "platforms/platform.h"

#include <locale.h>
#include <mutex>
#include <stdio.h>
#include <string.h>

// "Linux/6.01.00": the system's name and its version numbers.
SYSTEM_NATIVE(sysGetSysName) {
    (void)self;
    platform::SystemVersion v = platform::systemVersion();
    char name[100];
    snprintf(name, sizeof name, "%s/%d.%02d.%02d", v.name.c_str(), v.major, v.minor, v.patch);
    if (hostPresent(argc, argv, 0))
        *rval = hostBoolean(strstr(name, hostApi->toBytes(cx, argv[0])) != nullptr);
    else
        *rval = hostApi->newString(cx, name, nullptr);
    return 1;
}

// Sets the locale of the whole process (the user's default without an argument) and
// reports it; a name the library rejects leaves the locale as it was.
SYSTEM_NATIVE(sysGetLocale) {
    (void)self;
    setlocale(LC_ALL, hostPresent(argc, argv, 0) ? hostApi->toBytes(cx, argv[0]) : "");
    const char* now = setlocale(LC_ALL, nullptr);
    *rval = hostApi->newString(cx, now ? now : "C", nullptr);
    return 1;
}

SYSTEM_NATIVE(sysGetPID) {
    (void)self, (void)argc, (void)argv;
    *rval = hostApi->newNumber(cx, platform::processId());
    return 1;
}

// The processor load since the previous call of any thread, over all processors. The
// first call takes a first sample and measures over the next 500 ms.
SYSTEM_NATIVE(sysGetCPULoad) {
    (void)self, (void)argc, (void)argv;
    static std::mutex lock;
    static bool ready = false;
    static uint64_t lastBusy = 0, lastTotal = 0;
    int load = -1;
    int depth = hostApi->suspendRequest(cx);
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!ready && platform::processorTimes(&lastBusy, &lastTotal)) {
            platform::sleepMs(500);
            ready = true;
        }
        uint64_t busy, total;
        if (ready && platform::processorTimes(&busy, &total)) {
            uint64_t dt = total - lastTotal, db = busy - lastBusy;
            load = dt ? static_cast<int>((db * 100 + dt / 2) / dt) : 0;
            if (load > 100) load = 100;
            lastBusy = busy;
            lastTotal = total;
        }
    }
    hostApi->resumeRequest(cx, depth);
    if (load >= 0) *rval = hostApi->newNumber(cx, load);
    return 1;
}

SYSTEM_NATIVE(sysGetAdminRights) {
    (void)self, (void)argc, (void)argv;
    int depth = hostApi->suspendRequest(cx);
    bool admin = platform::isAdministrator();
    hostApi->resumeRequest(cx, depth);
    *rval = hostBoolean(admin);
    return 1;
}
