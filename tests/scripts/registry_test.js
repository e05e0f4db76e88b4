// Registry natives over the file-backed store. The store is moved by CAPSULE_REGISTRY,
// which ctest sets to a folder of the build; without it the test refuses to run, so that
// it never touches a real store. On Windows the natives reach the system's registry: the
// test works below a key of its own in each root it writes, and removes it at the end.
var store = envp.CAPSULE_REGISTRY;
var base = "Software\\Capsule registry test " + System.getPID();

// A path of the test's own: below its key on Windows.
function at(path) {
    return onWindows ? base + (path ? "\\" + path : "") : path;
}

function readFile(path) {
    var f = new File(path, "rb");
    var s = f.read(65536);
    f.close();
    return s;
}

function writeFile(path, content) {
    var f = new File(path, "wb");
    f.write(content);
    f.close();
}

function get(path, key, def, root) {
    return System.getRegistry({root: root || "HKEY_LOCAL_MACHINE", path: at(path), key: key, def: def});
}
function set(path, key, value, root) {
    System.setRegistry({root: root || "HKEY_LOCAL_MACHINE", path: at(path), key: key, value: value});
}
function list(path, root) {
    return System.enumRegistry({root: root || "HKEY_LOCAL_MACHINE", path: at(path)});
}
function del(path, key) {
    System.delRegistry({root: "HKEY_LOCAL_MACHINE", path: at(path), key: key});
}

// A key with everything below it, subkeys first (delRegistry takes no key with subkeys).
function removeKey(root, path) {
    var children = System.enumRegistry({root: root, path: path}) || [];
    for (var i = 0; i < children.length; i++) removeKey(root, path + "\\" + children[i]);
    System.delRegistry({root: root, path: path});
}

if (!onWindows) test("the store is moved for the test", function () {
    assertTrue(store && store.length > 1, "CAPSULE_REGISTRY set");
});

