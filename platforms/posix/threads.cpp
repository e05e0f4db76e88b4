// Threads and the mutexes that scripts hold by number.
//
// A mutex is a robust POSIX mutex; recursion and ownership are kept here, by a key that
// no other thread ever gets (kernel thread ids are reused). Numbers count up from 1 and
// are never given out twice, so a stale number never reaches a newer mutex.
//
// Lifetime: the table holds each mutex until it is destroyed; a waiter holds the one it
// waits on, and an owner holds the one it owns (the mutex points to itself while owned),
// so that no POSIX mutex is freed while it is locked or waited on. A destroyed mutex that
// some other thread still owns stays in the table until that owner releases it, so that
// the owner's unlock still works; every later wait on it fails.
#include "platforms/platform.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

// ---- threads -------------------------------------------------------------------------

namespace {
// The start handshake: the new thread publishes its id, then runs on its own.
struct Start {
    void (*run)(void*);
    void* arg;
    std::mutex m;
    std::condition_variable cv;
    int id = 0;
};

void* threadMain(void* p) {
    Start* start = static_cast<Start*>(p);
    void (*run)(void*) = start->run;
    void* arg = start->arg;
    {
        std::lock_guard<std::mutex> hold(start->m);
        start->id = static_cast<int>(gettid());
        start->cv.notify_one();
    } // the creator may free `start` from here on
    run(arg);
    return nullptr;
}
} // namespace

int startThread(void (*run)(void*), void* arg) {
    Start start;
    start.run = run;
    start.arg = arg;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return -1;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t t;
    int r = pthread_create(&t, &attr, threadMain, &start);
    pthread_attr_destroy(&attr);
    if (r != 0) return -1;
    std::unique_lock<std::mutex> hold(start.m);
    start.cv.wait(hold, [&] { return start.id != 0; });
    return start.id;
}

void yieldThread() {
    sched_yield();
}

StackBounds stackBounds() {
    StackBounds bounds;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return bounds;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
        bounds.low = reinterpret_cast<uintptr_t>(low);
        bounds.size = size;
    }
    pthread_attr_destroy(&attr);
    return bounds;
}

// ---- mutexes -------------------------------------------------------------------------

namespace {
struct Mutex {
    pthread_mutex_t pm;
    bool made = false;
    std::atomic<uint64_t> owner{0}; // key of the owning thread, 0 when free
    std::atomic<bool> destroyed{false};
    uint32_t depth = 0;          // the owner's count of successful waits
    std::shared_ptr<Mutex> self; // set while owned

    Mutex() {
        pthread_mutexattr_t attr;
        if (pthread_mutexattr_init(&attr) != 0) return;
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        made = pthread_mutex_init(&pm, &attr) == 0;
        pthread_mutexattr_destroy(&attr);
    }
    ~Mutex() {
        if (made) pthread_mutex_destroy(&pm);
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
    MutexRef keep = std::move(m.self); // frees the mutex, if need be, once it is unlocked
    m.depth = 0;
    m.owner = 0;
    pthread_mutex_unlock(&m.pm);
    return true;
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer's runtime (GCC 12) knows no pthread_mutex_clocklock and loses track of
// a timed lock that returns EOWNERDEAD; its builds poll with trylock, which it follows.
int timedLock(pthread_mutex_t* pm, uint32_t ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int r = pthread_mutex_trylock(pm);
        if (r != EBUSY) return r;
        if (std::chrono::steady_clock::now() >= deadline) return ETIMEDOUT;
        struct timespec step = {0, 1000000L};
        nanosleep(&step, nullptr);
    }
}
#else
// The deadline is on the monotonic clock: setting the system's time does not move it.
int timedLock(pthread_mutex_t* pm, uint32_t ms) {
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }
    return pthread_mutex_clocklock(pm, CLOCK_MONOTONIC, &deadline);
}
#endif
} // namespace

int createMutex() {
    auto m = std::make_shared<Mutex>();
    if (!m->made) return 0;
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
    int r = timeoutMs == kWaitForever ? pthread_mutex_lock(&m->pm)
            : timeoutMs == 0          ? pthread_mutex_trylock(&m->pm)
                                      : timedLock(&m->pm, timeoutMs);
    // The owner ended without releasing it: the mutex is ours, its state as it was left.
    if (r == EOWNERDEAD) r = pthread_mutex_consistent(&m->pm);
    if (r != 0) return false;
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
