// The engine heap: what a script of the era could hold fits (millions of array elements,
// a million short strings, half a million objects, texts of tens of megabytes), each
// workload checked by its result; a runaway allocation stops at the heap's ceiling with a
// catchable "out of memory" Error that names the script's line, and the script goes on.
// The sanitizer builds run the workloads at a quarter of their size.

function sanitized() {
    var f = new File("/proc/self/maps", "rb");
    var maps = f.read(1 << 22);
    f.close();
    return /lib(asan|tsan)/.test(maps);
}
var scale = !onWindows && sanitized() ? 4 : 1;

System.loadModule(moduleLibrary("bin/msqlite"));

// Each row: [what, n, run(n) -> summary, expected(n) -> summary]. n is divided by scale.
var workloads = [
    ["small integers in an array", 4000000, function (n) {
        var a = [], sum = 0;
        for (var i = 0; i < n; i++) a.push(i % 1000);
        for (var i = 0; i < n; i++) sum += a[i];
        return a.length + " " + sum;
    }, function (n) { return n + " " + (n / 1000) * 499500; }],
    ["distinct short strings in an array", 1000000, function (n) {
        var a = [];
        for (var i = 0; i < n; i++) a.push("s" + i);
        return a.length + " " + a[n - 1] + " " + a[n >> 1];
    }, function (n) { return n + " s" + (n - 1) + " s" + (n >> 1); }],
    ["objects of two properties", 500000, function (n) {
        var a = [];
        for (var i = 0; i < n; i++) a.push({id: i, name: "n" + (i & 7)});
        return a.length + " " + a[n - 1].id + " " + a[n - 1].name;
    }, function (n) { return n + " " + (n - 1) + " n" + ((n - 1) & 7); }],
    ["an object with that many keys", 500000, function (n) {
        var o = {}, count = 0;
        for (var i = 0; i < n; i++) o["k" + i] = i;
        for (var k in o) count++;
        return count + " " + o["k" + (n - 1)];
    }, function (n) { return n + " " + (n - 1); }],
    // A property block that grows keeps every key, index and deletion: named keys and
    // array indexes grown together, a key deleted now and then, each found afterwards.
    ["an object and an array grown by keys and indexes", 100000, function (n) {
        var o = {}, a = [], found = 0;
        for (var i = 0; i < n; i++) {
            o["k" + i] = i;
            a[i] = i;
            a["p" + i] = -i;
            if (i % 7 == 0) delete o["k" + (i >> 1)];
        }
        for (var i = 0; i < n; i++)
            found += (o["k" + i] === i) + (a[i] === i) + (a["p" + i] === -i);
        return found + " " + Object.keys(o).length + " " + a.length;
    }, function (n) {
        var gone = {};
        for (var i = 0; i < n; i += 7) gone[i >> 1] = true;
        var left = 0;
        for (var i = 0; i < n; i++) left += !gone[i];
        return (2 * n + left) + " " + left + " " + n;
    }],
    ["rows selected into objects", 300000, function (n) {
        var db = new SQLite(":memory:");
        var rows = db.query("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c " +
                            "LIMIT " + n + ") SELECT x AS id, 'row ' || x AS name FROM c");
        db.close();
        return rows.length + " " + rows[n - 1].id + " " + rows[n - 1].name;
    }, function (n) { return n + " " + n + " row " + n; }],
    ["an array comprehension over an array of that length", 1000000, function (n) {
        var a = [];
        for (var i = 0; i < n; i++) a.push(i);
        var b = eval("[x * 2 for each (x in a)]"); // the file itself stays plain script
        return b.length + " " + b[n - 1];
    }, function (n) { return n + " " + 2 * (n - 1); }],
    ["toXMLString of a document of 20 MB (items)", 200000, function (n) {
        var parts = [];
        for (var i = 0; i < n; i++)
            parts.push("<item id=\"" + i + "\">value number " + i + " of the list, with a few more words " +
                       "to make it a line of its own</item>");
        var x = new XML("<list>" + parts.join("") + "</list>");
        parts = null;
        var s = x.toXMLString();
        return x.item.length() + " " + (s.length > n * 100) + " " + x.item[n - 1].attribute("id");
    }, function (n) { return n + " true " + (n - 1); }],
    ["a 64 MB text made by join (parts of 64 characters)", 1000000, function (n) {
        var parts = [];
        for (var i = 0; i < n; i++) parts.push("0123456789abcdef0123456789abcdef0123456789abcdef012345678" + (1000000 + i));
        var s = parts.join("");
        return s.length + " " + s.slice(-7) + " " + s.slice(64, 128 - 7);
    }, function (n) { return 64 * n + " " + (999999 + n) + " 0123456789abcdef0123456789abcdef0123456789abcdef012345678"; }]
];

workloads.forEach(function (w) {
    var n = w[1] / scale;
    test(n + " " + w[0], function () { assertEq(w[2](n), w[3](n)); });
});

// A TypeError that the engine makes, and the line it names.
function readNull() { return null.x; } var readNullLine = new Error().lineNumber;

// Fills the heap to its ceiling: pieces of 1 MB, then ever smaller ones until not even a
// small object fits. Notes in result the first out-of-memory error and the line that raised
// it; once the heap is full it makes nothing more (a script on a full heap gets its error
// and its catch, and then must let go before it makes more).
function fillHeap(hog, result) {
    var pieces = [];
    for (var size = 1 << 20; size >= 16; size >>= 4) pieces.push(new Array(size + 1).join("x"));
    result[1] = new Error().lineNumber + 4;
    while (pieces.length) {
        var piece = pieces.shift();
        try {
            for (;;) hog.push(hog.length + piece); // distinct from the first character
        } catch (e) {
            if (!result[0]) result[0] = e;
        }
    }
    try {
        for (;;) hog.push({});
    } catch (e) {}
}

test("a runaway allocation stops at the ceiling with a catchable error naming its line", function () {
    var hog = [];
    var caught = [null, 0];
    fillHeap(hog, caught);
    var e = caught[0], held = hog.length;
    // With the heap full, errors are still made whole (the checks come after letting go,
    // as their messages would need memory).
    var t = null;
    try { readNull(); } catch (x) { t = x; }
    hog.length = 0;
    assertTrue(e instanceof Error, "an Error: " + e);
    assertEq(e.message, "out of memory");
    assertEq(e.fileName.slice(-12), "heap_test.js");
    assertEq(e.lineNumber, caught[1]);
    assertTrue(held > 1000, "held " + held + " pieces");
    assertTrue(t instanceof TypeError, "a TypeError: " + t);
    assertEq(t.lineNumber, readNullLine);
    // Let go, and the script allocates again.
    var a = [];
    for (var i = 0; i < 100000; i++) a.push({i: i});
    assertEq(a[99999].i, 99999);
});

done();
