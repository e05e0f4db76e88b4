// Soak and faults, bounded in time: script threads mixing file I/O, SQLite, TCP on
// loopback, a shared counter under a mutex and System.evaluate, with the process's memory
// sampled through the run (flat after the warm-up) and every thread's work checked; then
// every thread driving the shared heap to its limit at once, and recovering; then a child
// process killed with SIGKILL while it writes to SQLite, losing nothing it acknowledged.
// The short form runs here; tests/scripts/soak_long.js sets soakSettings for the long one.

var settings = typeof soakSettings === "object" ? soakSettings : {seconds: 8, threads: 4};
var loaded = System.loadModule("bin/msqlite.so") && System.loadModule("bin/msocket.so");
var base = File.getCurrentWorkingDir();
var scratch = base + "/soak_test_" + System.getPID();

var soak = {
    deadline: 0,
    lock: System.createMutex(),
    counter: 0,
    finished: 0,
    reports: [],
    problems: [],
};

// Resident memory in kB, from /proc.
function residentKb() {
    var f = new File("/proc/self/statm", "rb");
    var fields = f.read(200).split(" ");
    f.close();
    return Number(fields[1]) * 4;
}

// A sanitizer's allocator holds freed memory back (ASan's quarantine): there resident
// memory says nothing about leaks, and the figures are only printed.
function sanitized() {
    var f = new File("/proc/self/maps", "rb");
    var maps = f.read(1 << 22);
    f.close();
    return /lib(asan|tsan)/.test(maps);
}

function note(problem) {
    System.lockMutex(soak.lock);
    soak.problems.push(problem);
    System.unlockMutex(soak.lock);
}

// A TCP listener on 127.0.0.1 at a free port.
function soakListener() {
    return listenLoopback("tcp");
}

// One worker's loop; its report counts what it did, and is checked against the world.
function soakWork(id) {
    var r = {id: id, rounds: 0, rows: 0, bytes: 0, echoes: 0, adds: 0};
    var db = new SQLite(scratch + "/worker" + id + ".db");
    db.query("create table t (n integer, text text)");
    var listener = soakListener();
    listener.setTimeout(5);
    for (var i = 0; Date.now() < soak.deadline; i++) {
        var text = "worker " + id + " round " + i + new Array(1 + i % 50).join("+");
        var name = scratch + "/w" + id + "_" + (i % 4);
        var f = new File(name, "wb");
        f.write(text);
        f.close();
        f = new File(name, "rb");
        if (f.read() !== text) note("file " + name + " read back wrong");
        f.close();
        r.bytes += text.length;

        db.query("insert into t values (" + i + ", '" + text + "')");
        r.rows++;

        var client = new Socket("tcp");
        client.setTimeout(5);
        client.connect("127.0.0.1", listener.port);
        var server = listener.accept();
        client.send(text);
        var got = "";
        for (var k = 0; k < 100 && got.length < text.length; k++) got += server.recv();
        if (got !== text) note("worker " + id + " echo lost bytes");
        else r.echoes++;
        client.close();
        server.close();

        System.lockMutex(soak.lock);
        var c = soak.counter;
        soak.counter = c + 1;
        System.unlockMutex(soak.lock);
        r.adds++;

        if (System.evaluate("soak-" + id, "(" + i + " * 2 + 1)") !== i * 2 + 1)
            note("evaluate gave a wrong result");
        r.rounds++;
    }
    var rows = db.query("select count(*) as n, sum(length(text)) as bytes from t");
    // The module gives every column as text.
    if (Number(rows[0].n) !== r.rows || Number(rows[0].bytes) !== r.bytes)
        note("worker " + id + " rows lost");
    db.close();
    listener.close();
    return r;
}

// Fills the shared heap until the limit stops this thread, lets go, and works again.
function soakExhaust(id) {
    var hit = false, hold = [];
    try {
        var chunk = new Array(65536).join("m");
        for (var i = 0; i < 20000; i++) hold.push(chunk + id + i);
    } catch (e) {
        hit = true;
    }
    hold = null;
    System.gc();
    var after = [];
    for (i = 0; i < 1000; i++) after.push({n: i});
    return {hit: hit, recovered: after.length === 1000};
}

// Runs fnName(id) on n threads; their reports, in id order.
function onThreads(fnName, n, ms) {
    soak.finished = 0;
    soak.problems = [];
    soak.reports = [];
    for (var i = 0; i < n; i++)
        System.createThread("(function () { var r;" +
            " try { r = " + fnName + "(" + i + "); } catch (e) { note('thread " + i + ": ' + e); }" +
            " System.lockMutex(soak.lock); soak.reports.push(r); soak.finished++;" +
            " System.unlockMutex(soak.lock); })();");
    assertTrue(waitUntil(function () { return soak.finished === n; }, ms), "threads finished");
    return soak.reports;
}

assertTrue(loaded, "modules loaded");
assertTrue(File.createDir(scratch), "scratch folder made");

