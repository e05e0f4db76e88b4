// Mutexes: createMutex, destroyMutex, lockMutex and unlockMutex. Scripts hold them by
// number; the platform layer keeps the mutexes themselves.
#include "modules/system/system_module.h"

#include "platforms/platform.h"

SYSTEM_NATIVE(sysCreateMutex) {
    (void)self, (void)argc, (void)argv;
    *rval = hostApi->newNumber(cx, platform::createMutex());
    return 1;
}

SYSTEM_NATIVE(sysDestroyMutex) {
    (void)self, (void)rval;
    if (argc < 1) return hostFormatError(cx, "System.destroyMutex(<mutex>)");
    int mutex = hostIntArg(cx, argv[0]);
    if (hostApi->errorPending(cx)) return 0;
    platform::destroyMutex(mutex);
    return 1;
}

// The timeout is an unsigned count of milliseconds: absent or undefined is -1, the
// endless wait; null converts to 0, which only tries. A mutex that can be had at once is
// taken without leaving the request; only a real wait suspends it.
SYSTEM_NATIVE(sysLockMutex) {
    (void)self;
    if (argc < 1) return hostFormatError(cx, "System.lockMutex(<mutex>, [timeout])");
    uint32_t timeout = hostPresent(argc, argv, 1) ? static_cast<uint32_t>(hostIntArg(cx, argv[1]))
                                                  : platform::kWaitForever;
    int mutex = hostIntArg(cx, argv[0]);
    if (hostApi->errorPending(cx)) return 0; // a conversion threw
    bool locked = platform::lockMutex(mutex, 0);
    if (!locked && timeout != 0) {
        int depth = hostApi->suspendRequest(cx);
        locked = platform::lockMutex(mutex, timeout);
        hostApi->resumeRequest(cx, depth);
    }
    *rval = hostApi->newNumber(cx, locked ? 1 : 0);
    return 1;
}

SYSTEM_NATIVE(sysUnlockMutex) {
    (void)self, (void)rval;
    if (argc < 1) return hostFormatError(cx, "System.unlockMutex(<mutex>)");
    int mutex = hostIntArg(cx, argv[0]);
    if (hostApi->errorPending(cx)) return 0;
    platform::unlockMutex(mutex);
    return 1;
}
