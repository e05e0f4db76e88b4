// The serial port module (build/bin/mserial.so) on a pseudo-terminal pair that socat
// makes in a scratch folder: the module opens one end ("near"); the test drives the
// other ("far") with a second Serial object or the shell, and checks the near end's line
// settings with stty (a pseudo-terminal keeps 8 data bits whatever it is told, so data
// bits show only as cs8). socat is stopped at the end, and ends by itself after 60 s.
// On Windows (mserial.dll under Wine) the Wine suite makes the pair and maps it to COM5
// and COM6; there the line settings cannot be seen from inside.

var scratch = File.getCurrentWorkingDir() + "/serial_test_" + System.getPID();
var near = onWindows ? "COM5" : scratch + "/near", far = onWindows ? "COM6" : scratch + "/far";

function readFile(name) {
    var f = new File(scratch + "/" + name, "rb");
    var s = f.read();
    f.close();
    return s;
}

function shell(line) {
    assertTrue(System.exec("sh -c \"" + line + "\"", scratch, 1), "ran: " + line);
}

// The line settings of a device as stty prints them: speed and flag words.
function line(device) {
    shell("stty -F " + device + " -a > stty.out");
    var text = readFile("stty.out");
    return {speed: +/speed (\d+) baud/.exec(text)[1], words: " " + text.split(/[\s;]+/).join(" ") + " "};
}

function assertLine(device, speed, words) {
    if (onWindows) return;
    var l = line(device);
    assertEq(l.speed, speed, "speed");
    for (var i = 0; i < words.length; i++)
        assertTrue(l.words.indexOf(" " + words[i] + " ") >= 0, words[i] + " in" + l.words);
}

function opened(device, settings) {
    var s = new Serial();
    settings = settings || {};
    settings.port = device;
    assertEq(s.open(settings), true, "open " + device);
    return s;
}

var raw = ["-icanon", "-echo", "-isig", "-icrnl", "-opost", "-ixon", "clocal", "cread"];
var loaded = System.loadModule(moduleLibrary("bin/mserial"));
assertTrue(File.createDir(scratch), "scratch folder made");
if (!onWindows)
    System.exec("sh -c \"echo $$ > socat.pid; exec timeout 60 socat PTY,link=near PTY,link=far\"",
                scratch);

