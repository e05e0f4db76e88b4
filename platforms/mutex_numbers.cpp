// The mutexes that scripts hold by number, over the system's own mutex (os_mutex.h).
//
// Recursion and ownership are kept here, by a key that no other thread ever gets (system
// thread ids are reused), so that an owner can give up its whole hold at once. Numbers
// count up from 1 and are never given out twice, so a stale number never reaches a newer
// mutex.
//
// Lifetime: the table holds each mutex until it is destroyed; a waiter holds the one it
// waits on, and an owner holds the one it owns (the mutex points to itself while owned),
// so that no system mutex is freed while it is locked or waited on. A destroyed mutex that
// some other thread still owns stays in the table until that owner releases it, so that
// the owner's unlock still works; every later wait on it fails.
#include "platforms/os_mutex.h"
#include "platforms/platform.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

namespace {
struct Mutex {
    OsMutex* os = newOsMutex();
    std::atomic<uint64_t> owner{0}; // key of the owning thread, 0 when free
    std::atomic<bool> destroyed{false};
    uint32_t depth = 0;          // the owner's count of successful waits
    std::shared_ptr<Mutex> self; // set while owned

    ~Mutex() {
        if (os) freeOsMutex(os);
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

MutexRef find(int handle) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.m);
    auto it = t.live.find(handle);
    return it == t.live.end() ? nullptr : it->second;
}

void forget(int handle) {
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.m);
    t.live.erase(handle);
}

// The owner gives up `levels` of its hold (all of them with 0); returns true when the
// mutex is free afterwards.
bool release(Mutex& m, uint32_t levels) {
    if (m.depth > levels && levels) {
        m.depth -= levels;
        return false;
    }
    MutexRef keep = std::move(m.self); // frees the mutex, if need be, once released
    m.depth = 0;
    m.owner = 0;
    releaseOsMutex(m.os);
    return true;
}

} // namespace

int createMutex() {
    auto m = std::make_shared<Mutex>();
    if (!m->os) return 0;
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.m);
    if (t.next == INT32_MAX) return 0; // every number has been given out
    int handle = t.next++;
    t.live.emplace(handle, std::move(m));
    return handle;
}

bool lockMutex(int handle, uint32_t timeoutMs) {
    MutexRef m = find(handle);
    if (!m || m->destroyed) return false;
    uint64_t me = threadKey();
    if (m->owner == me) {
        if (m->depth == UINT32_MAX) return false;
        m->depth++;
        return true;
    }
    // A mutex that its ended owner left held is ours, its state as it was left.
    if (!waitOsMutex(m->os, timeoutMs)) return false;
    m->owner = me;
    m->depth = 1;
    m->self = m;
    // Destroyed while this thread waited: pass the mutex on and fail.
    if (m->destroyed) {
        if (release(*m, 0)) forget(handle);
        return false;
    }
    return true;
}

void unlockMutex(int handle) {
    MutexRef m = find(handle);
    if (!m || m->owner != threadKey()) return;
    if (release(*m, 1) && m->destroyed) forget(handle);
}

// The caller's whole hold goes with the number: no one could release it afterwards.
void destroyMutex(int handle) {
    MutexRef m = find(handle);
    if (!m) return;
    m->destroyed = true;
    if (m->owner == threadKey()) release(*m, 0);
    // Kept while another thread owns it; that thread forgets it when it lets go (the
    // sequentially consistent flags make sure that one of the two sees the other).
    if (m->owner == 0) forget(handle);
}

} // namespace platform