test("soak: threads mixing files, SQLite, TCP, a mutex and evaluate keep memory flat", function () {
    var seconds = settings.seconds, samples = [];
    soak.deadline = Date.now() + seconds * 1000;
    soak.finished = 0;
    for (var i = 0; i < settings.threads; i++)
        System.createThread("(function () { var r;" +
            " try { r = soakWork(" + i + "); } catch (e) { note('worker " + i + ": ' + e); }" +
            " System.lockMutex(soak.lock); soak.reports.push(r); soak.finished++;" +
            " System.unlockMutex(soak.lock); })();");
    while (Date.now() < soak.deadline) {
        System.sleep(250);
        System.gc();
        samples.push(residentKb());
    }
    assertTrue(waitUntil(function () { return soak.finished === settings.threads; }, 30000),
               "workers finished");
    assertEq(soak.problems.join("; "), "", "problems");
    var adds = 0;
    soak.reports.forEach(function (r) {
        assertTrue(r && r.rounds > 0 && r.echoes === r.rounds, "worker did its rounds");
        adds += r.adds;
    });
    assertEq(soak.counter, adds, "counter updates");
    // Flat: the last third of the samples stays within 25% (and 8 MB) of the middle third.
    var third = Math.floor(samples.length / 3);
    var middle = Math.max.apply(null, samples.slice(third, 2 * third));
    var last = Math.max.apply(null, samples.slice(2 * third));
    System.print("soak: " + settings.threads + " threads, " + seconds + " s, " + adds +
                 " rounds; resident kB first " + samples[0] + ", middle max " + middle +
                 ", last max " + last);
    assertTrue(sanitized() || last <= middle * 1.25 + 8192, "memory flat after warm-up");
});

test("soak: the heap limit reached from every thread at once is recovered from", function () {
    var reports = onThreads("soakExhaust", settings.threads, 60000);
    assertEq(soak.problems.join("; "), "", "problems");
    assertTrue(reports.some(function (r) { return r && r.hit; }), "the limit was reached");
    reports.forEach(function (r) { assertTrue(r && r.recovered, "thread recovered"); });
    var after = [];
    for (var i = 0; i < 10000; i++) after.push("again " + i);
    assertEq(after.length, 10000, "main thread works");
});

// The registry joins in where ctest moved its store into the build folder.
var store = envp.CAPSULE_REGISTRY;
var registry = typeof store === "string" && store.indexOf(base + "/") === 0;
var lastKey = {root: "HKEY_CURRENT_USER", path: "Soak", key: "last"};

test("soak: SIGKILL during SQLite and registry writes loses nothing acknowledged", function () {
    var child = scratch + "/writer.js", acks = scratch + "/acks", db = scratch + "/killed.db";
    var f = new File(child, "wb");
    f.write('System.loadModule("' + base + '/bin/msqlite.so");\n' +
            'var db = new SQLite("' + db + '");\n' +
            'db.query("create table t (n integer primary key)");\n' +
            'var pid = new File("' + scratch + '/pid", "wb"); pid.write("" + System.getPID());' +
            ' pid.close();\n' +
            'for (var i = 0; i < 1000000; i++) {\n' +
            '    db.query("insert into t values (" + i + ")");\n' +
            (registry ? '    System.setRegistry({root: "HKEY_CURRENT_USER", path: "Soak",' +
                        ' key: "last", value: i});\n' : '') +
            '    var ack = new File("' + acks + '", "ab"); ack.write(i + "\\n"); ack.close();\n' +
            '}\n');
    f.close();
    assertTrue(System.exec(base + "/capsule-test " + child, scratch, 0), "writer started");
    assertTrue(waitUntil(function () {
        var s = File.status(acks);
        return s && s.size > 100;
    }, 20000), "writer acknowledged rows");
    var p = new File(scratch + "/pid", "rb");
    var pid = p.read();
    p.close();
    assertTrue(System.exec("kill -9 " + pid, scratch, 1), "writer killed");
    assertTrue(waitUntil(function () { return !File.status("/proc/" + pid); }), "writer gone");
    var a = new File(acks, "rb");
    var lines = a.read().split("\n");
    a.close();
    var last = Number(lines[lines.length - 2]);
    var rows = new SQLite(db);
    var got = rows.query("select count(*) as n, max(n) as top from t")[0];
    rows.close();
    var n = Number(got.n), top = Number(got.top);
    assertTrue(top >= last && n === top + 1, "rows " + n + ", acknowledged " + (last + 1));
    var value = registry ? Number(System.getRegistry(lastKey)) : "not written";
    System.print("soak: writer killed after " + (last + 1) + " acknowledged rows; " + n +
                 " rows, registry value " + value);
    if (registry) {
        assertTrue(value >= last && value <= top, "registry value " + value + ", acknowledged " + last);
    }
});

removeTree(scratch);
if (registry && File.status(store)) removeTree(store);
done();
