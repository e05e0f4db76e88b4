// The USB module (build/bin/musb.so) against the stand-in libusb 0.1 library of
// tests/usb_standin, which ctest puts first on LD_LIBRARY_PATH: no USB device can be
// plugged in here, so the test reaches up to the library's boundary. The stand-in
// simulates bus "001" with HID device "002"; the test steers it through the file
// $USB_STANDIN/state and reads the calls that reached the device from $USB_STANDIN/log.

var standIn = envp.USB_STANDIN;
var VENDOR = 0x0764, PRODUCT = 0x0501;

function writeFile(path, text) {
    var f = new File(path, "wb");
    f.write(text);
    f.close();
}

function readFile(path) {
    var f = new File(path, "rb");
    var text = f.read();
    f.close();
    return text === undefined ? "" : text;
}

// Sets the stand-in's state words and empties its call log.
function setState(words) {
    writeFile(standIn + "/state", words || "");
    writeFile(standIn + "/log", "");
}

function calls() {
    return readFile(standIn + "/log");
}

function message(fn) {
    return assertThrows(fn).message;
}

var loaded = System.loadModule("bin/musb.so");
setState("");
var usb = new USB();
var OUT = {requestType: 0x21, request: 0x09, value: 0x0200, length: 8};
var IN = {requestType: 0xA1, request: 0x01, value: 0x0100, length: 8};

// A device object of a fresh scan, opened.
function opened() {
    var dev = usb.enumerate()[0];
    assertEq(usb.open(dev), true, "opened");
    return dev;
}

test("the module registers the class USB", function () {
    assertTrue(standIn !== undefined, "run by ctest with the stand-in");
    assertEq(loaded, true);
    assertEq(typeof USB, "function");
    var lengths = {enumerate: 0, open: 1, close: 1, send: 2, getAnswer: 2};
    for (var name in lengths) assertEq(USB.prototype[name].length, lengths[name], name);
    assertEq(calls(), "set_debug 4\n", "the constructor sets the debug level");
    assertEq(message(function () { USB(); }), "USB must be called with new");
});

test("format errors and objects that are no USB objects", function () {
    var cases = [["open", [], "USB.open(<device>)"], ["close", [], "USB.close(<device>)"],
                 ["send", [{}], "USB.send(<device>, <request>)"],
                 ["getAnswer", [{}], "USB.getAnswer(<device>, <request>)"]];
    for (var i = 0; i < cases.length; i++) {
        var c = cases[i];
        assertEq(message(function () { usb[c[0]].apply(usb, c[1]); }),
                 "Native function format error: " + c[2], c[0]);
    }
    assertEq(message(function () { USB.prototype.enumerate.call({}); }),
             "USB.enumerate: USB not initialized");
    assertEq(message(function () { USB.prototype.open.call(USB.prototype, {}); }),
             "USB.open: USB not initialized");
});

test("enumerate makes read-only device objects; an unplugged device is not listed", function () {
    setState("");
    var list = usb.enumerate();
    assertEq(list.length, 1);
    var dev = list[0];
    assertEq(Object.keys(dev).join(), "idVendor,idProduct,dirName,fileName,hid");
    var expected = {idVendor: VENDOR, idProduct: PRODUCT, dirName: "001", fileName: "002", hid: 1};
    for (var k in expected) assertEq(dev[k], expected[k], k);
    dev.idVendor = 1;
    assertEq(dev.idVendor, VENDOR, "read-only");
    setState("gone");
    assertEq(usb.enumerate().length, 0);
});

test("enumerate prints one Found line per device, nothing without devices", function () {
    var script = standIn + "/found.js", out = standIn + "/found.out";
    writeFile(script, "System.loadModule('bin/musb.so'); var u = new USB(); u.enumerate();" +
              "var f = new File(envp.USB_STANDIN + '/state', 'wb'); f.write('gone'); f.close();" +
              "u.enumerate();");
    setState("");
    assertTrue(System.exec("/bin/sh -c \"'" + argv[0] + "' '" + script + "' > '" + out +
                           "' 2>/dev/null\"", undefined, 1), "ran the child");
    assertEq(readFile(out), "Found: " + VENDOR + ": " + PRODUCT + "\n0 passed, 0 failed\n");
});

