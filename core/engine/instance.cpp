// The engine instance: one heap (its allocator is heap.cpp), the main context, the
// contexts of other threads, and the request lock that serialises every use of the heap.
#include "core/engine/internal.h"

#include "core/engine/error_subject.h"
#include "core/engine/translate_hook.h"
#include "core/guard/crash_guard.h"
#include "platforms/platform.h"

#include <condition_variable>
#include <mutex>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace engine {

static duk_context* gMain = nullptr;
static duk_context* gFactory = nullptr; // makes and drops the contexts of other threads
static ModuleApi gApi;
// The request lock: first come, first served, so that a thread that suspends and resumes
// in a loop cannot starve the others. Never destroyed: threads may still wait on it while
// the process exits.
class FairLock {
  public:
    void lock() {
        std::unique_lock<std::mutex> hold(m_);
        uint64_t ticket = next_++;
        cv_.wait(hold, [&] { return serving_ == ticket; });
    }
    void unlock() {
        std::lock_guard<std::mutex> hold(m_);
        serving_++;
        cv_.notify_all();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    uint64_t next_ = 0, serving_ = 0;
};
static FairLock& gLock = *new FairLock;

ThreadState& thread() {
    static thread_local ThreadState state;
    return state;
}

namespace {
void fatal(void*, const char* msg) {
    fprintf(stderr, "Fatal engine error: %s\n", msg ? msg : "unknown");
    fflush(stderr);
    abort();
}
} // namespace

bool createInstance(const HostInstaller* installers) {
    if (gMain) return true;
    platform::mapLargeBlocks(); // a growing table leaves no holes behind
    gMain = duk_create_heap(heapAlloc, heapRealloc, heapFree, nullptr, fatal);
    if (!gMain) return false;
    ThreadState& ts = thread();
    ts.ctx = gMain;
    fillApi(&gApi);
    crashguard::install(locateScript);
    HostContext* cx = host(gMain);
    gApi.beginRequest(cx);
    int mark = stackMark(cx);
    duk_push_thread(gMain);
    gFactory = duk_get_context(gMain, -1);
    duk_put_global_literal(gMain, DUK_HIDDEN_SYMBOL("factory"));
    for (const HostInstaller* i = installers; i && i->install; i++) {
        i->install(cx, &gApi);
        stackReset(cx, mark);
    }
    gApi.endRequest(cx);
    return true;
}

// Teardown takes the request lock and keeps it: script threads still running then stay
// parked wherever they next ask for the lock (resuming from a sleep, a wait or a read),
// and end with the process. A thread that runs script without ever suspending holds
// teardown up until it does.
//
// Finalizers run either way (files flushed, databases closed). The sanitizer builds then
// free the heap block by block, so that their leak check sees every block come back; the
// others leave the memory to the process's end, which is much cheaper for a large heap.
#if defined(__has_feature) // Clang
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CAPSULE_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(CAPSULE_SANITIZED)
constexpr bool kFreeHeapAtExit = true;
#else
constexpr bool kFreeHeapAtExit = false;
#endif
static duk_context* gLeftHeap = nullptr; // keeps what is left reachable for leak checkers

void destroyInstance() {
    if (!gMain) return;
    gLock.lock();
    if (kFreeHeapAtExit) {
        duk_destroy_heap(gMain);
    } else {
        duk_host_run_all_finalizers(gMain);
        gLeftHeap = gMain;
    }
    gMain = nullptr;
    gFactory = nullptr;
    thread().ctx = nullptr;
}

const ModuleApi* api() {
    return &gApi;
}
HostContext* mainContext() {
    return host(gMain);
}
HostContext* currentContext() {
    return host(thread().ctx);
}

// Contexts of other threads live in the heap stash under their own address, which keeps
// them reachable while their thread runs.
static void stashKey(duk_context* ctx, void* p) {
    char key[32];
    snprintf(key, sizeof key, "ctx:%p", p);
    duk_push_string(ctx, key);
}

static duk_ret_t makeContext(duk_context* ctx, void* udata) {
    duk_push_heap_stash(ctx);
    duk_push_thread(ctx);
    duk_context* made = duk_get_context(ctx, -1);
    stashKey(ctx, made);
    duk_swap_top(ctx, -2);
    duk_put_prop(ctx, -3);
    *static_cast<duk_context**>(udata) = made;
    return 0;
}

// The contexts of the other threads are the main one and those in the stash.
bool runningElsewhere(duk_context* ctx, duk_idx_t idx) {
    void* fn = duk_get_heapptr(ctx, idx);
    if (!fn) return false;
    if (gMain != ctx && duk_host_on_call_stack(gMain, fn)) return true;
    duk_push_heap_stash(ctx);
    duk_enum(ctx, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
    bool found = false;
    while (!found && duk_next(ctx, -1, 1)) {
        duk_context* other = duk_get_context(ctx, -1); // null for what is not a context
        found = other && other != ctx && duk_host_on_call_stack(other, fn);
        duk_pop_2(ctx);
    }
    duk_pop_2(ctx);
    return found;
}

HostContext* newContext() {
    duk_context* ctx = gFactory ? gFactory : gMain;
    duk_context* made = nullptr;
    duk_safe_call(ctx, makeContext, &made, 0, 1);
    duk_pop(ctx);
    return host(made);
}

void adoptContext(HostContext* cx) {
    thread().ctx = duk(cx);
}

static duk_ret_t dropContext(duk_context* ctx, void* udata) {
    duk_push_heap_stash(ctx);
    stashKey(ctx, udata);
    duk_del_prop(ctx, -2);
    return 0;
}

void freeContext(HostContext* cx) {
    if (thread().ctx == duk(cx)) thread().ctx = nullptr;
    duk_safe_call(gFactory, dropContext, duk(cx), 0, 1);
    duk_pop(gFactory);
}

// What the engine keeps per thread between uses, freed here as the thread's own context
// ends rather than by thread_local destructors: where the C++ runtime emulates
// thread-local storage (MinGW), such a destructor can run on storage already given back,
// which corrupts the C library's heap as script threads end.
static void releaseThreadCaches() {
    releaseSubjectAnswers();
    releaseCompilation();
    duk_host_regexp_release();
}

// A context of the calling thread's own for the call evaluate(cx), inside a request.
template <typename Evaluate> static void onNewContext(Evaluate evaluate) {
    requestBegin(nullptr);
    HostContext* cx = gMain ? newContext() : nullptr;
    if (cx) {
        adoptContext(cx);
        evaluate(cx);
        crashguard::Scope guard(nullptr, cx, false); // a fault here ends the process, no log
        freeContext(cx);
    }
    requestEnd(nullptr);
    if (thread().depth == 0) releaseThreadCaches();
}

void runOnNewContext(const char* fileName, const char* source) {
    onNewContext([&](HostContext* cx) {
        HostValue result;
        gApi.evaluateScript(cx, fileName, source, &result);
    });
}

void runCharsOnNewContext(const char* fileName, const HostChar* source, size_t count) {
    onNewContext([&](HostContext* cx) {
        HostValue result;
        evaluateChars(cx, fileName, source, count, &result);
    });
}

bool errorPending(HostContext*) {
    return thread().pending >= 0;
}

void collectGarbage(HostContext* cx) {
    // Twice: the first pass runs finalizers, the second frees what they released.
    duk_gc(duk(cx), 0);
    duk_gc(duk(cx), 0);
}

int stackMark(HostContext* cx) {
    return duk_get_top(duk(cx));
}
void stackReset(HostContext* cx, int mark) {
    duk_set_top(duk(cx), mark);
}

// The request lock. The depth is per thread; the lock is held while it is above zero.
// Suspending from inside a native also parks the engine's call state (duk_suspend) so
// that other threads can run their own contexts meanwhile.
void requestBegin(HostContext*) {
    ThreadState& ts = thread();
    if (ts.depth++ == 0) gLock.lock();
}

void requestEnd(HostContext*) {
    ThreadState& ts = thread();
    if (ts.depth > 0 && --ts.depth == 0) gLock.unlock();
}

// Values that the table handed to a native after it resumed its request are rooted until
// it suspends again: a native that works in rounds (a row callback, a read loop) must not
// pile up the values of every round on its stack. An error pending from the round stays.
static void dropRoundValues(duk_context* ctx, ThreadState& ts) {
    int mark = ts.resumeMark;
    if (mark < 0 || duk_get_top(ctx) <= mark) return;
    if (ts.pending >= mark) {
        duk_copy(ctx, ts.pending, mark);
        ts.pending = mark++;
    }
    duk_set_top(ctx, mark);
}

int requestSuspend(HostContext* cx) {
    ThreadState& ts = thread();
    int depth = ts.depth;
    if (depth == 0) return 0;
    dropRoundValues(duk(cx), ts);
    duk_suspend(duk(cx), &ts.saved);
    ts.suspended = true;
    ts.depth = 0;
    gLock.unlock();
    return depth;
}

void requestResume(HostContext* cx, int depth) {
    ThreadState& ts = thread();
    if (depth <= 0) return;
    gLock.lock();
    ts.depth = depth;
    if (ts.suspended) {
        ts.suspended = false;
        duk_resume(duk(cx), &ts.saved);
    }
    ts.resumeMark = duk_get_top(duk(cx));
}

} // namespace engine
