// System.loadModule with the test module libraries of build/bin (tests/module); the
// runner's working directory is the build folder. The printed failure lines are checked
// by tests/unit/modules_test.cpp.

// The class is usable by the very next statement.
var loaded = System.loadModule(moduleLibrary("bin/mtest"));
var first = new TestThing("first");

test("a module registers its class and object for the next statement", function () {
    assertEq(loaded, true);
    assertEq(first.name(), "first");
    assertEq(typeof TestThing, "function");
    assertTrue(first instanceof TestThing, "instanceof");
    assertEq(TestThing.name, "TestThing");
    assertEq(TestThing.length, 1);
    assertEq(TestTools.inits(), 1);
    assertTrue(Object.keys(this).indexOf("TestTools") >= 0, "TestTools is enumerable");
});

test("without an argument loadModule is a format error", function () {
    var e = assertThrows(function () { System.loadModule(); });
    assertTrue(e instanceof Error, "an Error");
    assertEq(e.message, "Native function format error: System.loadModule(<path>)");
});

test("libraries that are no modules give false", function () {
    assertEq(System.loadModule(moduleLibrary("bin/no-such-module")), false);
    assertEq(System.loadModule(moduleLibrary("/nonexistent/dir/mtest")), false);
    assertEq(System.loadModule(moduleLibrary("bin/mnoinit")), false);
    // Not a library at all: this very script.
    assertEq(System.loadModule(argv[1]), false);
    // A bare name found nowhere else is the system's library: loaded, without initModule.
    assertEq(System.loadModule(onWindows ? "kernel32.dll" : "libc.so.6"), false);
    assertEq(System.loadModule(""), false);
    // A NUL inside the path does not cut it short to a loadable name.
    assertEq(System.loadModule(moduleLibrary("bin/mtest") + "\u0000.txt"), false);
    assertEq(TestTools.inits(), 1, "no init ran");
});

test("instances keep their own record", function () {
    var a = new TestThing("\u2131\u00e9 a"), b = new TestThing();
    assertEq(a.add(2), 2);
    assertEq(a.add(3.5), 5.5);
    assertEq(b.add(), 1);
    assertEq(a.count, 5.5);
    a.count = 10;
    assertEq(a.add(1), 11);
    assertEq(b.count, 1);
    assertEq(a.name(), "\u2131\u00e9 a");
    assertEq(b.name(), "undefined");
    assertEq(TestThing.prototype.add.length, 1);
});

test("static functions", function () {
    assertEq(TestThing.twice(21), 42);
    assertEq(TestThing.twice("4"), 8);
    assertEq(TestThing.sum([1, 2, 3.5]), 6.5);
    assertEq(TestThing.sum([]), 0);
    var p = TestThing.pair("x", first);
    assertTrue(p instanceof Array, "an array");
    assertEq(p.length, 2);
    assertEq(p[0], "x");
    assertEq(p[1], first);
    // Arguments stay alive while the native waits outside the request.
    var o = { tag: "kept" };
    assertEq(TestThing.wait(5, o), o);
    assertEq(TestThing.wait(0, "s" + 1), "s1");
});

test("a module's wait lets other script threads run", function () {
    moduleCounter = 0;
    moduleStop = false;
    moduleStopped = false;
    var id = System.createThread(
        "while (!moduleStop) { moduleCounter++; TestThing.wait(1); } moduleStopped = true;");
    assertTrue(id > 0, "thread started");
    for (var i = 0; i < 500 && moduleCounter < 2; i++) TestThing.wait(10);
    var seen = moduleCounter;
    TestThing.wait(50);
    assertTrue(moduleCounter > seen, "the thread counted while this one waited");
    moduleStop = true;
    for (i = 0; i < 500 && !moduleStopped; i++) TestThing.wait(10);
    assertTrue(moduleStopped, "the thread ended");
});

