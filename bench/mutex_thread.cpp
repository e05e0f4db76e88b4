// Mutexes and thread start from script against the same work done directly in C++:
// lock/unlock pairs per second through System.lockMutex/unlockMutex on one thread and on
// four script threads, and the time from System.createThread to the new thread's first
// statement. The baselines run in the same process: the platform's mutex table called
// directly, a plain pthread mutex, and std::thread.
#include "core/engine/engine.h"
#include "core/runtime/builtins.h"
#include "core/module_api.h"
#include "platforms/platform.h"

#include <algorithm>
#include <chrono>
#include <pthread.h>
#include <stdio.h>
#include <string>
#include <thread>
#include <vector>

namespace {

const ModuleApi* api;

double nowUs() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// benchNow(): microseconds on the monotonic clock, for scripts.
int benchNow(HostContext* cx, HostObject*, unsigned, HostValue*, HostValue* rval) {
    *rval = api->newNumber(cx, nowUs());
    return 1;
}

const HostFunctionSpec kBench[] = {{"benchNow", benchNow, 0, 0, 0}, {nullptr, nullptr, 0, 0, 0}};

// Evaluates source that ends in a number and returns it.
double evalNumber(HostContext* cx, const std::string& source) {
    int mark = engine::stackMark(cx);
    HostValue v;
    double d = api->evaluateScript(cx, "bench", source.c_str(), &v) ? api->toNumber(cx, v) : -1;
    engine::stackReset(cx, mark);
    return d;
}

// Pairs per second of `threads` threads doing `perThread` lock/unlock pairs each.
template <class Lock, class Unlock>
double nativePairs(int threads, int perThread, Lock lock, Unlock unlock) {
    double t0 = nowUs();
    std::vector<std::thread> pool;
    for (int k = 0; k < threads; k++)
        pool.emplace_back([&] {
            for (int i = 0; i < perThread; i++) {
                lock();
                unlock();
            }
        });
    for (auto& t : pool)
        t.join();
    return threads * static_cast<double>(perThread) / ((nowUs() - t0) / 1e6);
}

double scriptPairs(HostContext* cx, int threads, int perThread) {
    char src[1024];
    if (threads == 1) {
        snprintf(src, sizeof src,
                 "(function () { var m = System.createMutex(), t0 = benchNow();"
                 " for (var i = 0; i < %d; i++) { System.lockMutex(m); System.unlockMutex(m); }"
                 " var us = benchNow() - t0; System.destroyMutex(m); return %d / (us / 1e6); })()",
                 perThread, perThread);
    } else {
        snprintf(
            src, sizeof src,
            "(function () { benchMutex = System.createMutex(); benchDone = 0;"
            " var t0 = benchNow();"
            " for (var k = 0; k < %d; k++) System.createThread('for (var i = 0; i < %d; i++)"
            " { System.lockMutex(benchMutex); System.unlockMutex(benchMutex); } benchDone++;');"
            " while (benchDone < %d) System.sleep(1);"
            " var us = benchNow() - t0; System.destroyMutex(benchMutex);"
            " return %d / (us / 1e6); })()",
            threads, perThread, threads, threads * perThread);
    }
    return evalNumber(cx, src);
}

struct Latency {
    double mean, median;
};

Latency summarise(std::vector<double> v) {
    double sum = 0;
    for (double x : v)
        sum += x;
    std::sort(v.begin(), v.end());
    return {sum / v.size(), v[v.size() / 2]};
}

// From the createThread call to the new thread's first statement, and to the call's return.
void scriptStart(HostContext* cx, int rounds, Latency* first, Latency* returned) {
    std::vector<double> toFirst, toReturn;
    for (int r = 0; r < rounds; r++) {
        double ret = evalNumber(cx, "benchStarted = 0; benchT0 = benchNow();"
                                    "System.createThread('benchStarted = benchNow()');"
                                    "benchNow() - benchT0");
        double at = evalNumber(cx, "while (!benchStarted) System.sleep(0); benchStarted - benchT0");
        toReturn.push_back(ret);
        toFirst.push_back(at);
    }
    *first = summarise(toFirst);
    *returned = summarise(toReturn);
}

Latency nativeStart(int rounds) {
    std::vector<double> toFirst;
    for (int r = 0; r < rounds; r++) {
        double started = 0, t0 = nowUs();
        std::thread t([&] { started = nowUs(); });
        t.join();
        toFirst.push_back(started - t0);
    }
    return summarise(toFirst);
}

} // namespace

int main() {
    const int kPairs = 1000000, kRounds = 300;
    engine::createInstance(kBuiltins);
    api = engine::api();
    HostContext* cx = engine::mainContext();
    api->beginRequest(cx);
    api->defineFunctions(cx, api->getGlobal(cx), kBench);

    pthread_mutex_t plain = PTHREAD_MUTEX_INITIALIZER;
    auto plainLock = [&] { pthread_mutex_lock(&plain); };
    auto plainUnlock = [&] { pthread_mutex_unlock(&plain); };
    int table = platform::createMutex();
    auto tableLock = [&] { platform::lockMutex(table, platform::kWaitForever); };
    auto tableUnlock = [&] { platform::unlockMutex(table); };

    printf("lock/unlock pairs per second (%d pairs per row)\n", kPairs);
    printf("%-34s %14s %14s\n", "", "1 thread", "4 threads");
    printf("%-34s %14.0f %14.0f\n", "System.lockMutex/unlockMutex", scriptPairs(cx, 1, kPairs),
           scriptPairs(cx, 4, kPairs / 4));
    printf("%-34s %14.0f %14.0f\n", "mutex table, called directly",
           nativePairs(1, kPairs, tableLock, tableUnlock),
           nativePairs(4, kPairs / 4, tableLock, tableUnlock));
    printf("%-34s %14.0f %14.0f\n", "pthread_mutex_lock/unlock",
           nativePairs(1, kPairs, plainLock, plainUnlock),
           nativePairs(4, kPairs / 4, plainLock, plainUnlock));
    platform::destroyMutex(table);

    Latency first, returned;
    scriptStart(cx, kRounds, &first, &returned);
    Latency native = nativeStart(kRounds);
    printf("\nthread start, microseconds (%d starts)  %10s %10s\n", kRounds, "mean", "median");
    printf("%-40s %10.1f %10.1f\n", "createThread call returns", returned.mean, returned.median);
    printf("%-40s %10.1f %10.1f\n", "createThread to first statement", first.mean, first.median);
    printf("%-40s %10.1f %10.1f\n", "std::thread to first statement", native.mean, native.median);

    api->endRequest(cx);
    engine::destroyInstance();
    return 0;
}
