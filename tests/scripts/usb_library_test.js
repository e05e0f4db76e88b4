// The USB module (build/bin/musb.so) with the real libusb 0.1 library of this machine,
// which may have no USB bus at all: enumerate must not crash and gives an array of
// device objects. Everything else runs against a stand-in library (usb_test.js).

var loaded = System.loadModule("bin/musb.so");

test("enumerate on this machine gives an array of device objects", function () {
    assertEq(loaded, true);
    var usb = new USB();
    var list = usb.enumerate();
    assertTrue(list instanceof Array, "an array");
    for (var i = 0; i < list.length; i++) {
        assertEq(typeof list[i].idVendor, "number");
        assertEq(typeof list[i].fileName, "string");
        assertTrue(list[i].hid === 0 || list[i].hid === 1, "hid flag");
    }
    assertEq(usb.open({dirName: "no-bus", fileName: "no-device"}), false);
});
