// Every native of System, File, File.prototype and the module classes, called with zero to
// four odd arguments on objects in every state (new, open, closed, on a receiver of the
// wrong kind, dropped to the finalizer). A call may return anything or throw; it must not
// crash, hang or trip a sanitizer. Everything runs in a scratch folder made the working
// directory. Left out, because their effects reach outside it or they wait for input:
// System.exit, exec and open (process start), openConsole, getchar and getInput (stdin),
// createThread (hostile sources) and loadModule (random paths); Socket.getHostInfos
// (look-ups of random names). The registry, service and power natives run only as ctest
// starts this test: on a store of its own (CAPSULE_REGISTRY), units in the build
// (CAPSULE_UNIT_DIR) and a PATH without programs, so that no systemctl is reached.
// Stand-ins: every host argument is 127.0.0.1, System.sleep
// gets only the odd values that wait at most 10 ms, and calls that wait for a peer
// (accept, recv, recvFrom on a live socket; SNMP requests on an open session) are made on
// objects that have no peer to wait for.

var modules = ["msqlite", "msocket", "msnmp", "mserial", "musb"];
var base = File.getCurrentWorkingDir();
var scratch = base + "/torture_test_" + System.getPID();

var hostile = {toString: function () { throw new Error("toString"); },
               valueOf: function () { throw new Error("valueOf"); }};
// Converted while a native reads its arguments, it closes the object the native runs on.
var victim = null;
function closeVictim() {
    try {
        if (victim) victim.close();
    } catch (e) {}
}
var closing = {toString: function () { closeVictim(); return "closing"; },
               valueOf: function () { closeVictim(); return 1; }};
var odd = [undefined, null, true, false, -1, 0, 2147483648, NaN, Infinity, -Infinity, 1e300,
           "", new Array(100001).join("x"), "\u20ac\ud800\u4e2d", {}, [1, "a", [2]],
           function () { return 1; }, hostile, Object.freeze({a: 1})];

// A fixed sequence of pseudo-random numbers, so that a failure replays.
var state = 12345;
function random(n) {
    state = (state * 1103515245 + 12345) % 2147483648;
    return state % n;
}

// The argument lists for one function: none, each odd value alone, then random lists of
// two to four values.
function argumentLists(values, count) {
    var lists = [[]];
    for (var i = 0; i < values.length; i++) lists.push([values[i]]);
    for (var k = 0; k < count; k++) {
        var n = 2 + random(3), list = [];
        for (var j = 0; j < n; j++) list.push(values[random(values.length)]);
        lists.push(list);
    }
    return lists;
}

assertTrue(File.createDir(scratch), "scratch folder made");
File.changeDir(scratch);

var calls = 0, threw = 0;
function callAll(what, receiver, fn, values, count, fixed) {
    var lists = argumentLists(values, count);
    for (var i = 0; i < lists.length; i++) {
        var args = fixed ? fixed(lists[i]) : lists[i];
        calls++;
        try {
            fn.apply(receiver, args);
        } catch (e) {
            threw++;
        }
        if (what === "File.changeDir") File.changeDir(scratch);
    }
}

// The functions of an object, own names whether enumerable or not.
function functionsOf(obj) {
    return Object.getOwnPropertyNames(obj).filter(function (name) {
        var d = Object.getOwnPropertyDescriptor(obj, name);
        return typeof d.value === "function" && name !== "constructor";
    });
}

// Calls each function of obj on each receiver; skip maps names to leave out.
function torture(label, obj, receivers, skip, count, fixed) {
    var names = functionsOf(obj);
    for (var i = 0; i < names.length; i++) {
        if (skip[names[i]]) continue;
        for (var r = 0; r < receivers.length; r++)
            callAll(label + "." + names[i], receivers[r], obj[names[i]],
                    values(label, names[i]), count, fixed && fixed[names[i]]);
    }
}

// The odd values, except where a stand-in keeps the call inside its bounds.
function values(label, name) {
    if (label === "System" && name === "sleep")
        return odd.filter(function (v) {
            try {
                var n = Number(v);
                return n >= 0 && n <= 10;
            } catch (e) {
                return true;
            }
        });
    if (label === "System" && name === "print") return [undefined, null, -1, "\u20ac", {}];
    return odd;
}

// Host arguments are 127.0.0.1 whatever the list says.
function atHost(position) {
    return function (args) {
        var a = args.slice();
        if (a.length > position) a[position] = "127.0.0.1";
        return a;
    };
}

var freePort = listenLoopback;

