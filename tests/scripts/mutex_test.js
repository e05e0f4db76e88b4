// Mutexes held by number: recursion, ownership by thread, timeouts, abandoned and
// destroyed mutexes. Other threads are driven through shared globals; every wait is
// bounded.

// Runs the body of a function on a new thread and returns what it returns, waiting at
// most about 5 s.
var threadResults = {}, threadSeq = 0;
function onThread(body) {
    var key = "r" + ++threadSeq;
    var source = "threadResults." + key + " = (function () {" + body + "})();";
    assertTrue(System.createThread(source) > 0);
    assertTrue(waitUntil(function () { return key in threadResults; }), key + " finished");
    return threadResults[key];
}

// Whether another thread can take the mutex right now (it lets go again at once).
function freeForOthers(m) {
    return onThread("var r = System.lockMutex(" + m + ", 0); if (r) System.unlockMutex(" + m +
                    "); return r;") === 1;
}

test("createMutex gives new positive numbers, never one given before", function () {
    var a = System.createMutex(), b = System.createMutex("ignored", 5);
    assertEq(typeof a, "number");
    assertTrue(a > 0 && b > a, a + " then " + b);
    System.destroyMutex(a);
    var c = System.createMutex();
    assertTrue(c > b, "after destroying " + a + " the next is " + c);
    System.destroyMutex(b);
    System.destroyMutex(c);
});

test("lockMutex returns the number 1 or 0", function () {
    var m = System.createMutex();
    var r = System.lockMutex(m);
    assertEq(typeof r, "number");
    assertEq(r, 1);
    System.unlockMutex(m);
    System.destroyMutex(m);
});

test("the owner may lock again and must unlock as often", function () {
    var m = System.createMutex();
    assertEq(System.lockMutex(m), 1);
    assertEq(System.lockMutex(m, 0), 1);
    assertEq(freeForOthers(m), false);
    System.unlockMutex(m);
    assertEq(freeForOthers(m), false, "held once more");
    System.unlockMutex(m);
    assertEq(freeForOthers(m), true);
    System.destroyMutex(m);
});

test("timeout 0 tries without waiting; null is 0", function () {
    var m = System.createMutex();
    assertEq(System.lockMutex(m), 1);
    var r = onThread("var t = Date.now(); var r = [System.lockMutex(" + m + ", 0), " +
                     "System.lockMutex(" + m + ", null)]; return [r[0], r[1], Date.now() - t];");
    assertEq(r[0], 0);
    assertEq(r[1], 0);
    assertTrue(r[2] < 1000, "took " + r[2] + " ms");
    System.unlockMutex(m);
    // Free: timeout 0 obtains it.
    assertEq(freeForOthers(m), true);
    assertEq(System.lockMutex(m, 0), 1);
    System.unlockMutex(m);
    System.destroyMutex(m);
});

test("a positive timeout waits that long, then gives up", function () {
    var m = System.createMutex();
    assertEq(System.lockMutex(m), 1);
    var r = onThread("var t = Date.now(); var r = System.lockMutex(" + m +
                     ", 60); return [r, Date.now() - t];");
    assertEq(r[0], 0);
    assertTrue(r[1] >= 55, "waited " + r[1] + " ms");
    // A timeout long enough for the owner to let go obtains it.
    gotIt = undefined;
    System.createThread("gotIt = System.lockMutex(" + m + ", 5000);" +
                        "System.unlockMutex(" + m + ");");
    System.sleep(30);
    System.unlockMutex(m);
    assertTrue(waitUntil(function () { return gotIt !== undefined; }));
    assertEq(gotIt, 1);
    System.destroyMutex(m);
});

test("without a timeout, or with undefined, lockMutex waits until the mutex is free", function () {
    var m = System.createMutex();
    assertEq(System.lockMutex(m), 1);
    waited = [];
    System.createThread("waited.push(System.lockMutex(" + m + ")); System.unlockMutex(" + m + ");" +
                        "waited.push(System.lockMutex(" + m + ", undefined)); System.unlockMutex(" +
                        m + ");");
    System.sleep(100);
    assertEq(waited.length, 0, "still waiting");
    System.unlockMutex(m);
    assertTrue(waitUntil(function () { return waited.length === 2; }));
    assertEq(waited.join(), "1,1");
    // An explicit -1 is the same endless wait.
    assertEq(System.lockMutex(m, -1), 1);
    System.unlockMutex(m);
    System.destroyMutex(m);
});

