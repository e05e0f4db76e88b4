// Threads (CreateThread) and the mutexes that scripts hold by number.
//
// A mutex is a Windows mutex object (CreateMutexW). Recursion and ownership are counted
// here as well, by a key that no other thread ever gets (thread ids are reused), so that
// a number's owner can give up its whole hold at once when it destroys the number. Numbers
// count up from 1 and are never given out twice, so a stale number never reaches a newer
// mutex.
//
// Lifetime: the table holds each mutex until it is destroyed; a waiter holds the one it
// waits on, and an owner holds the one it owns (the mutex points to itself while owned),
// so that no handle is closed while it is owned or waited on. A destroyed mutex that some
// other thread still owns stays in the table until that owner releases it, so that the
// owner's unlock still works; every later wait on it fails.
#include "platforms/platform.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

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

// ---- mutexes -------------------------------------------------------------------------

namespace {
struct Mutex {
    HANDLE handle = CreateMutexW(nullptr, FALSE, nullptr);
    std::atomic<uint64_t> owner{0}; // key of the owning thread, 0 when free
    std::atomic<bool> destroyed{false};
    uint32_t depth = 0;          // the owner's count of successful waits
    std::shared_ptr<Mutex> self; // set while owned

    ~Mutex() {
        if (handle) CloseHandle(handle);
    }
};
using MutexRef = std::shared_ptr<Mutex>;

// Never destroyed: threads may still use it while the process exits.
struct Table {
    std::mutex m;
    std::unordered_map<int, MutexRef> live;
    int next = 1;
};
Table& table() {
    static Table& t = *new Table;
    return t;
}

uint64_t threadKey() {
    static std::atomic<uint64_t> counter{0};
    thread_local uint64_t key = ++counter;
    return key;
}

MutexRef find(int number) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.m);
    auto it = t.live.find(number);
    return it == t.live.end() ? nullptr : it->second;
}

void forget(int number) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.m);
    t.live.erase(number);
}

// The owner gives up `levels` of its hold (all of them with 0); returns true when the
// mutex is free afterwards.
bool release(Mutex& m, uint32_t levels) {
    if (m.depth > levels && levels) {
        m.depth -= levels;
        return false;
    }
    MutexRef keep = std::move(m.self); // closes the handle, if need be, once released
    m.depth = 0;
    m.owner = 0;
    ReleaseMutex(m.handle);
    return true;
}
} // namespace

int createMutex() {
    auto m = std::make_shared<Mutex>();
    if (!m->handle) return 0;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.m);
    if (t.next == INT32_MAX) return 0; // every number has been given out
    int number = t.next++;
    t.live.emplace(number, std::move(m));
    return number;
}

bool lockMutex(int number, uint32_t timeoutMs) {
    MutexRef m = find(number);
    if (!m || m->destroyed) return false;
    uint64_t me = threadKey();
    if (m->owner == me) {
        if (m->depth == UINT32_MAX) return false;
        m->depth++;
        return true;
    }
    // WAIT_ABANDONED: the owner ended without releasing it; the mutex is ours, its state
    // as it was left.
    DWORD r = WaitForSingleObject(m->handle, timeoutMs == kWaitForever ? INFINITE : timeoutMs);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return false;
    m->owner = me;
    m->depth = 1;
    m->self = m;
    // Destroyed while this thread waited: pass the mutex on and fail.
    if (m->destroyed) {
        if (release(*m, 0)) forget(number);
        return false;
    }
    return true;
}

void unlockMutex(int number) {
    MutexRef m = find(number);
    if (!m || m->owner != threadKey()) return;
    if (release(*m, 1) && m->destroyed) forget(number);
}

// The caller's whole hold goes with the number: no one could release it afterwards.
void destroyMutex(int number) {
    MutexRef m = find(number);
    if (!m) return;
    m->destroyed = true;
    if (m->owner == threadKey()) release(*m, 0);
    // Kept while another thread owns it; that thread forgets it when it lets go.
    if (m->owner == 0) forget(number);
}

} // namespace platform