// Objects of each class in each state, and the calls that state would wait in.
function socketStates() {
    var listener = freePort("tcp");
    var connected = new Socket("tcp");
    connected.connect("127.0.0.1", listener.port);
    var closed = new Socket("udp");
    closed.close();
    return [{objects: [new Socket("tcp"), new Socket("udp"), closed, {}, Socket.prototype]},
            {objects: [listener, freePort("udp"), connected],
             skip: {accept: 1, recv: 1, recvFrom: 1}}];
}

function closedAfter(make, open) {
    var o = make();
    try {
        if (open) open(o);
        o.close();
    } catch (e) {}
    return o;
}

// True when ctest moved the store, the units and PATH into the build folder.
function standIns() {
    var inBuild = function (v) { return typeof v === "string" && v.indexOf(base + "/") === 0; };
    return inBuild(envp.CAPSULE_REGISTRY) && inBuild(envp.CAPSULE_UNIT_DIR) && inBuild(envp.PATH);
}

test("torture: System and File natives with odd arguments", function () {
    var skip = {exit: 1, exec: 1, open: 1, openConsole: 1, getchar: 1, getInput: 1,
                createThread: 1, loadModule: 1};
    if (!standIns()) {
        System.print("torture: no stand-ins, registry, service and power natives left out");
        ["shutdown", "getRegistry", "enumRegistry", "setRegistry", "delRegistry",
         "controlService", "createLink"].forEach(function (n) { skip[n] = 1; });
    }
    torture("System", System, [System, {}], skip, 24);
    torture("File", File, [File], {}, 24);
    var opened = new File(scratch + "/opened", "w+b");
    opened.write("content");
    var closed = new File(scratch + "/closed", "w+b");
    closed.close();
    torture("File", File.prototype, [new File(), opened, closed, {}, File.prototype], {}, 12);
    opened.seek(0);
    opened.close();
});

test("torture: module classes with odd arguments in every state", function () {
    for (var i = 0; i < modules.length; i++)
        assertTrue(System.loadModule(base + "/bin/" + modules[i] + ".so"), modules[i]);
    var classes = [SQLite, Socket, Snmp, Serial, USB];
    for (i = 0; i < classes.length; i++) {
        // Constructors: called and made with odd arguments.
        callAll(classes[i].name, null, classes[i], odd, 12);
        callAll("new " + classes[i].name, null, function () {
            var a = arguments;
            return new classes[i](a[0], a[1], a[2], a[3]);
        }, odd, 12);
        torture(classes[i].name, classes[i], [classes[i]], {getHostInfos: 1}, 12);
    }
    var db = new SQLite(scratch + "/open.db");
    db.query("create table t (a, b)");
    torture("SQLite", SQLite.prototype,
            [db, closedAfter(function () { return new SQLite(scratch + "/closed.db"); }), {},
             new Socket("tcp"), new File(), new USB()], {}, 12);
    db.close();
    var hosts = {connect: atHost(0), bind: atHost(0), sendTo: atHost(0), recvFrom: atHost(0)};
    var states = socketStates();
    torture("Socket", Socket.prototype, states[0].objects, {}, 12, hosts);
    torture("Socket", Socket.prototype, states[1].objects, states[1].skip, 12, hosts);
    states[1].objects.forEach(function (s) { s.close(); });
    var snmp = new Snmp();
    torture("Snmp", Snmp.prototype, [snmp, closedAfter(function () { return new Snmp(); }),
                                     {}, Snmp.prototype], {}, 12, {open: atHost(0)});
    torture("Serial", Serial.prototype,
            [new Serial(), closedAfter(function () { return new Serial(); }), {}, snmp], {}, 12);
    torture("USB", USB.prototype, [new USB(), closedAfter(function () { return new USB(); }), {},
                                   new Serial()], {}, 12);
    // A File method on each module's objects.
    torture("File", File.prototype, [db, snmp, new Serial(), new USB(), new Socket("udp")], {},
            4);
});

// Each method of an open object, with the closing value in each argument position.
function closedWhileConverting(label, proto, open, skip, fixed) {
    var names = functionsOf(proto);
    for (var i = 0; i < names.length; i++) {
        if (skip[names[i]]) continue;
        for (var pos = 0; pos < 4; pos++) {
            var args = [odd[random(odd.length)], odd[random(odd.length)], 5, "x"];
            args[pos] = closing;
            if (fixed && fixed[names[i]]) args = fixed[names[i]](args);
            victim = open();
            calls++;
            try {
                proto[names[i]].apply(victim, args);
            } catch (e) {
                threw++;
            }
            closeVictim();
        }
    }
    victim = null;
}

