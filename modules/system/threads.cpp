// Threads and sleep: createThread and sleep.
#include "modules/system/system_module.h"

#include "platforms/platform.h"

#include <new>
#include <string>

// The entry of a script thread: it owns the source copy. Once the engine is torn down
// the thread stays parked in its request and ends with the process.
static void runThread(void* p) {
    std::u16string* source = static_cast<std::u16string*>(p);
    hostApi->runCharsOnNewContext("runThread", reinterpret_cast<const HostChar*>(source->data()),
                                  source->size());
    delete source;
}

// The argument is source text, evaluated on the new thread and never called: a function
// object gives its text form. Its characters are kept whole, as evaluate keeps them.
SYSTEM_NATIVE(sysCreateThread) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "System.createThread(<function>)");
    size_t count;
    const HostChar* source = sourceArg(cx, argv[0], &count);
    if (hostApi->errorPending(cx)) return 0; // its conversion threw
    std::u16string* copy = nullptr;
    try {
        copy = new std::u16string(reinterpret_cast<const char16_t*>(source), count);
    } catch (const std::bad_alloc&) {
        copy = nullptr;
    }
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
