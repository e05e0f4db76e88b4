// System information: getSysName, getLocale, getPID, getCPULoad, getAdminRights.

// The system's name, the other system's, and a text whose characters each have that name's
// byte as their low byte ("narrow text" keeps only that byte).
var system = onWindows ? "Windows" : "Linux", other = onWindows ? "Linux" : "Windows";
function raised(text, high) {
    var out = "";
    for (var i = 0; i < text.length; i++) out += String.fromCharCode(high * 256 + text.charCodeAt(i));
    return out;
}

test("getSysName names the system and its version", function () {
    var name = System.getSysName();
    var form = onWindows ? /^Windows (NT|9X)\/\d+\.\d\d\.\d\d$/ : /^Linux\/\d+\.\d\d\.\d\d$/;
    assertTrue(form.test(name), "form of " + name);
    assertEq(System.getSysName(undefined), name);
});

test("getSysName with a value tests for a substring", function () {
    assertEq(System.getSysName(system), true);
    assertEq(System.getSysName(system.toLowerCase()), false);
    assertEq(System.getSysName(other), false);
    assertEq(System.getSysName(""), true);
    assertEq(System.getSysName("/"), true);
    assertEq(System.getSysName(System.getSysName() + "x"), false);
    // null is a given value: the text "null".
    assertEq(System.getSysName(null), false);
});

test("getSysName takes narrow text", function () {
    // Each character loses its high byte.
    assertEq(System.getSysName(raised(system, 1)), true);
    assertEq(System.getSysName(raised(system.charAt(0), 0x20)), true);
    assertEq(System.getSysName(raised(system.substring(0, 3).toUpperCase(), 0x21)), false);
});

test("getLocale sets and reports the locale", function () {
    assertEq(System.getLocale("C"), "C");
    assertEq(System.getLocale("no_such_locale"), "C");
    assertEq(typeof System.getLocale(), "string");
    assertEq(System.getLocale("C"), "C");
});

test("getPID is a stable positive integer", function () {
    var pid = System.getPID();
    assertEq(typeof pid, "number");
    assertTrue(pid > 0 && pid === Math.floor(pid), "positive integer " + pid);
    assertEq(System.getPID(), pid);
});

test("getCPULoad reports a percentage", function () {
    var first = System.getCPULoad();
    if (first === undefined) return; // /proc/stat unreadable
    assertEq(typeof first, "number");
    assertTrue(first >= 0 && first <= 100 && first === Math.floor(first), "first " + first);
    var second = System.getCPULoad("ignored", 1);
    assertTrue(second >= 0 && second <= 100, "second " + second);
});

test("getAdminRights is a boolean", function () {
    assertEq(typeof System.getAdminRights(), "boolean");
    assertEq(System.getAdminRights(), System.getAdminRights());
});

done();