test("open claims devices of the listed vendors and reads the report length", function () {
    var cases = [
        ["", true, "open 001/002\nset_configuration 1\ndetach 0\nclaim 0\naltinterface 0\n" +
                   "clear_halt 0x81\n"],
        ["vendor=1234", false, "open 001/002\n"],
        ["vendor=1234 busy", false, "open 001/002\n"]];
    for (var i = 0; i < cases.length; i++) {
        setState(cases[i][0]);
        var dev = usb.enumerate()[0];
        assertEq(dev.idVendor === VENDOR, cases[i][1], cases[i][0]);
        assertEq(usb.open(dev), true, cases[i][0]);
        assertEq(calls(), cases[i][2], cases[i][0]);
        assertEq(dev.reportDescriptorSize, 0x0123);
        assertTrue(dev.handle > 0 && dev.handle < 100, "a small number: " + dev.handle);
        assertEq(Object.keys(dev).slice(5).join(), "handle,reportDescriptorSize");
        assertEq(usb.close(dev), true);
    }
});

test("a listed device that cannot be claimed is reported and left closed", function () {
    setState("busy");
    var dev = usb.enumerate()[0];
    assertEq(message(function () { usb.open(dev); }),
             "USB.open: ERROR! Unable to open device: -16 could not claim interface 0: " +
             "Device or resource busy");
    assertEq("handle" in dev, false, "no handle");
    assertTrue(/\nclose\n$/.test(calls()), "the device was closed: " + calls());
});

test("a device that went away does not open", function () {
    setState("");
    var dev = usb.enumerate()[0];
    setState("gone");
    assertEq(usb.open(dev), false);
    assertEq("handle" in dev, false);
    assertEq(usb.open({dirName: "001", fileName: "003"}), false);
    assertEq(usb.open({fileName: "002"}), false);
    assertEq(usb.open(5), false);
    assertEq(calls(), "");
});

test("handle numbers are never given out twice; opening again closes the earlier", function () {
    setState("");
    var a = opened(), b = opened();
    assertTrue(b.handle > a.handle, "a new number");
    var first = a.handle;
    setState("");
    assertEq(usb.open(a), true);
    assertTrue(a.handle > b.handle, "reopened under a new number");
    assertEq(calls().split("\n").slice(0, 3).join(), "release 0,close,open 001/002");
    assertEq(message(function () { usb.send({handle: first}, IN); }),
             "USB.send: Device not initialized", "the earlier number is stale");
    usb.close(a);
    usb.close(b);
});

test("send performs one control transfer and returns the bytes transferred", function () {
    setState("");
    var dev = opened();
    var cases = [
        [OUT, "abc", "abc\0\0\0\0\0", "control 0x21 0x09 0x0200 0x0000 8 5000"],
        [IN, undefined, "abc\0\0\0\0\0", "control 0xa1 0x01 0x0100 0x0000 8 5000"],
        [{requestType: 0x21, request: 9, length: 2, index: 3, timeout: 70}, "xyz", "xy",
         "control 0x21 0x09 0x0000 0x0003 2 70"],
        [{requestType: 0xA1, request: 1, length: 6}, undefined, "xy", null],
        [{requestType: 0x21, request: 9, length: 3}, "\0\u00ff\u0141", "\0\u00ffA", null]];
    for (var i = 0; i < cases.length; i++) {
        var r = cases[i][0];
        r.bytes = cases[i][1];
        setState("");
        assertEq(usb.send(dev, r), cases[i][2], "case " + i);
        if (cases[i][3]) assertEq(calls(), cases[i][3] + "\n", "case " + i);
    }
    var big = usb.send(dev, {length: 65535});
    assertEq(big.length, 65535, "the largest length");
    usb.close(dev);
});

test("send reports failures with the request and the library's status", function () {
    setState("");
    var dev = opened();
    var prefix = "USB.send: ERROR! Unable to send USB control message: ";
    assertEq(message(function () { usb.send(dev, {requestType: 0x21, request: 0xFF, length: 1}); }),
             prefix + "{requestType: 0x21, request: 0xFF, value: 0x0000, index: 0x0000, " +
             "length: 0x0001, timeout: 5000 ms}: -32 error sending control message: Broken pipe");
    var e = message(function () { usb.send(dev, {requestType: 0xA1, value: 0x0301, timeout: 9}); });
    assertEq(e.indexOf(prefix + "{requestType: 0xA1, request: 0x00, value: 0x0301, index: " +
                       "0x0000, length: 0x0000, timeout: 9 ms}: 0 "), 0, "no bytes moved: " + e);
    setState("gone");
    assertEq(message(function () { usb.send(dev, OUT); }),
             prefix + "{requestType: 0x21, request: 0x09, value: 0x0200, index: 0x0000, " +
             "length: 0x0008, timeout: 5000 ms}: -19 error sending control message: No such device");
    setState("");
    usb.close(dev);
});

