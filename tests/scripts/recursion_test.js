// Recursion through natives ends in a catchable InternalError before the C stack runs out, on
// the main thread and on a script thread, in every build (the sanitizer build has much
// larger frames, which a fixed depth count would not cover).

var cases = {
    "an evaluation that evaluates itself": function () {
        global.evalAgain = function () { System.evaluate("again.js", "evalAgain()"); };
        evalAgain();
    },
    "a toString that calls a native on its own object": function () {
        var o = { toString: function () { return File.status(this); } };
        File.status(o);
    },
    "a getter that a native reads, which runs the native again": function () {
        global.selfRef = { get path() { return System.evaluate("get.js", "uneval(selfRef)"); } };
        uneval(selfRef);
    }
};

for (var name in cases) {
    (function (name, fn) {
        test(name, function () {
            var e = assertThrows(fn);
            assertTrue(e instanceof InternalError, "an InternalError: " + e);
            // The script goes on normally, with the stack it had.
            assertEq(System.evaluate("after.js", "6 * 7"), 42);
        });
    })(name, cases[name]);
}

test("on a script thread, too", function () {
    threadResult = "";
    System.createThread("try { deepThread = function () { System.evaluate('d.js', 'deepThread()'); };" +
                        " deepThread(); } catch (e) { threadResult = e.name; }");
    assertTrue(waitUntil(function () { return threadResult !== ""; }), "the thread ended");
    assertEq(threadResult, "InternalError");
});
