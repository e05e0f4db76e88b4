// Eight script threads and this one, for about three seconds: garbage, collections,
// sleeps, nested evaluations, and read-modify-write updates of shared counters under
// shared mutexes that span suspensions. No update may be lost. tools/test.sh also runs
// this file under ThreadSanitizer.

var stress = {
    deadline: Date.now() + 3000,
    outer: System.createMutex(), // guards `counter`; taken before `inner`
    inner: System.createMutex(), // guards `counter2`
    counter: 0,
    counter2: 0,
    finished: 0,
    results: [],
    problems: [],
};

// One worker's loop; returns how often it added to each counter.
function stressWork() {
    var mine = 0, mine2 = 0, junk = [];
    for (var i = 1; Date.now() < stress.deadline; i++) {
        junk.push({ n: i, text: "item " + i + new Array(20).join("."), list: [i, [i]] });
        if (junk.length > 100) junk = [];
        if (i % 40 === 0) System.gc();

        if (System.lockMutex(stress.outer) !== 1) {
            stress.problems.push("outer lock failed");
            continue;
        }
        var c = stress.counter;
        if (i % 3 === 0) System.sleep(0); // others run while this thread is in the section
        stress.counter = c + 1;
        mine++;
        if (i % 7 === 0) {
            // Nested source: takes the held mutex again, then the inner one, and sleeps.
            var n = System.evaluate("stress-nested",
                "(function () {" +
                "  var got = System.lockMutex(stress.outer, 0) +" +
                "            System.lockMutex(stress.inner, 2000);" +
                "  if (got === 2) {" +
                "    var d = stress.counter; System.sleep(1); stress.counter = d + 1;" +
                "    stress.counter2++; System.unlockMutex(stress.inner); }" +
                "  System.unlockMutex(stress.outer);" +
                "  return got === 2 ? 1 : 0;" +
                "})();");
            if (n !== 1) stress.problems.push("nested locks failed");
            mine += n;
            mine2 += n;
        }
        System.unlockMutex(stress.outer);

        if (i % 5 === 0) {
            if (System.lockMutex(stress.inner, 2000) === 1) {
                var e = stress.counter2;
                System.sleep(0);
                stress.counter2 = e + 1;
                mine2++;
                System.unlockMutex(stress.inner);
            } else {
                stress.problems.push("inner lock timed out");
            }
            System.sleep(1);
        }
    }
    return [mine, mine2];
}

test("threads and mutexes under load lose no update", function () {
    var threads = 8;
    for (var k = 0; k < threads; k++) {
        var id = System.createThread(
            "(function () { var r = stressWork();" + // locals: other threads share the globals
            "  System.lockMutex(stress.outer); stress.results.push(r); stress.finished++;" +
            "  System.unlockMutex(stress.outer); })();");
        assertTrue(id > 0, "thread " + k + " started");
    }
    var own = stressWork();
    for (var i = 0; i < 1000 && stress.finished < threads; i++) System.sleep(10);
    assertEq(stress.finished, threads, "threads finished");
    assertEq(stress.problems.join(), "");

    var sum = own[0], sum2 = own[1];
    for (var j = 0; j < stress.results.length; j++) {
        assertTrue(stress.results[j][0] > 0, "thread " + j + " made progress");
        sum += stress.results[j][0];
        sum2 += stress.results[j][1];
    }
    assertEq(stress.counter, sum, "counter");
    assertEq(stress.counter2, sum2, "counter2");
    System.gc();
});
