// A generator running on one script thread (asleep inside its body) cannot be resumed from
// another: next() and for each there give the TypeError of a generator that resumes itself,
// and the generator goes on where it was once its own thread lets it.

// The generators are made by source text in the language (this file is plain ECMAScript).
function run(source) {
    return System.evaluate("case.js", source);
}

// Its body waits (asleep, the request suspended) until the other thread has tried twice.
run("function patient() { bodyEntered = true;" +
    " waitUntil(function () { return threadSaw.length === 2; }); yield 0; yield 1; }");

test("another thread resuming a running generator gets the same TypeError", function () {
    sharedPatient = patient();
    bodyEntered = false;
    threadSaw = [];
    System.createThread("waitUntil(function () { return bodyEntered; });" +
        "try { threadSaw.push(sharedPatient.next()); } catch (e) { threadSaw.push(e.name + ': ' + e.message); }" +
        "try { for each (var v in sharedPatient) threadSaw.push(v); threadSaw.push('ended'); }" +
        " catch (e) { threadSaw.push(e.name + ': ' + e.message); }");
    assertEq(sharedPatient.next(), 0);
    var own = assertThrows(function () {
        run("var selfResuming = (function () { yield selfResuming.next(); })(); selfResuming.next();");
    });
    var expected = own.name + ": " + own.message;
    assertEq(threadSaw.join("|"), expected + "|" + expected);
    assertEq(sharedPatient.next(), 1, "the generator goes on");
});

test("a generator that another thread left by an exception is done, not running", function () {
    sharedFailing = run("(function () { yield 1; throw new RangeError('out'); })()");
    sharedFailing.next();
    threadDone = false;
    System.createThread("try { sharedFailing.next(); } catch (e) {} threadDone = true;");
    assertTrue(waitUntil(function () { return threadDone; }));
    var e = assertThrows(function () { sharedFailing.next(); });
    assertTrue(e === StopIteration, "StopIteration, got " + e);
});

done();