if (store || onWindows) {
    if (!onWindows && File.status(store)) removeTree(store);

    test("missing arguments and requests", function () {
        var cases = [
            [function () { System.getRegistry(); }, "Native function format error: System.getRegistry(<regRequest>)"],
            [function () { System.enumRegistry(); }, "Native function format error: System.enumRegistry(<regRequest>)"],
            [function () { System.setRegistry(); }, "System: regRequest is undefined"],
            [function () { System.delRegistry(); }, "System: regRequest is undefined"],
            [function () { System.getRegistry(undefined); }, "System: regRequest is undefined"],
            [function () { System.enumRegistry(undefined); }, "System: regRequest is undefined"],
            [function () { System.setRegistry(undefined); }, "System: regRequest is undefined"],
            [function () { System.delRegistry(undefined); }, "System: regRequest is undefined"],
            [function () { System.getRegistry(5); }, "System: regRequest is not an object"],
            [function () { System.setRegistry(null); }, "System: regRequest is not an object"],
        ];
        for (var i = 0; i < cases.length; i++) {
            var e = assertThrows(cases[i][0], "case " + i);
            assertTrue(e instanceof Error, "an Error");
            assertEq(e.message, cases[i][1], "case " + i);
        }
        assertEq(System.getRegistry.length, 1);
    });

    test("root names", function () {
        set("Roots", "v", "machine");                         // root absent: the local machine
        assertEq(System.getRegistry({path: at("Roots"), key: "v"}), "machine");
        assertEq(get("Roots", "v", "d", "hkey_local_machine"), "d", "other letter case");
        assertEq(get("Roots", "v", "d", "nowhere"), "d", "no root");
        set("Roots", "v", "user", "HKEY_CURRENT_USER\\Software"); // the root name decides
        assertEq(get("Roots", "v", "", "HKEY_CURRENT_USER"), "user");
        assertEq(get("Roots", "v", "d", "HKEY_USERS"), "d", "trees are apart");
        assertEq(get("Roots", "v"), "machine");
        System.setRegistry({root: "nowhere", path: "X", key: "k", value: "v"}); // does nothing
        assertEq(list("", "HKEY_LOCAL_MACHINE").join(), "Roots");
        assertEq(list("", "nowhere"), undefined);
        // A root of the file store exists before its first write; the system's are there.
        var empty = onWindows ? System.enumRegistry({root: "HKEY_CURRENT_CONFIG", path: ""})
                              : list("", "HKEY_CURRENT_CONFIG");
        assertTrue(empty instanceof Array && (onWindows || empty.length === 0), "an empty root");
    });

    test("values read back", function () {
        set("A\\B\\C", "", "default value");                  // several missing levels
        set("A\\B\\C", "text", "\u20ac and \u00e9");
        set("A\\B\\C", "n", 42);
        set("A\\B\\C", "empty");                              // value absent: ""
        var long = new Array(5001).join("x");
        set("A\\B\\C", "long", long);
        set("A\\B\\C", "odd/name\\with@marks", ".");
        var table = [["", "default value"], ["text", "\u20ac and \u00e9"], ["n", "42"],
                     ["empty", "def"], ["long", long], ["missing", "def"],
                     ["odd/name\\with@marks", "."], ["TEXT", "\u20ac and \u00e9"]];
        for (var i = 0; i < table.length; i++)
            assertEq(get("a\\b\\c", table[i][0], "def"), table[i][1], table[i][0]);
        assertEq(get("A\\B\\C", "missing"), "", "no def");
        assertEq(get("A\\\\B\\C\\", "text"), "\u20ac and \u00e9", "empty path parts");
        if (onWindows) return; // the rest is the file store's form
        var file = readFile(store + "/HKEY_LOCAL_MACHINE/A/B/C/@n");
        assertEq(file, "capsule-registry 1 REG_SZ 2\n42", "a number is stored as text");
        assertEq(readFile(store + "/HKEY_LOCAL_MACHINE/A/B/C/@empty"), "capsule-registry 1 REG_SZ 0\n");
    });

    test("names keep their first spelling", function () {
        set("Case\\Key", "Value", "1");
        set("CASE\\KEY", "VALUE", "2");
        assertEq(list("").indexOf("Case") >= 0 && list("").indexOf("CASE") < 0, true);
        assertEq(list("case").join(), "Key");
        assertEq(get("Case\\Key", "value"), "2");
        if (!onWindows)
            assertTrue(File.status(store + "/HKEY_LOCAL_MACHINE/Case/Key/@Value"), "first spelling");
    });

    // Key names up to 255 characters and value names up to 16 383, in any script, and
    // letter case beyond ASCII (Unicode's simple mappings).
    test("every name Windows takes", function () {
        function repeat(s, n) { return new Array(n + 1).join(s); }
        var key = "Long\\" + repeat("\u4e2d", 255), value = repeat("\u00e9", 16383);
        var mixed = repeat("a", 300) + "Z", other = repeat("a", 300) + "Y";
        set(key, value, "v1");
        set(key, mixed, "v2");
        set(key, other, "v3");
        assertEq(get(key, value), "v1", "long value name");
        assertEq(get(key, mixed.toUpperCase()), "v2", "in other letter case");
        assertEq(get(key, other), "v3", "a name that differs at its end only");
        assertEq(list("Long").join(), key.substring(5));
        del(key, mixed);
        assertEq(get(key, mixed, "gone"), "gone");
        assertEq(get(key, other), "v3");
        var pairs = [["\u0101", "\u0100"], ["\u0142", "\u0141"], ["\u00ff", "\u0178"], ["\u0151", "\u0150"]];
        for (var i = 0; i < pairs.length; i++) {
            set("Fold\\" + pairs[i][0] + "x", pairs[i][0], "p" + i);
            assertEq(get("Fold\\" + pairs[i][1] + "X", pairs[i][1], "missing"), "p" + i, pairs[i][1]);
        }
        assertEq(list("Fold").length, pairs.length, "one key for both spellings");
    });

    // Values of the other types come from reg.exe on Windows, from files in the store's
    // format elsewhere (damaged ones too).
    if (onWindows) test("numbers and other types", function () {
        set("Types", "x", "");
        var key = "HKEY_LOCAL_MACHINE\\" + at("Types");
        var values = [["one", "REG_DWORD", "1", "\u0001"], ["zero", "REG_DWORD", "0", "def"],
                      ["big", "REG_DWORD", "65601", "A\u0001"], ["multi", "REG_MULTI_SZ", "a\\0b", "a"],
                      ["expand", "REG_EXPAND_SZ", "$HOME", "$HOME"], ["bin", "REG_BINARY", "4100", "A"]];
        for (var i = 0; i < values.length; i++) {
            var v = values[i];
            assertTrue(System.exec('reg add "' + key + '" /v ' + v[0] + " /t " + v[1] + " /d " + v[2] + " /f",
                                   undefined, 1), "reg add " + v[0]);
            assertEq(get("Types", v[0], "def"), v[3], v[0]);
        }
        set("Types", "one", "text");                          // a write makes it a string
        assertEq(get("Types", "one"), "text");
    });

    if (!onWindows) test("numbers and other types", function () {
        set("Types", "x", "");
        var dir = store + "/HKEY_LOCAL_MACHINE/Types/";
        var files = [["one", "REG_DWORD 1\n1", "\u0001"], ["zero", "REG_DWORD 1\n0", "def"],
                     ["big", "REG_DWORD 5\n65601", "A\u0001"], ["multi", "REG_MULTI_SZ 3\na\u0000b", "a"],
                     ["expand", "REG_EXPAND_SZ 5\n$HOME", "$HOME"], ["bin", "REG_BINARY 2\nA\u0000", "A"],
                     ["short", "REG_SZ 9\nabc", "def"], ["junk", "rubbish", "def"],
                     ["badnum", "REG_DWORD 2\n-1", "def"], ["type", "REG_WHAT 1\nx", "def"]];
        for (var i = 0; i < files.length; i++) {
            writeFile(dir + "@" + files[i][0], "capsule-registry 1 " + files[i][1]);
            assertEq(get("Types", files[i][0], "def"), files[i][2], files[i][0]);
        }
        set("Types", "one", "text");                          // a write makes it a string
        assertEq(readFile(dir + "@one"), "capsule-registry 1 REG_SZ 4\ntext");
    });

    test("enumeration", function () {
        var names = ["delta", "Alpha", "charlie", "Bravo", "\u00e9cho"];
        for (var i = 0; i < names.length; i++) set("Enum\\" + names[i], "v", i);
        assertEq(list("Enum").join(), "Alpha,Bravo,charlie,delta,\u00e9cho");
        assertEq(list("Enum\\delta").length, 0, "no subkeys");
        assertEq(list("Enum\\none"), undefined, "missing key");
        assertEq(list("Enum\\Alpha\\v"), undefined, "a value is no key");
    });

    test("deletion", function () {
        set("Del\\Parent\\Child", "v", "1");
        set("Del\\Parent", "a", "1");
        set("Del\\Parent", "b", "2");
        del("Del\\Parent");                                   // has a subkey
        assertEq(get("Del\\Parent", "a"), "1", "kept");
        assertEq(list("Del\\Parent").join(), "Child");
        del("Del\\Parent", "A");
        assertEq(get("Del\\Parent", "a", "gone"), "gone");
        assertEq(get("Del\\Parent", "b"), "2", "only that value");
        del("Del\\parent\\CHILD");
        assertEq(list("Del\\Parent").length, 0);
        del("Del\\Parent");
        assertEq(list("Del\\Parent"), undefined);
        assertEq(list("Del").length, 0);
        del("Del\\none", "x");                                // nothing
        System.delRegistry({root: "HKEY_LOCAL_MACHINE"});     // never the root itself
        assertTrue(list("").length > 0, "root kept");
    });

    if (onWindows) {
        removeKey("HKEY_LOCAL_MACHINE", base);
        removeKey("HKEY_CURRENT_USER", base);
        test("the test's keys are gone", function () {
            assertEq(list(""), undefined);
            assertEq(list("", "HKEY_CURRENT_USER"), undefined);
        });
    } else {
        removeTree(store);
    }
}
