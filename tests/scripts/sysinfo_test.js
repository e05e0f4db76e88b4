// System information: getSysName, getLocale, getPID, getCPULoad, getAdminRights.

test("getSysName names the system and its version", function () {
    var name = System.getSysName();
    assertTrue(/^Linux\/\d+\.\d\d\.\d\d$/.test(name), "form of " + name);
    assertEq(System.getSysName(undefined), name);
});

test("getSysName with a value tests for a substring", function () {
    assertEq(System.getSysName("Linux"), true);
    assertEq(System.getSysName("linux"), false);
    assertEq(System.getSysName("Windows"), false);
    assertEq(System.getSysName(""), true);
    assertEq(System.getSysName("/"), true);
    assertEq(System.getSysName(System.getSysName() + "x"), false);
    // null is a given value: the text "null".
    assertEq(System.getSysName(null), false);
});

test("getSysName takes narrow text", function () {
    // Each character loses its high byte: these are "Linux" above U+00FF.
    assertEq(System.getSysName("\u014C\u0169\u016E\u0175\u0178"), true);
    assertEq(System.getSysName("\u204C"), true); // "L"
    assertEq(System.getSysName("\u214C\u2149\u214E"), false); // "LIN"
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
