// The request lock (slots 27 to 30): one thread at a time in the engine, re-entrant per
// thread, and released by a suspended native so that another thread can run script on a
// context of its own.
#include "core/engine/engine.h"

#include <gtest/gtest.h>

#include "tests/unit/test_support.h"

#include <atomic>
#include <chrono>
#include <string>
#include <string.h>
#include <thread>

namespace {

const ModuleApi* api;

HostContext* mainCx() {
    api = engine::api();
    return testEngine();
}

bool waitFor(const std::atomic<bool>& flag, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!flag && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag;
}

// Long enough for a thread that is not blocked to get into the engine.
constexpr int kGrace = 50;

// Another OS thread: adopts its context, enters a request, evaluates the source, collects
// garbage and leaves.
struct Visitor {
    HostContext* cx;
    std::string source, result;
    std::atomic<bool> entered{false}, done{false};
    std::thread thread;

    Visitor(HostContext* c, const char* src) : cx(c), source(src) {
        thread = std::thread([this] { run(); });
    }
    ~Visitor() { join(); }
    void join() {
        if (thread.joinable()) thread.join();
    }
    void run() {
        engine::adoptContext(cx);
        api->beginRequest(cx);
        entered = true;
        int mark = engine::stackMark(cx);
        HostValue v;
        result = api->evaluateScript(cx, "visitor.js", source.c_str(), &v) ? api->toBytes(cx, v)
                                                                           : "<failed>";
        engine::stackReset(cx, mark);
        engine::collectGarbage(cx);
        api->endRequest(cx);
        done = true;
    }
};

// A context for a visitor, made on the main thread.
HostContext* makeContext(HostContext* cx) {
    api->beginRequest(cx);
    HostContext* other = engine::newContext();
    api->endRequest(cx);
    return other;
}

void dropContext(HostContext* cx, HostContext* other) {
    api->beginRequest(cx);
    engine::freeContext(other);
    api->endRequest(cx);
}

} // namespace

TEST(RequestLock, SuspendReturnsTheDepthAndResumeRestoresIt) {
    HostContext* cx = mainCx();
    HostContext* other = makeContext(cx);
    // Not in a request: nothing to suspend.
    EXPECT_EQ(api->suspendRequest(cx), 0);
    api->resumeRequest(cx, 0);
    {
        Visitor v(other, "'free'");
        EXPECT_TRUE(waitFor(v.done, 5000));
    }

    api->beginRequest(cx);
    api->beginRequest(cx);
    int depth = api->suspendRequest(cx);
    EXPECT_EQ(depth, 2);
    {
        Visitor v(other, "'while suspended'");
        EXPECT_TRUE(waitFor(v.done, 5000));
        v.join();
        EXPECT_EQ(v.result, "while suspended");
    }
    api->resumeRequest(cx, depth);

    // Both levels are back: the lock is held until the second end.
    Visitor v(other, "'after'");
    std::this_thread::sleep_for(std::chrono::milliseconds(kGrace));
    EXPECT_FALSE(v.entered);
    api->endRequest(cx);
    std::this_thread::sleep_for(std::chrono::milliseconds(kGrace));
    EXPECT_FALSE(v.entered);
    api->endRequest(cx);
    EXPECT_TRUE(waitFor(v.done, 5000));
    v.join();
    EXPECT_EQ(v.result, "after");
    // A surplus end does not release anything it does not hold.
    api->endRequest(cx);
    dropContext(cx, other);
}

namespace {

HostContext* gVisitorCx;
int gDepthInNative;
std::string gVisitorResult;

int twice(HostContext* cx, HostObject*, unsigned argc, HostValue* argv, HostValue* rval) {
    *rval = api->newNumber(cx, 2 * (argc ? api->toNumber(cx, argv[0]) : 0));
    return 1;
}

// Blocks on another thread that runs script meanwhile; returns its argument's text as it
// reads after the wait.
int waitForVisitor(HostContext* cx, HostObject*, unsigned argc, HostValue* argv, HostValue* rval) {
    if (!argc) return 0;
    const char* text = api->toBytes(cx, argv[0]);
    std::string copy = text;
    gDepthInNative = api->suspendRequest(cx);
    {
        Visitor v(gVisitorCx, "var fromThread = twice(shared); typeof waitForVisitor");
        v.join();
        gVisitorResult = v.result;
    }
    api->resumeRequest(cx, gDepthInNative);
    // The argument and its text survived the other thread's garbage collection.
    if (copy != text || copy != api->toBytes(cx, argv[0])) return 0;
    *rval = api->newString(cx, text, nullptr);
    return 1;
}

} // namespace

TEST(RequestLock, SuspendedNativeLetsAnotherThreadRunScript) {
    HostContext* cx = mainCx();
    gVisitorCx = makeContext(cx);
    api->beginRequest(cx);
    int mark = engine::stackMark(cx);
    static const HostFunctionSpec fns[] = {{"twice", twice, 1, 0, 0},
                                           {"waitForVisitor", waitForVisitor, 1, 0, 0},
                                           {nullptr, nullptr, 0, 0, 0}};
    ASSERT_TRUE(api->defineFunctions(cx, api->getGlobal(cx), fns));
    HostValue v;
    ASSERT_TRUE(api->evaluateScript(cx, "main.js",
                                    "var shared = 21;"
                                    "[waitForVisitor('caf\\u00e9' + shared), fromThread].join()",
                                    &v));
    EXPECT_STREQ(api->toBytes(cx, v), "caf\xE9"
                                      "21,42");
    EXPECT_EQ(gDepthInNative, 1);
    EXPECT_EQ(gVisitorResult, "function");
    engine::stackReset(cx, mark);
    engine::freeContext(gVisitorCx);
    api->endRequest(cx);
}
