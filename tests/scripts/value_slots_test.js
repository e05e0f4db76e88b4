// What a value is when it comes back out of an array element, a property and a variable:
// numbers at the edges of the integer range, every NaN a program can make from bytes, and
// accessor properties through their whole life (made, turned into data and back, deleted,
// their object let go of).

function roundTrip(v) {
    var a = [v], o = {p: v}, x = v;
    a.push(a[0]);
    return [a[0], a[1], o.p, x];
}

// Each value read back from an array, a property and a variable is the value put in.
table("a number keeps its value in every kind of slot", [
    ["140737488355327", "140737488355327"], // the largest integer held without a double
    ["-140737488355328", "-140737488355328"],
    ["140737488355328", "140737488355328"],
    ["-140737488355329", "-140737488355329"],
    ["4294967296 * 4294967296", "18446744073709552000"],
    ["9007199254740992 + 2", "9007199254740994"],
    ["1 / -0", "-Infinity"],
    ["-Infinity", "-Infinity"],
    ["0.1 + 0.2", "0.30000000000000004"],
    ["5e-324", "5e-324"],
], function (v) {
    var r = roundTrip(v);
    for (var i = 1; i < r.length; i++)
        if (!(r[i] === r[0] && 1 / r[i] === 1 / r[0])) return "slot " + i + " gave " + r[i];
    return String(r[0]);
});

// The bytes of a double whose high bits look like no number at all: any NaN, read back as
// the one NaN, whatever its sign and payload.
function fromBytes(hex) {
    var b = new Uint8Array(8);
    for (var i = 0; i < 8; i++) b[7 - i] = parseInt(hex.substr(2 * i, 2), 16);
    return new Float64Array(b.buffer)[0];
}
table("a double made from bytes is a number, NaN when its bits are one", [
    ["fff1000000000005", "number NaN"],
    ["fff8000012345678", "number NaN"],
    ["fff9000000001000", "number NaN"],
    ["fffa7fffffffffff", "number NaN"],
    ["ffffffffffffffff", "number NaN"],
    ["7ff0000000000001", "number NaN"],
    ["fff0000000000000", "number -Infinity"],
    ["3ff0000000000000", "number 1"],
], function (hex) {
    var r = roundTrip(fromBytes(hex));
    var d = new DataView(new Uint8Array([parseInt(hex.substr(0, 2), 16), parseInt(hex.substr(2, 2), 16),
                                         0, 0, 0, 0, 0, 1]).buffer).getFloat64(0);
    var same = r.every(function (x) { return typeof x == typeof r[0] && String(x) == String(r[0]); });
    return same && typeof d == "number" ? typeof r[0] + " " + r[0] : "differs: " + uneval(r);
}, function (hex) { return hex; });

// A string that is not ASCII keeps its length beside its text: made by each way a string
// is made, its length and its characters read back (twice: the count is kept once made).
table("a string's length counts its characters, however it was made", [
    ["'\u00e9t\u00e9'", "3 3 \u00e9t\u00e9"],
    ["'a' + '\u20ac' + 'b'", "3 3 a\u20acb"],
    ["'\ud83d\ude00'", "2 2 \ud83d\ude00"],
    ["String.fromCharCode(0x100, 0x41, 0xffff)", "3 3 \u0100A\uffff"],
    ["'x\u00e9yz'.substring(1, 3)", "2 2 \u00e9y"],
    ["(function () { var a = []; for (var i = 0; i < 3000; i++) a.push('\u00e9'); return a.join(''); })()",
     "3000 3000 \u00e9\u00e9\u00e9"],
    ["['\u00e9\u00e9', 'ab'].join('')", "4 4 \u00e9\u00e9a"],
    ["'abc'", "3 3 abc"],
    ["''", "0 0 "],
], function (str) {
    return str.length + " " + str.length + " " + str.substr(0, 3);
});

// A text is one string: made again another way, the same string and the same key, at every
// length (short strings sit in the heap's small blocks, long ones apart, each told from the
// string table by a code of its own), also after the table has grown and shrunk around it.
function madeThreeWays(n, ch) {
    var joined = new Array(n + 1).join(ch), added = "";
    for (var i = 0; i < n; i++) added += ch;
    var filler = [];
    for (var i = 0; i < 30000; i++) filler.push("filler " + i + ch);
    filler = null;
    System.gc();
    var sliced = (added + "tail").slice(0, n), o = {};
    o[joined] = n;
    var same = joined === added && added === sliced && o[added] === n && o[sliced] === n &&
               Object.keys(o).length === 1;
    return (same ? "one" : "differ") + " " + sliced.length;
}
table("a string made three ways is one string", [
    ["[0, 'a']", "one 0"],
    ["[1, 'a']", "one 1"],
    ["[235, 'a']", "one 235"], // the longest in a small block
    ["[236, 'a']", "one 236"],
    ["[4096, 'a']", "one 4096"], // joined in place
    ["[100000, 'a']", "one 100000"],
    ["[115, '\u00e9']", "one 115"],
    ["[116, '\u00e9']", "one 116"],
    ["[3000, '\u20ac']", "one 3000"],
], function (args) { return madeThreeWays(args[0], args[1]); });

table("an accessor property through its life", [
    ["var o = {}; o.__defineGetter__('x', function () { return 1; }); o.x", "1"],
    ["var o = {x: 1}; Object.defineProperty(o, 'x', {get: function () { return 3; }}); o.x", "3"],
    ["var o = {get x() { return 1; }}; Object.defineProperty(o, 'x', {value: 2}); " +
     "[o.x, typeof Object.getOwnPropertyDescriptor(o, 'x').get]", '[2, "undefined"]'],
    ["var o = {get x() { return 1; }}; delete o.x; ['x' in o, o.x]", "[false, (void 0)]"],
    ["var o = {get x() { return 1; }, y: 2}; delete o.x; o.x = 5; [o.x, o.y]", "[5, 2]"],
    ["var v = 0, o = {get x() { return v; }}; Object.defineProperty(o, 'x', {set: function (n) { v = n; }});" +
     " o.x = 7; o.x", "7"],
    ["var o = {get x() { return 1; }}; Object.defineProperty(o, 'x', {value: 2, configurable: true}); " +
     "Object.defineProperty(o, 'x', {get: function () { return 4; }}); o.x", "4"],
    ["Object.defineProperty(this, 'slotsGlobal', {get: function () { return 1; }, configurable: true});" +
     " eval('function slotsGlobal() { return 2; }'); slotsGlobal()", "2"],
    ["var o = Object.create({get x() { return 'proto'; }}); o.x", '"proto"'],
    ["var o = {get x() { return 1; }}; Object.freeze(o); [o.x, Object.isFrozen(o)]", "[1, true]"],
], uneval);

// The sanitizer builds' leak check finds a pair block left behind by any of these.
test("objects whose accessors changed are let go of", function () {
    for (var round = 0; round < 20; round++) {
        var keep = [];
        for (var i = 0; i < 2000; i++) {
            var o = {get a() { return i; }, set a(v) {}, b: i};
            o.__defineGetter__("c", function () { return 2; });
            Object.defineProperty(o, "b", {get: function () { return 3; }, configurable: true});
            delete o.c;
            o.self = o; // a cycle: only the collector frees it
            keep.push(o);
        }
        assertEq(keep[1999].b + keep[0].b, 6);
        keep = null;
        System.gc();
    }
});