test("torture: an object closed by the conversion of an argument", function () {
    closedWhileConverting("File", File.prototype, function () {
        var f = new File(scratch + "/victim", "w+b");
        f.write("some content");
        return f;
    }, {});
    closedWhileConverting("SQLite", SQLite.prototype, function () {
        return new SQLite(scratch + "/victim.db");
    }, {});
    var listener = freePort("tcp");
    closedWhileConverting("Socket", Socket.prototype, function () {
        var c = new Socket("tcp");
        c.connect("127.0.0.1", listener.port);
        listener.accept().close();
        return c;
    }, {accept: 1, recv: 1, recvFrom: 1}, {connect: atHost(0), bind: atHost(0),
                                          sendTo: atHost(0)});
    closedWhileConverting("Socket", Socket.prototype, function () { return freePort("udp"); },
                          {accept: 1, recv: 1, recvFrom: 1}, {connect: atHost(0), bind: atHost(0),
                                                             sendTo: atHost(0)});
    listener.close();
    // A mutex destroyed while lockMutex converts its time-out, and used after.
    var m = System.createMutex();
    var destroying = {valueOf: function () { System.destroyMutex(m); return 10; }};
    assertEq(System.lockMutex(m, destroying), 0, "lock of a destroyed mutex");
    System.unlockMutex(m);
    System.destroyMutex(m);
    m = System.createMutex();
    assertEq(System.lockMutex(m, 0), 1, "lock");
    System.destroyMutex(m); // destroyed while this thread owns it
    System.unlockMutex(m);
    assertEq(System.lockMutex(m, 0), 0, "lock after destroy");
});

// Threads calling methods of one pool of objects at once, closing them and putting new
// ones in their place: every call meets objects that another thread may be closing.
var shared = {pool: [], deadline: 0, finished: 0, lock: System.createMutex()};
// Odd values, and plausible ones that get past the first checks.
var sharedValues = odd.filter(function (v) { return !(typeof v === "string" && v.length > 1000); })
    .concat(["select 1", "create table if not exists t (a)", "insert into t values (1)", 16,
             "some data", "rb", "w+b", scratch + "/sharedfile", {baudRate: 9600}]);
var sharedSkip = {accept: 1, recv: 1, recvFrom: 1, connect: 1};

function sharedObject(k) {
    switch (k % 5) {
    case 0: return new File(scratch + "/shared" + k, "w+b");
    case 1: return new SQLite(scratch + "/shared" + k + ".db");
    case 2: return freePort("udp");
    case 3: return new Snmp();
    default: return new Serial();
    }
}

function tortureShared(id) {
    var hosts = atHost(0);
    while (Date.now() < shared.deadline) {
        var k = random(shared.pool.length), o = shared.pool[k];
        var proto = Object.getPrototypeOf(o), names = functionsOf(proto);
        var name = names[random(names.length)];
        if (random(10) === 0) {
            shared.pool[k] = sharedObject(k);
            name = "close";
        }
        if (sharedSkip[name]) continue;
        var args = [];
        for (var n = random(5); n > 0; n--) args.push(sharedValues[random(sharedValues.length)]);
        if (o instanceof Socket) args = hosts(args);
        calls++;
        try {
            proto[name].apply(o, args);
        } catch (e) {
            threw++;
        }
    }
    System.lockMutex(shared.lock);
    shared.finished++;
    System.unlockMutex(shared.lock);
}

test("torture: threads on one pool of objects, closing them under each other", function () {
    for (var k = 0; k < 10; k++) shared.pool.push(sharedObject(k));
    shared.deadline = Date.now() + 1500;
    for (var t = 0; t < 3; t++) System.createThread("tortureShared(" + t + ");");
    tortureShared(3);
    assertTrue(waitUntil(function () { return shared.finished === 4; }, 30000), "threads ended");
    shared.pool.forEach(function (o) { o.close(); });
});

test("torture: objects dropped in every state reach their finalizers", function () {
    for (var i = 0; i < 20; i++) {
        var db = new SQLite(scratch + "/dropped" + (i % 3) + ".db");
        db.query("create table if not exists t (a)");
        var f = new File(scratch + "/dropped" + i, "w+b");
        f.write(odd[12]);
        socketStates();
        new Snmp();
        new Serial();
        new USB();
    }
    System.gc();
    System.gc();
    System.print("torture: " + calls + " calls, " + threw + " threw");
});

File.changeDir(base);
removeTree(scratch);
if (standIns()) {
    if (File.status(envp.CAPSULE_REGISTRY)) removeTree(envp.CAPSULE_REGISTRY);
    if (File.status(envp.CAPSULE_UNIT_DIR)) removeTree(envp.CAPSULE_UNIT_DIR);
}
done();
