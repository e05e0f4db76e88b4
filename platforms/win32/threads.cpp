// Threads (CreateThread), and the Windows mutex object under the numbered mutexes
// (mutex_numbers.cpp).
#include "platforms/os_mutex.h"
#include "platforms/platform.h"

#include <windows.h>

namespace platform {

// ---- threads -------------------------------------------------------------------------

namespace {
struct Start {
    void (*run)(void*);
    void* arg;
};

DWORD WINAPI threadMain(void* p) {
    Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.run(start.arg);
    return 0;
}
} // namespace

// The thread runs on detached: its handle is closed at once.
int startThread(void (*run)(void*), void* arg) {
    Start* start = new Start{run, arg};
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, threadMain, start, 0, &id);
    if (!h) {
        delete start;
        return -1;
    }
    CloseHandle(h);
    return static_cast<int>(id);
}

void yieldThread() {
    Sleep(0);
}

// What GetCurrentThreadStackLimits gives from Windows 8 on, also on Windows 7: the stack
// is one reservation (reserved, guard and committed regions), from the allocation base
// of any address in it to the end of its last region.
StackBounds stackBounds() {
    StackBounds bounds;
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(&region, &region, sizeof region) != sizeof region) return bounds;
    const char* base = static_cast<const char*>(region.AllocationBase);
    const char* end = base;
    for (int i = 0; i < 64; i++) { // a stack has a handful of regions
        if (VirtualQuery(end, &region, sizeof region) != sizeof region ||
            region.AllocationBase != base)
            break;
        end += region.RegionSize;
    }
    if (base && end > base) {
        bounds.low = reinterpret_cast<uintptr_t>(base);
        bounds.size = static_cast<size_t>(end - base);
    }
    return bounds;
}

// ---- the system's mutex ----------------------------------------------------------------

struct OsMutex {
    HANDLE handle;
};

OsMutex* newOsMutex() {
    HANDLE h = CreateMutexW(nullptr, FALSE, nullptr);
    return h ? new OsMutex{h} : nullptr;
}

void freeOsMutex(OsMutex* m) {
    CloseHandle(m->handle);
    delete m;
}

// WAIT_ABANDONED: the owner ended without releasing it; the mutex is ours, its state as it
// was left.
bool waitOsMutex(OsMutex* m, uint32_t timeoutMs) {
    DWORD r = WaitForSingleObject(m->handle, timeoutMs == kWaitForever ? INFINITE : timeoutMs);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void releaseOsMutex(OsMutex* m) {
    ReleaseMutex(m->handle);
}

} // namespace platform