test("only the owner can unlock", function () {
    var m = System.createMutex();
    assertEq(System.lockMutex(m), 1);
    var r = onThread("System.unlockMutex(" + m + "); System.unlockMutex(" + m + ");" +
                     "return System.lockMutex(" + m + ", 0);");
    assertEq(r, 0, "still held after a stranger's unlock");
    System.unlockMutex(m);
    assertEq(freeForOthers(m), true);
    // Unlocking a free mutex changes nothing either.
    System.unlockMutex(m);
    assertEq(System.lockMutex(m, 0), 1);
    assertEq(freeForOthers(m), false);
    System.unlockMutex(m);
    System.destroyMutex(m);
});

test("a mutex left held by a thread that ended passes to the next waiter", function () {
    var m = System.createMutex();
    // Taken twice and never released.
    assertEq(onThread("return System.lockMutex(" + m + ") + System.lockMutex(" + m + ");"), 2);
    assertEq(System.lockMutex(m, 3000), 1, "obtained after its owner ended");
    assertEq(freeForOthers(m), false, "and owned by this thread, once");
    System.unlockMutex(m);
    assertEq(freeForOthers(m), true);
    // Left held again; a try without waiting obtains it too, once the thread is gone (it
    // may still be on its way out when its result arrives).
    onThread("return System.lockMutex(" + m + ");");
    assertTrue(waitUntil(function () { return System.lockMutex(m, 0) === 1; }));
    System.unlockMutex(m);
    System.destroyMutex(m);
});

test("numbers that name no mutex fail at once and are otherwise ignored", function () {
    var m = System.createMutex();
    System.destroyMutex(m);
    var t = Date.now();
    var bad = [0, m, -1, 123456789, "nonsense", null];
    for (var i = 0; i < bad.length; i++) {
        assertEq(System.lockMutex(bad[i]), 0, "lockMutex(" + bad[i] + ")");
        assertEq(System.lockMutex(bad[i], 100), 0);
        System.unlockMutex(bad[i]);
        System.destroyMutex(bad[i]);
    }
    assertTrue(Date.now() - t < 1000, "no waiting");
});

test("destroying a held mutex releases it: waiters fail, the number is dead", function () {
    var m = System.createMutex();
    assertEq(System.lockMutex(m), 1);
    assertEq(System.lockMutex(m), 1);
    waiters = [];
    for (var k = 0; k < 2; k++)
        System.createThread("waiters.push(System.lockMutex(" + m + "));");
    System.sleep(50);
    assertEq(waiters.length, 0);
    System.destroyMutex(m);
    assertTrue(waitUntil(function () { return waiters.length === 2; }), "the waiters returned");
    assertEq(waiters.join(), "0,0");
    assertEq(System.lockMutex(m), 0);
});

test("a mutex destroyed while another thread owns it stays with that owner until released",
     function () {
    var m = System.createMutex();
    ownerStep = 0;
    System.createThread("System.lockMutex(" + m + "); ownerStep = 1;" +
                        "for (var i = 0; i < 500 && ownerStep !== 2; i++) System.sleep(10);" +
                        "System.unlockMutex(" + m + "); ownerStep = 3;");
    assertTrue(waitUntil(function () { return ownerStep === 1; }));
    lateWaiter = undefined;
    System.createThread("lateWaiter = System.lockMutex(" + m + ", 5000);");
    System.sleep(30);
    System.destroyMutex(m);
    assertEq(System.lockMutex(m, 0), 0, "the number is dead for new locks");
    ownerStep = 2;
    assertTrue(waitUntil(function () { return ownerStep === 3 && lateWaiter !== undefined; }));
    assertEq(lateWaiter, 0, "the waiter got a destroyed mutex");
});

test("an exception from converting an argument reaches the caller", function () {
    var m = System.createMutex();
    var bad = { valueOf: function () { throw new Error("no number"); } };
    assertEq(assertThrows(function () { System.lockMutex(bad); }).message, "no number");
    assertEq(assertThrows(function () { System.lockMutex(m, bad); }).message, "no number");
    assertEq(freeForOthers(m), true, "not locked");
    assertEq(System.lockMutex(m), 1);
    assertEq(assertThrows(function () { System.unlockMutex(bad); }).message, "no number");
    assertEq(assertThrows(function () { System.destroyMutex(bad); }).message, "no number");
    System.unlockMutex(m);
    System.destroyMutex(m);
});

test("too few arguments give the format error", function () {
    var cases = [
        [function () { System.lockMutex(); }, "System.lockMutex(<mutex>, [timeout])"],
        [function () { System.unlockMutex(); }, "System.unlockMutex(<mutex>)"],
        [function () { System.destroyMutex(); }, "System.destroyMutex(<mutex>)"],
    ];
    for (var i = 0; i < cases.length; i++)
        assertEq(assertThrows(cases[i][0]).message, "Native function format error: " + cases[i][1]);
});
