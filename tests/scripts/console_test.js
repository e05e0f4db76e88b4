// System.print, System.evaluate and the conventions of System's natives.

test("print without an argument is a format error", function () {
    var e = assertThrows(function () { System.print(); });
    assertTrue(e instanceof Error, "an Error");
    assertEq(e.message, "Native function format error: System.print(<msg>)");
});

test("print of undefined prints the text", function () {
    assertEq(System.print(undefined), undefined);
});

test("evaluate returns the completion value", function () {
    assertEq(System.evaluate("x.js", "1+2"), 3);
    assertEq(System.evaluate("x.js", ""), undefined);
    assertEq(System.evaluate("x.js", "'a' + 'b'"), "ab");
});

test("evaluate of a function declaration defines it globally", function () {
    assertEq(System.evaluate("f.js", "function evaluatedFn(a) { return a * 2; }"), undefined);
    assertEq(typeof evaluatedFn, "function");
    assertEq(evaluatedFn(21), 42);
    // Variables land on the global object too, not in the caller's scope.
    (function () {
        System.evaluate("v.js", "var evaluatedVar = 7;");
    })();
    assertEq(this.evaluatedVar, 7);
});

test("evaluate passes a thrown value to the caller", function () {
    assertEq(assertThrows(function () { System.evaluate("t.js", "throw 5"); }), 5);
    var o = { tag: 1 };
    this.thrownObject = o;
    assertEq(assertThrows(function () { System.evaluate("t.js", "throw thrownObject"); }), o);
});

test("evaluate with one argument is a format error", function () {
    var e = assertThrows(function () { System.evaluate("x.js"); });
    assertEq(e.message,
             "Native function format error: System.evaluate(<script file name>, <script source>)");
    // Nothing was evaluated: the format error comes before any conversion.
    var converted = false;
    assertThrows(function () {
        System.evaluate({ toString: function () { converted = true; return "y.js"; } });
    });
    assertEq(converted, false, "argument converted");
});

test("a syntax error names the file and line", function () {
    var e = assertThrows(function () { System.evaluate("broken.js", "var a = 1;\nvar b = 2;\nvar = ;\n"); });
    assertTrue(e instanceof SyntaxError, "a SyntaxError: " + e);
    assertEq(e.lineNumber, 3);
    assertEq(e.fileName, "broken.js");
});

test("errors of nested evaluations propagate outward", function () {
    var inner = "\n\nthrow new RangeError('deep')";
    var middle = "System.evaluate('inner.js', " + JSON.stringify(inner) + ")";
    var e = assertThrows(function () { System.evaluate("outer.js", middle); });
    assertTrue(e instanceof RangeError, "a RangeError: " + e);
    assertEq(e.message, "deep");
    assertEq(e.fileName, "inner.js");
    assertEq(e.lineNumber, 3);
    // Caught in the middle, the error stops there.
    var r = System.evaluate("outer.js",
        "try { System.evaluate('inner.js', 'throw 1') } catch (x) { x + 1 }");
    assertEq(r, 2);
    // An error from a native inside the nested source blames that source's line.
    e = assertThrows(function () { System.evaluate("n.js", "\nSystem.print()"); });
    assertEq(e.message, "Native function format error: System.print(<msg>)");
    assertEq(e.fileName, "n.js");
    assertEq(e.lineNumber, 2);
});

test("evaluate takes its texts as narrow text", function () {
    // A character above U+00FF arrives whole: U+2131 is a letter, so a name.
    assertEq(System.evaluate("x.js", "var \u2131 = 1; \u2131 + 1"), 2);
    assertEq(System.evaluate("x.js", "'\u00e9'"), "\u00e9");
});

test("System's natives are hidden, script properties are not", function () {
    var natives = ["evaluate", "openConsole", "print", "getchar", "getInput", "gc", "exit",
                   "getSysName", "getLocale", "getPID", "getCPULoad", "getAdminRights"];
    System.addedByScript = 1;
    var names = [];
    for (var k in System) names.push(k);
    natives.forEach(function (name) {
        assertEq(typeof System[name], "function", name);
        assertEq(names.indexOf(name), -1, name + " listed");
    });
    assertTrue(names.indexOf("addedByScript") >= 0, "added property listed");
    delete System.addedByScript;
    // The natives are writable and deletable: scripts may wrap them.
    var original = System.gc;
    System.gc = function () { return "wrapped"; };
    assertEq(System.gc(), "wrapped");
    assertTrue(delete System.gc, "delete");
    assertEq(System.gc, undefined);
    System.gc = original;
});

test("declared argument counts become length", function () {
    assertEq(System.print.length, 1);
    assertEq(System.evaluate.length, 1);
    assertEq(System.exit.length, 1);
    assertEq(System.getCPULoad.length, 0);
    assertEq(System.getchar.length, 0);
});

test("gc returns undefined", function () {
    var garbage = [];
    for (var i = 0; i < 1000; i++) garbage.push({ i: i });
    garbage = null;
    assertEq(System.gc(), undefined);
    assertEq(System.gc(1, 2), undefined);
});

// On Windows openConsole makes a console; output that was redirected (as the test runner's
// is) stays where it goes, which the tally line below shows. Its events come from the
// console alone.
if (onWindows) test("openConsole keeps redirected output", function () {
    System.openConsole();
    System.openConsole(1, 2); // again, and arguments ignored
    assertEq(System.print("after openConsole"), undefined);
});

// After openConsole, the console's signals reach System.control on a thread of their own:
// interrupt and quit as "CONTROL_STOP", power failure as a shutdown, and the process goes
// on. Hangup and terminate end it (tests/unit/console_events_test.cpp).
if (!onWindows) test("console signals call System.control", function () {
    var seen = [];
    System.control = function (name) { seen.push(name); };
    System.openConsole();
    var signals = ["INT", "QUIT", "PWR"];
    for (var i = 0; i < signals.length; i++)
        assertTrue(System.exec("kill -" + signals[i] + " " + System.getPID(), undefined, 1), signals[i]);
    assertTrue(waitUntil(function () { return seen.length === 3; }), "three events, got " + seen);
    assertEq(seen.sort().join(), "CONTROL_SHUTDOWN,CONTROL_STOP,CONTROL_STOP");
    delete System.control;
    assertTrue(System.exec("kill -INT " + System.getPID(), undefined, 1), "without a handler");
    System.sleep(50);
});

done();