test("getAnswer reads the endpoint; time-outs are reported", function () {
    setState("");
    var dev = opened();
    usb.send(dev, {requestType: 0x21, request: 9, length: 4, bytes: "\u0001\u0002\u0003\u0004"});
    setState("");
    assertEq(usb.getAnswer(dev, {length: 8}), "\u0001\u0002\u0003\u0004");
    assertEq(usb.getAnswer(dev, {length: 2, timeout: 50}), "\u0001\u0002");
    assertEq(calls(), "interrupt_read 0x81 8 5000\ninterrupt_read 0x81 2 50\n");
    var prefix = "USB.getAnswer: ERROR! Unable to read endpoint\n";
    var timedOut = "-110 error reading from interrupt endpoint: Connection timed out";
    assertEq(message(function () { usb.getAnswer(dev, {endPoint: 0x82, length: 8}); }),
             prefix + "endPoint=0x82 length=0x0008\n" + timedOut);
    setState("timeout");
    assertEq(message(function () { usb.getAnswer(dev, {length: 8}); }),
             prefix + "endPoint=0x81 length=0x0008\n" + timedOut);
    setState("");
    usb.close(dev);
});

test("lengths out of range are refused before any transfer", function () {
    setState("");
    var dev = opened();
    var lengths = [-1, 65536, 1e12, "many", -2147483648];
    setState("");
    for (var i = 0; i < lengths.length; i++) {
        var n = lengths[i] === "many" || lengths[i] === 1e12 ? -2147483648 : lengths[i];
        assertEq(message(function () { usb.send(dev, {length: lengths[i]}); }),
                 "USB.send: length " + n + " is out of range (0 to 65535)", "send " + lengths[i]);
        assertEq(message(function () { usb.getAnswer(dev, {length: lengths[i]}); }),
                 "USB.getAnswer: length " + n + " is out of range (0 to 65535)", "read " + lengths[i]);
    }
    assertEq(calls(), "", "nothing reached the device");
    usb.close(dev);
});

test("forged, stale and missing handles are not initialized devices", function () {
    setState("");
    var dev = opened();
    setState("");
    var stale = {handle: dev.handle};
    usb.close(dev);
    var devices = [stale, dev, {handle: 123456}, {handle: 140737488355328}, {handle: -1},
                   {handle: 1.5}, {handle: "x"}, {}, usb.enumerate()[0], 7, null];
    for (var i = 0; i < devices.length; i++) {
        assertEq(message(function () { usb.send(devices[i], OUT); }),
                 "USB.send: Device not initialized", "send " + i);
        assertEq(message(function () { usb.getAnswer(devices[i], {length: 8}); }),
                 "USB.read: Device not initialized", "read " + i);
    }
    assertEq(calls(), "release 0\nclose\n", "only the close reached the device");
});

test("close releases and closes once, and may be repeated", function () {
    setState("");
    var dev = opened();
    setState("");
    assertEq(usb.close(dev), true);
    assertEq(dev.handle, 0);
    assertEq(usb.close(dev), true);
    assertEq(dev.handle, 0);
    assertEq(usb.close({}), true);
    assertEq(usb.close(3), true);
    assertEq(calls(), "release 0\nclose\n");
});

test("a transfer leaves the request; a close meanwhile waits for its end", function () {
    setState("");
    usbDevice = opened();
    usbCounter = 0;
    usbClosed = false;
    usbModule = usb;
    setState("slow");
    System.createThread("while (usbCounter < 5) { usbCounter++; System.sleep(10); }" +
                        "usbClosed = usbModule.close(usbDevice);");
    assertEq(usb.getAnswer(usbDevice, {length: 1}), "\u0001", "the read finished");
    assertTrue(usbCounter > 0, "the thread ran during the read");
    assertTrue(waitUntil(function () { return usbClosed; }), "the thread closed the device");
    assertEq(calls(), "interrupt_read 0x81 1 5000\nwoke\nrelease 0\nclose\n");
});

setState("");
