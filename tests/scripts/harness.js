// A small harness for script tests: test(name, fn) runs a case, done() prints the tally
// and ends the process with exit code 0 only when every case passed.
var passed = 0, failed = 0;

// Where the Windows form of a facility differs from the Linux one, tests ask for the system.
var onWindows = System.getSysName("Windows");
var pathSeparator = onWindows ? "\\" : "/";
// A module library's file name: .dll files on Windows, .so files on Linux.
function moduleLibrary(name) {
    return name + (onWindows ? ".dll" : ".so");
}

// A Socket of the type (socket module) bound to 127.0.0.1 on a free port, its `port`;
// setup(s), when given, prepares each new socket before its bind (a TLS key, say).
function listenLoopback(type, setup) {
    for (var i = 0; i < 50; i++) {
        var s = new Socket(type);
        if (setup) setup(s);
        try {
            s.bind("127.0.0.1", 20000 + Math.floor(Math.random() * 40000));
            return s;
        } catch (e) {
            if (String(e.message).indexOf("Bind error") < 0) throw e;
        }
    }
    fail("no free port");
}

function fail(message) {
    throw new Error(message);
}

function show(v) {
    return typeof v === "string" ? JSON.stringify(v) : String(v);
}

function assertEq(actual, expected, what) {
    if (actual !== expected && !(actual !== actual && expected !== expected))
        fail((what ? what + ": " : "") + "expected " + show(expected) + ", got " + show(actual));
}

function assertTrue(v, what) {
    if (!v) fail((what || "assertion") + " failed");
}

// A table of cases, a test a row: each row [source, expected] is evaluated by run (an
// indirect eval when none is given), and what form makes of its value is compared with
// expected; a source that throws gives "throws <name of the error>".
function table(name, rows, form, run) {
    rows.forEach(function (row) {
        test(name + ": " + row[0], function () {
            var v;
            try {
                v = form((run || eval)(row[0]));
            } catch (e) {
                v = "throws " + e.name;
            }
            assertEq(v, row[1]);
        });
    });
}

// Runs fn and returns what it threw; fails when it threw nothing.
function assertThrows(fn, what) {
    try {
        fn();
    } catch (e) {
        return e;
    }
    fail((what || "call") + " did not throw");
}

// Polls cond every 10 ms for at most ms milliseconds (5 s by default); its last answer.
function waitUntil(cond, ms) {
    var end = Date.now() + (ms || 5000);
    while (!cond() && Date.now() < end) System.sleep(10);
    return cond();
}

// Removes a folder and everything below it.
function removeTree(dir) {
    var list = File.openDir(dir + "/*");
    for (var i = 0; i < list.length; i++) {
        var name = list[i].name;
        if (name === "." || name === "..") continue;
        if (list[i].type === "dir") removeTree(dir + "/" + name);
        else File.remove(dir + "/" + name);
    }
    return File.removeDir(dir);
}

function test(name, fn) {
    try {
        fn();
        passed++;
    } catch (e) {
        failed++;
        System.print("FAIL " + name + ": " + e + (e && e.lineNumber ? " (line " + e.lineNumber + ")" : ""));
    }
}

function done() {
    System.print(passed + " passed, " + failed + " failed");
    System.exit(failed ? 1 : 0);
}
