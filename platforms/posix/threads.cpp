// Threads, and the robust POSIX mutex under the numbered mutexes (mutex_numbers.cpp).
#include "platforms/os_mutex.h"
#include "platforms/platform.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

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

namespace {
// The main thread's stack: it ends at the page after the program's name, the last string
// the kernel copies to its top (AT_EXECFN), and may grow to the stack size limit below
// that end, as glibc computes it too; glibc finds the end in /proc/self/maps, which costs
// more than the rest of a short run's start-up. False when that does not hold up.
bool mainStackBounds(StackBounds* bounds) {
    const char* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    struct rlimit limit;
    if (!name || getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > (1u << 30))
        return false;
    uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t end = reinterpret_cast<uintptr_t>(name) + strlen(name) + 1 + sizeof(void*);
    end = (end + page - 1) & ~(page - 1);
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (here >= end || end - here >= limit.rlim_cur) return false;
    bounds->low = end - limit.rlim_cur;
    bounds->size = limit.rlim_cur;
    return true;
}
} // namespace

StackBounds stackBounds() {
    StackBounds bounds;
    if (gettid() == getpid() && mainStackBounds(&bounds)) return bounds;
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

// ---- the system's mutex ----------------------------------------------------------------

struct OsMutex {
    pthread_mutex_t pm;
};

namespace {
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

OsMutex* newOsMutex() {
    OsMutex* m = new OsMutex;
    pthread_mutexattr_t attr;
    bool made = pthread_mutexattr_init(&attr) == 0;
    if (made) {
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        made = pthread_mutex_init(&m->pm, &attr) == 0;
        pthread_mutexattr_destroy(&attr);
    }
    if (made) return m;
    delete m;
    return nullptr;
}

void freeOsMutex(OsMutex* m) {
    pthread_mutex_destroy(&m->pm);
    delete m;
}

bool waitOsMutex(OsMutex* m, uint32_t timeoutMs) {
    int r = timeoutMs == kWaitForever ? pthread_mutex_lock(&m->pm)
            : timeoutMs == 0          ? pthread_mutex_trylock(&m->pm)
                                      : timedLock(&m->pm, timeoutMs);
    // The owner ended without releasing it: the mutex is ours, its state as it was left.
    if (r == EOWNERDEAD) r = pthread_mutex_consistent(&m->pm);
    return r == 0;
}

void releaseOsMutex(OsMutex* m) {
    pthread_mutex_unlock(&m->pm);
}

} // namespace platform