try {
    if (!onWindows)
        assertTrue(waitUntil(function () { return File.status(near) && File.status(far); }),
                   "socat made the pair");
    var farEnd = opened(far, {baudRate: 115200});

    test("the module registers the class Serial", function () {
        assertEq(loaded, true);
        assertEq(typeof Serial, "function");
        var lengths = {open: 1, set: 1, close: 0, read: 1, write: 1};
        for (var name in lengths) assertEq(Serial.prototype[name].length, lengths[name], name);
        assertTrue(new Serial() instanceof Serial, "instanceof");
    });

    test("format errors, settings that are no object, objects without a record", function () {
        var s = new Serial();
        var names = ["open", "set", "read", "write"];
        for (var i = 0; i < names.length; i++) {
            var fn = s[names[i]];
            var qualified = "Serial." + names[i];
            assertEq(assertThrows(function () { fn.call(s); }).message,
                     "Native function format error: " + qualified + "(<params>)");
            assertEq(assertThrows(function () { fn.call(s, "COM1"); }).message,
                     qualified + ": params is not an object");
            assertEq(assertThrows(function () { fn.call({}, {}); }).message,
                     qualified + ": Serial not initialized");
        }
        assertEq(assertThrows(function () { s.close.call(Serial.prototype); }).message,
                 "Serial.close: Not initialized");
        assertTrue(assertThrows(function () { s.open(); }) instanceof Error, "an Error");
    });

    test("open of an existing port configures a raw line and publishes its handle", function () {
        var settings = {port: near, baudRate: 9600, byteSize: 8, bufInSize: 32, bufOutSize: 16};
        var s = new Serial();
        assertEq(s.open(settings), true);
        assertEq(typeof settings.handle, "number");
        assertTrue(settings.handle >= 0, "a descriptor");
        var d = Object.getOwnPropertyDescriptor(settings, "handle");
        assertTrue(d.enumerable && !d.writable, "enumerable, read-only");
        assertLine(near, 9600, raw.concat(["cs8", "-parenb", "-cstopb", "-crtscts"]));
        // A second open of the object reconfigures the open port, whatever port it names.
        var again = {port: scratch + "/none", baudRate: 4800, byteSize: 7};
        assertEq(s.open(again), true);
        assertEq(again.handle, settings.handle, "same port");
        assertLine(near, 4800, []);
        // The port is held exclusively until it is closed (Wine lets a second opener in).
        if (!onWindows) assertEq(new Serial().open({port: near}), false, "second opener refused");
        s.close();
    });

    test("open of a missing port or a non-terminal is false and defines no handle", function () {
        File.createDir(scratch + "/dir");
        var names = [scratch + "/missing", scratch + "/stty.out", scratch + "/dir", "COM250",
                     "\\\\.\\COM250"];
        for (var i = 0; i < names.length; i++) {
            var settings = {port: names[i]};
            assertEq(new Serial().open(settings), false, names[i]);
            assertEq("handle" in settings, false, names[i] + " handle");
        }
    });

    // A port name beyond ASCII reaches the file system as File's names do.
    if (!onWindows) test("a port named beyond ASCII", function () {
        shell("ln -s near 'n\u00e9ar'");
        assertTrue(File.status(scratch + "/n\u00e9ar"), "File sees it");
        opened(scratch + "/n\u00e9ar").close();
    });

    // open({}) would take COM1, the machine's first serial port (maybe its console): the
    // name's mapping has a unit test; here the other defaults.
    test("defaults: 2400 bits/s, 8 data bits, no parity, one stop bit", function () {
        var s = opened(near);
        assertLine(near, 2400, ["cs8", "-parenb", "-cstopb"]);
        s.close();
    });

    test("set on an open and on a closed port", function () {
        var s = opened(near, {baudRate: 9600, byteSize: 7});
        var settings = {baudRate: 19200};
        assertEq(s.set(settings), true);
        assertEq("handle" in settings, false, "set publishes no handle");
        assertLine(near, 19200, ["cs8"]);
        // A speed or data-bit count the device cannot take leaves the line as it was.
        assertEq(s.set({baudRate: 12345, byteSize: 6}), true);
        assertEq(s.set({baudRate: 300, byteSize: 9}), true);
        assertLine(near, 19200, ["cs8"]);
        s.close();
        assertEq(s.set({baudRate: 9600}), false);
        assertEq(new Serial().set({}), false, "never opened");
    });

    test("read returns exactly count bytes at once, bytes unchanged", function () {
        var s = opened(near);
        var bytes = "\r\n\x00\xff\x03\x11\x13\x7f\x04\x80";
        assertEq(farEnd.write({content: bytes + "rest"}), bytes.length + 4);
        assertEq(s.read({count: bytes.length}), bytes);
        assertEq(s.read({count: 4}), "rest");
        if (onWindows)
            farEnd.write({content: "xy"});
        else
            shell("printf xy > far"); // a writer outside the module
        assertEq(s.read({}), "x", "count 1 by default");
        assertEq(s.read({count: 1}), "y");
        // The largest count fills the terminal's whole input queue.
        var full = new Array(4096).join("z");
        assertEq(farEnd.write({content: full}), 4095);
        assertEq(s.read({count: 4095}), full);
        s.close();
    });

    test("too few bytes within the budget: the empty text, the bytes stay queued", function () {
        var s = opened(near);
        var cases = [{queued: "abc", count: 4, pauses: 150}, {queued: "", count: 20, pauses: 300}];
        for (var i = 0; i < cases.length; i++) {
            var c = cases[i];
            if (c.queued) farEnd.write({content: c.queued});
            var start = Date.now();
            assertEq(s.read({count: c.count}), "", "count " + c.count);
            assertTrue(Date.now() - start >= c.pauses - 5, "waited the budget");
            if (c.queued) assertEq(s.read({count: c.queued.length}), c.queued, "still queued");
        }
        s.close();
    });

    test("count out of range is an error; count 0 gives the empty text", function () {
        var s = opened(near);
        var bad = [-1, 4096, 1e12, "many", NaN];
        for (var i = 0; i < bad.length; i++)
            assertEq(assertThrows(function () { s.read({count: bad[i]}); }).message,
                     "Serial.read: count must be 0 to 4095", String(bad[i]));
        assertEq(s.read({count: 0}), "");
        s.close();
    });

    test("write drops what arrived before it and returns its count", function () {
        var s = opened(near);
        farEnd.write({content: "old!"});
        assertEq(s.read({count: 1}), "o", "the old bytes arrived");
        assertEq(s.write({content: "req\x00\xff"}), 5);
        assertEq(farEnd.read({count: 5}), "req\x00\xff");
        farEnd.write({content: "ans"});
        assertEq(s.read({count: 3}), "ans", "old bytes dropped");
        assertEq(s.write({}), 0, "no content");
        assertEq(s.write({content: 42}), 2, "converted");
        assertEq(farEnd.read({count: 2}), "42");
        s.close();
    });

    test("closed ports: close twice, read and write yield nothing, open again", function () {
        var s = opened(near);
        var handle;
        assertEq(s.close(), undefined);
        assertEq(s.close(), undefined, "second close");
        assertEq(s.read({count: 2}), "");
        assertEq(s.write({content: "ab"}), 0);
        var settings = {port: near};
        assertEq(s.open(settings), true, "open after close");
        assertEq(typeof settings.handle, "number");
        farEnd.write({content: "hi"});
        assertEq(s.read({count: 2}), "hi");
        s.close();
        // The collector closes a port that a script left open.
        new Serial().open({port: near});
        System.gc();
        opened(near).close();
    });

    test("a script thread waits in read while another thread keeps running", function () {
        serialNear = opened(near);
        serialThread = {};
        var payload = new Array(201).join("p");
        System.createThread("serialThread.started = true; try { serialThread.result = " +
                            "serialNear.read({count: 200}); } catch (e) { serialThread.result" +
                            " = String(e); } serialThread.done = true;");
        assertTrue(waitUntil(function () { return serialThread.started; }), "thread started");
        System.sleep(50);
        // Closing the object does not pull the port from under the waiting read.
        serialNear.close();
        assertEq(serialThread.done, undefined, "still reading");
        farEnd.write({content: payload});
        assertTrue(waitUntil(function () { return serialThread.done; }, 10000), "thread done");
        assertEq(serialThread.result, payload);
        opened(near).close();
    });
} finally {
    if (!onWindows) {
        System.exec("sh -c \"kill $(cat socat.pid)\"", scratch, 1);
        waitUntil(function () { return !File.status(near); }, 2000);
    }
    removeTree(scratch);
}
done();
