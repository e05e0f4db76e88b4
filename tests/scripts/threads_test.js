// Script threads and sleep: createThread runs source text on a thread of its own that
// shares the global object; sleep lets other threads run. Every wait below is bounded.

// Sleeps in steps of 10 ms until cond() holds, for at most about 5 s; returns cond().
test("createThread evaluates source text on a thread that shares the globals", function () {
    sharedX = undefined;
    var id = System.createThread("sharedX = 1; threadSawSystem = typeof System.print;");
    assertEq(typeof id, "number");
    assertTrue(id > 0 && id === Math.floor(id), "positive integer id " + id);
    assertTrue(waitUntil(function () { return sharedX === 1; }), "x set by the thread");
    assertEq(threadSawSystem, "function");
    seenElsewhere = undefined;
    System.createThread("seenElsewhere = sharedX;");
    assertTrue(waitUntil(function () { return seenElsewhere !== undefined; }));
    assertEq(seenElsewhere, 1, "another thread sees it too");
});

test("threads get ids of their own and run side by side", function () {
    arrived = {};
    var ids = {};
    for (var k = 0; k < 4; k++) {
        var id = System.createThread("arrived[" + k + "] = true;");
        assertTrue(id > 0, "thread " + k + " started");
        assertTrue(!ids[id], "id " + id + " given once");
        ids[id] = true;
    }
    assertTrue(waitUntil(function () {
        return arrived[0] && arrived[1] && arrived[2] && arrived[3];
    }), "all four threads ran");
});

test("the source is narrow text and var declarations land on the shared global", function () {
    System.createThread("var declaredInThread = '\u0141'.charCodeAt(0);");
    assertTrue(waitUntil(function () { return typeof declaredInThread !== "undefined"; }));
    assertEq(declaredInThread, 0x141); // U+0141 arrives whole
});

test("a function object is turned into text and evaluated, never called", function () {
    fnCalled = false;
    fnTextRan = false;
    var f = function () { fnCalled = true; };
    f.toString = function () { return "fnTextRan = true;"; };
    assertTrue(System.createThread(f) > 0);
    // The text ran in full, so the thread is done: the function was not called.
    assertTrue(waitUntil(function () { return fnTextRan; }), "text evaluated");
    assertEq(fnCalled, false);

    // A plain function's text form is no runnable program here; it is reported on the
    // thread and its body does not run.
    plainCalled = false;
    assertTrue(System.createThread(function () { plainCalled = true; }) > 0);
    marker = false;
    System.createThread("marker = true");
    assertTrue(waitUntil(function () { return marker; }));
    System.sleep(50);
    assertEq(plainCalled, false);
});

test("an error in a thread stays on that thread", function () {
    afterThrow = false;
    System.createThread("throw new Error('thread failure');");
    System.createThread("null.boom;");
    System.createThread("afterThrow = true;");
    assertTrue(waitUntil(function () { return afterThrow; }));
    // This thread goes on normally and still catches its own errors.
    var e = assertThrows(function () { null.x; });
    assertTrue(e instanceof TypeError);
});

test("a thread can start threads and evaluate nested source", function () {
    nestedDone = false;
    System.createThread(
        "System.createThread(\"nestedDone = System.evaluate('inner', '6 * 7');\");");
    assertTrue(waitUntil(function () { return nestedDone !== false; }));
    assertEq(nestedDone, 42);
});

test("sleep(0) yields and returns", function () {
    var t0 = Date.now();
    for (var i = 0; i < 100; i++) System.sleep(0);
    assertTrue(Date.now() - t0 < 2000, "100 yields took " + (Date.now() - t0) + " ms");
    assertEq(System.sleep(0), undefined);
});

test("sleep(10) lasts about 10 ms and lets other threads run", function () {
    var t0 = Date.now();
    System.sleep(10);
    assertTrue(Date.now() - t0 >= 9, "slept " + (Date.now() - t0) + " ms");

    ticks = 0;
    stopTicking = false;
    System.createThread("while (!stopTicking && ticks < 100000) { ticks++; System.sleep(1); }");
    assertTrue(waitUntil(function () { return ticks >= 3; }), "the other thread ticked");
    var before = ticks;
    System.sleep(30);
    assertTrue(ticks > before, "it ticked while this thread slept");
    stopTicking = true;
});

test("sleep converts its argument to an integer; negative delays other than -1 only yield",
     function () {
    var t0 = Date.now();
    System.sleep(-5);
    System.sleep(-2147483648);
    System.sleep("not a number");
    System.sleep(0.9);
    System.sleep(null);
    assertTrue(Date.now() - t0 < 1000, "returned at once");
    var t1 = Date.now();
    System.sleep("20");
    assertTrue(Date.now() - t1 >= 19, "a numeric text is a delay");
});

test("sleep(-1) sleeps for good", function () {
    pastEndlessSleep = false;
    sleeperStarted = false;
    System.createThread("sleeperStarted = true; System.sleep(-1); pastEndlessSleep = true;");
    assertTrue(waitUntil(function () { return sleeperStarted; }));
    System.sleep(100);
    assertEq(pastEndlessSleep, false);
});

test("an exception from converting the argument reaches the caller", function () {
    var bad = { toString: function () { throw new Error("no text"); } };
    assertEq(assertThrows(function () { System.createThread(bad); }).message, "no text");
    var slow = { valueOf: function () { throw new Error("no number"); } };
    assertEq(assertThrows(function () { System.sleep(slow); }).message, "no number");
});

test("too few arguments give the format error", function () {
    var cases = [
        [function () { System.createThread(); }, "System.createThread(<function>)"],
        [function () { System.sleep(); }, "System.sleep(<msDelay>)"],
    ];
    for (var i = 0; i < cases.length; i++) {
        var e = assertThrows(cases[i][0]);
        assertTrue(e instanceof Error);
        assertEq(e.message, "Native function format error: " + cases[i][1]);
    }
});
