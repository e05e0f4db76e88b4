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
