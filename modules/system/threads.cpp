// Threads and sleep: createThread and sleep.
#include "modules/system/system_module.h"

#include "platforms/platform.h"

#include <new>
#include <string>

// The entry of a script thread: it owns the source copy. Once the engine is torn down
// the thread stays parked in its request and ends with the process.
static void runThread(void* p) {
    std::string* source = static_cast<std::string*>(p);
    hostApi->runOnNewContext("runThread", source->c_str());
    delete source;
}

// The argument is source text, evaluated on the new thread and never called: a function
// object gives its text form.
SYSTEM_NATIVE(sysCreateThread) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "System.createThread(<function>)");
    const char* source = hostApi->toBytes(cx, argv[0]);
    if (hostApi->errorPending(cx)) return 0; // its conversion threw
    std::string* copy = new (std::nothrow) std::string(source);
    int id = -1;
    if (copy) {
        int depth = hostApi->suspendRequest(cx);
        id = platform::startThread(runThread, copy);
        hostApi->resumeRequest(cx, depth);
        if (id < 0) delete copy;
    }
    *rval = hostApi->newNumber(cx, id);
    return 1;
}

// -1 sleeps for good, as the infinite wait it stands for elsewhere; any other negative
// delay (a deadline already passed, or a value that is no number) counts as 0 and only
// yields, rather than the weeks that its unsigned reading would give.
SYSTEM_NATIVE(sysSleep) {
    (void)self, (void)rval;
    if (argc < 1) return hostFormatError(cx, "System.sleep(<msDelay>)");
    int32_t ms = hostIntArg(cx, argv[0]);
    if (hostApi->errorPending(cx)) return 0;
    int depth = hostApi->suspendRequest(cx);
    if (ms == -1) {
        for (;;)
            platform::sleepMs(3600 * 1000);
    }
    if (ms > 0)
        platform::sleepMs(static_cast<unsigned>(ms));
    else
        platform::yieldThread();
    hostApi->resumeRequest(cx, depth);
    return 1;
}
