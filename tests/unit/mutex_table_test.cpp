// The platform's mutexes held by number, and its thread start, used directly from
// several OS threads: numbering, recursion, ownership, timeouts, abandoned mutexes and
// the lifetime of destroyed ones.
#include "platforms/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Whether another thread can take the mutex now (it lets go again at once).
bool freeForOthers(int m) {
    bool got = false;
    std::thread([&] {
        got = platform::lockMutex(m, 0);
        if (got) platform::unlockMutex(m);
    }).join();
    return got;
}

bool waitFor(const std::atomic<int>& v, int value) {
    for (int i = 0; i < 500 && v != value; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return v == value;
}

} // namespace

TEST(MutexTable, NumbersArePositiveAndNeverGivenTwice) {
    int a = platform::createMutex();
    int b = platform::createMutex();
    EXPECT_GT(a, 0);
    EXPECT_GT(b, a);
    platform::destroyMutex(a);
    int c = platform::createMutex();
    EXPECT_GT(c, b);
    EXPECT_FALSE(platform::lockMutex(a, platform::kWaitForever));
    EXPECT_FALSE(platform::lockMutex(0, platform::kWaitForever));
    EXPECT_FALSE(platform::lockMutex(-5, 0));
    platform::unlockMutex(a); // ignored
    platform::destroyMutex(a);
    platform::destroyMutex(b);
    platform::destroyMutex(c);
}

TEST(MutexTable, OwnerRecursesAndReleasesOncePerLock) {
    int m = platform::createMutex();
    ASSERT_TRUE(platform::lockMutex(m, platform::kWaitForever));
    ASSERT_TRUE(platform::lockMutex(m, 0));
    ASSERT_TRUE(platform::lockMutex(m, 10));
    EXPECT_FALSE(freeForOthers(m));
    platform::unlockMutex(m);
    platform::unlockMutex(m);
    EXPECT_FALSE(freeForOthers(m));
    platform::unlockMutex(m);
    EXPECT_TRUE(freeForOthers(m));
    platform::unlockMutex(m); // not owned: nothing happens
    EXPECT_TRUE(freeForOthers(m));
    platform::destroyMutex(m);
}

TEST(MutexTable, OnlyTheOwnerUnlocks) {
    int m = platform::createMutex();
    ASSERT_TRUE(platform::lockMutex(m, 0));
    std::thread([m] { platform::unlockMutex(m); }).join();
    EXPECT_FALSE(freeForOthers(m));
    platform::unlockMutex(m);
    EXPECT_TRUE(freeForOthers(m));
    platform::destroyMutex(m);
}

TEST(MutexTable, TimedWaitGivesUpAfterItsTimeOrObtainsTheMutex) {
    int m = platform::createMutex();
    ASSERT_TRUE(platform::lockMutex(m, 0));
    bool got = true;
    long took = 0;
    std::thread([&] {
        auto t = Clock::now();
        got = platform::lockMutex(m, 80);
        took = msSince(t);
    }).join();
    EXPECT_FALSE(got);
    EXPECT_GE(took, 79);

    std::atomic<int> result{-1};
    std::thread waiter([&] {
        result = platform::lockMutex(m, 10000);
        if (result) platform::unlockMutex(m);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(result, -1);
    platform::unlockMutex(m);
    waiter.join();
    EXPECT_EQ(result, 1);
    platform::destroyMutex(m);
}

TEST(MutexTable, AbandonedMutexPassesToTheNextWaiter) {
    int m = platform::createMutex();
    std::thread([m] {
        ASSERT_TRUE(platform::lockMutex(m, 0));
        ASSERT_TRUE(platform::lockMutex(m, 0));
    }).join();
    // Waiting while the owner ends, and trying after it ended, both obtain it.
    ASSERT_TRUE(platform::lockMutex(m, 5000));
    EXPECT_FALSE(freeForOthers(m));
    platform::unlockMutex(m);
    EXPECT_TRUE(freeForOthers(m));

    std::atomic<int> step{0};
    std::thread owner([&] {
        platform::lockMutex(m, 0);
        step = 1;
        waitFor(step, 2);
    });
    ASSERT_TRUE(waitFor(step, 1));
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = platform::lockMutex(m, platform::kWaitForever); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    step = 2; // the owner ends holding it
    owner.join();
    waiter.join();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(freeForOthers(m)); // the waiter, too, ended holding it
    platform::destroyMutex(m);
}

TEST(MutexTable, DestroyReleasesTheCallersWholeHoldAndFailsTheWaiters) {
    int m = platform::createMutex();
    ASSERT_TRUE(platform::lockMutex(m, 0));
    ASSERT_TRUE(platform::lockMutex(m, 0));
    std::atomic<int> results[3] = {{-1}, {-1}, {-1}};
    std::thread waiters[3];
    for (int i = 0; i < 3; i++)
        waiters[i] = std::thread([&, i] {
            results[i] = platform::lockMutex(m, i == 0 ? 10000 : platform::kWaitForever);
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    platform::destroyMutex(m);
    for (int i = 0; i < 3; i++) {
        waiters[i].join();
        EXPECT_EQ(results[i], 0) << i;
    }
    EXPECT_FALSE(platform::lockMutex(m, 0));
}

TEST(MutexTable, DestroyedMutexStaysWithAnotherOwnerUntilReleased) {
    int m = platform::createMutex();
    std::atomic<int> step{0};
    std::thread owner([&] {
        platform::lockMutex(m, 0);
        platform::lockMutex(m, 0);
        step = 1;
        waitFor(step, 2);
        platform::unlockMutex(m);
        platform::unlockMutex(m);
    });
    ASSERT_TRUE(waitFor(step, 1));
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = platform::lockMutex(m, platform::kWaitForever); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::destroyMutex(m); // not the owner: releases nothing
    EXPECT_FALSE(platform::lockMutex(m, 0));
    EXPECT_EQ(result, -1);
    step = 2;
    owner.join();
    waiter.join();
    EXPECT_EQ(result, 0);
}

TEST(MutexTable, ContendedIncrementsAreNeverLost) {
    int m = platform::createMutex();
    long counter = 0;
    const int kThreads = 4, kRounds = 5000;
    std::thread threads[kThreads];
    for (auto& t : threads)
        t = std::thread([&] {
            for (int i = 0; i < kRounds; i++) {
                bool got = false;
                if (i % 3 == 0)
                    got = platform::lockMutex(m, platform::kWaitForever);
                else if (i % 3 == 1)
                    got = platform::lockMutex(m, 1000);
                else
                    got =
                        platform::lockMutex(m, 0) || platform::lockMutex(m, platform::kWaitForever);
                if (!got) return;                          // the count then comes out short
                if (i % 5 == 0) platform::lockMutex(m, 0); // nested
                long c = counter;
                if (i % 64 == 0) std::this_thread::yield();
                counter = c + 1;
                if (i % 5 == 0) platform::unlockMutex(m);
                platform::unlockMutex(m);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
    platform::destroyMutex(m);
}

namespace {
struct StartArgs {
    std::atomic<int> tid{0};
    void* seen = nullptr;
};
void recordStart(void* p) {
    StartArgs* a = static_cast<StartArgs*>(p);
    a->seen = p;
    a->tid = static_cast<int>(gettid());
}
} // namespace

TEST(Threads, StartThreadReturnsTheRunningThreadsId) {
    StartArgs a;
    int id = platform::startThread(recordStart, &a);
    ASSERT_GT(id, 0);
    EXPECT_NE(id, static_cast<int>(gettid()));
    for (int i = 0; i < 500 && a.tid == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(a.tid, id);
    EXPECT_EQ(a.seen, &a);
}