test("a module's reportError is a catchable Error blaming the script line", function () {
    var e = assertThrows(function () { first.fail("boom"); });
    assertTrue(e instanceof Error, "an Error");
    assertEq(e.message, "TestThing failed: boom");
    e = assertThrows(function () {
        System.evaluate("m.js", "var t = new TestThing('t');\n\nt.fail('x')");
    });
    assertEq(e.message, "TestThing failed: x");
    assertEq(e.fileName, "m.js");
    assertEq(e.lineNumber, 3);
    e = assertThrows(function () { TestThing.sum(5); });
    assertEq(e.message, "TestThing.sum(<array>)");
    // The constructor without new has no instance to work on.
    e = assertThrows(function () { TestThing("x"); });
    assertEq(e.message, "TestThing must be called with new");
});

test("methods applied to other objects find no record", function () {
    var plain = {};
    var proto = TestThing.prototype;
    var count = Object.getOwnPropertyDescriptor(proto, "count");
    assertEq(proto.name.call(plain), null);
    assertEq(proto.name.call(proto), null);
    assertEq(count.get.call(plain), undefined);
    assertEq(assertThrows(function () { proto.add.call(plain, 1); }).message,
             "TestThing.add: not a TestThing");
    assertEq(assertThrows(function () { count.set.call(proto, 1); }).message,
             "TestThing.count: not a TestThing");
    // An object inheriting from an instance is not that instance.
    var heir = Object.create(first);
    assertEq(heir.name(), null);
    assertEq(assertThrows(function () { heir.add(1); }).message, "TestThing.add: not a TestThing");
    heir = null;
    System.gc();
    assertEq(first.name(), "first");
});

test("the finalizer runs once the instances are unreachable", function () {
    System.gc();
    var before = TestThing.finalized();
    (function () {
        var things = [];
        for (var i = 0; i < 5; i++) things.push(new TestThing("t" + i));
        things[0].add(1);
        things[4].self = things[4]; // a cycle, left to the collector
    })();
    System.gc();
    assertEq(TestThing.finalized() - before, 5);
    // Instances that are still referenced survive.
    assertEq(first.name(), "first");
});

test("relative paths resolve against the working directory", function () {
    var Old = TestThing, old = new TestThing("old");
    // Backslashes are separators; loading again runs initModule again.
    assertEq(System.loadModule(moduleLibrary("bin\\mtest")), true);
    assertEq(TestTools.inits(), 2);
    assertTrue(TestThing !== Old, "the class is registered anew");
    assertEq(new TestThing("new").add(2), 2);
    assertEq(old.add(1), 1);
    // A bare name is a file in the working directory.
    var home = File.getCurrentWorkingDir();
    assertTrue(File.changeDir("bin"), "changeDir");
    try {
        assertEq(System.loadModule(moduleLibrary("mtest")), true);
        assertEq(System.loadModule(moduleLibrary("./mtest")), true);
    } finally {
        File.changeDir(home);
    }
    assertEq(TestTools.inits(), 4);
});

test("the table keeps its word at the edges", function () {
    // Accessors get no key: the getter no argument, the setter the value only.
    var t = new TestThing("args");
    assertEq(t.args, 0);
    t.args = "v";
    assertEq(t.count, 1);
    // Own properties holding undefined are left out, and do not end the list.
    assertEq(TestTools.values({ a: undefined, b: 1, c: undefined, d: "x" }).join(), "1,x");
    // A refused definition is 0 to the native and leaves no exception behind.
    var fixed = Object.defineProperty({}, "k", { value: 5 });
    assertEq(TestTools.define(fixed, "k"), false);
    assertEq(fixed.k, 5);
    assertEq(TestTools.define({}, "k"), true);
    // A native of no class neither reads nor replaces another class's record: the File
    // below is closed by its finalizer as usual.
    var f = new File(argv[1], "rb");
    assertEq(TestTools.record(f), "none");
    assertEq(TestTools.record(t), "none");
    assertEq(TestTools.record({}), "none");
    assertEq(f.read(2).length, 2);
    f = null;
    System.gc();
});

test("an error reported in initModule is an exception of loadModule", function () {
    testInitFails = 1;
    try {
        var e = assertThrows(function () { System.loadModule(moduleLibrary("bin/mtest")); });
        assertEq(e.message, "TestThing: initialisation failed");
    } finally {
        delete testInitFails;
    }
});
