// The system's own mutex, under the numbered mutexes of platform.h (mutex_numbers.cpp):
// each platform layer supplies these.
#ifndef CAPSULE_OS_MUTEX_H
#define CAPSULE_OS_MUTEX_H

#include <stdint.h>

namespace platform {

struct OsMutex;
OsMutex* newOsMutex();        // null when none could be made
void freeOsMutex(OsMutex* m); // neither owned nor waited on
// Waits at most timeoutMs (0: only tries, kWaitForever: no limit); true when the calling
// thread obtained it, also when its owner ended holding it.
bool waitOsMutex(OsMutex* m, uint32_t timeoutMs);
void releaseOsMutex(OsMutex* m); // by the thread that obtained it

} // namespace platform

#endif
