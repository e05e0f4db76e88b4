// File.compress and File.uncompress: byte strings in the zlib stream format.

function bytes(s) {
    var out = [];
    for (var i = 0; i < s.length; i++) out.push(s.charCodeAt(i).toString(16));
    return out.join(" ");
}

function allBytes() {
    var s = "";
    for (var i = 0; i < 256; i++) s += String.fromCharCode(i);
    return s;
}

// Deterministic pseudo-random bytes, which deflate cannot shrink.
// Strings are built with join: growing one by += copies it each time.
function noise(n, start) {
    var parts = [], x = start;
    for (var i = 0; i < n; i++) {
        x = (x * 1103515245 + 12345) % 2147483648;
        parts.push(String.fromCharCode((x >> 16) & 255));
    }
    return parts.join("");
}

function repeat(s, n) {
    return new Array(n + 1).join(s);
}

var samples = [
    "a",
    "\x00",
    "\x00\x00\x00",
    "hello\x00world\x00",
    "\xFF\xFE\x80\x7F",
    allBytes(),
    allBytes() + allBytes().split("").reverse().join(""),
    repeat("abc", 10000),
    repeat("\x00", 70000),
    noise(1, 1),
    noise(10, 2),
    noise(100, 3),
    noise(1000, 4),
    noise(65536, 5)
];

test("round trip keeps every byte", function () {
    for (var i = 0; i < samples.length; i++) {
        var s = samples[i];
        var z = File.compress(s);
        var back = File.uncompress(z, s.length);
        assertEq(back.length, s.length, "length of sample " + i);
        assertTrue(back === s, "bytes of sample " + i);
    }
});

test("streams begin 78 9C and fit the output buffer", function () {
    for (var i = 0; i < samples.length; i++) {
        var n = samples[i].length, z = File.compress(samples[i]);
        assertEq(bytes(z.substring(0, 2)), "78 9c", "header of sample " + i);
        assertTrue(z.length <= Math.floor(n * 1.1 + 12), "sample " + i + ": " + z.length);
    }
    assertTrue(File.compress(repeat("abc", 10000)).length < 200, "repetition shrinks");
});

test("the empty string compresses to the 8-byte empty stream", function () {
    var z = File.compress("");
    assertEq(z.length, 8);
    assertEq(bytes(z), "78 9c 3 0 0 0 0 1");
    assertEq(File.uncompress(z, 0), "");
    assertEq(File.uncompress(z, 10), "");
});

test("arguments are converted to strings", function () {
    assertEq(File.uncompress(File.compress(12345), 5), "12345");
    assertEq(File.uncompress(File.compress(null), 4), "null");
    assertEq(File.uncompress(File.compress("abc"), "3"), "abc", "size as a numeric string");
    assertEq(File.uncompress(File.compress("abc"), 3.9), "abc", "size truncated");
    // An object's text is asked for once: a second conversion could give another length.
    var calls = 0, changing = { toString: function () { return ++calls == 1 ? "ab" : "abcdefgh"; } };
    assertEq(File.uncompress(File.compress(changing), 8), "ab", "the first text");
    assertEq(calls, 1, "one conversion");
});

test("a larger result size returns just the data", function () {
    var z = File.compress("just this");
    assertEq(File.uncompress(z, 100), "just this");
    assertEq(File.uncompress(z, 1000000), "just this");
});

test("a smaller result size is a catchable buffer error", function () {
    var z = File.compress(allBytes());
    var e = assertThrows(function () { File.uncompress(z, 255); });
    assertTrue(e instanceof Error, "an Error");
    assertEq(e.message, "File.compress: Buffer error");
    e = assertThrows(function () { File.uncompress(File.compress("ab"), 0); });
    assertEq(e.message, "File.compress: Buffer error");
    // The script goes on normally after catching it.
    assertEq(File.uncompress(z, 256), allBytes());
});

test("characters above U+00FF compress as their low byte", function () {
    var z = File.compress("\u0141\u20AC\uFF41a");
    assertEq(bytes(File.uncompress(z, 4)), "41 ac 41 61");
    assertTrue(File.compress("\u0141") === File.compress("A"), "same stream as the low byte");
});

test("input that is no complete zlib stream gives what was restored", function () {
    var text = repeat("The quick brown fox. ", 200);
    var z = File.compress(text);
    var cut = File.uncompress(z.substring(0, z.length >> 1), text.length);
    assertTrue(cut.length < text.length, "shorter: " + cut.length);
    assertEq(cut, text.substring(0, cut.length), "a prefix of the data");
    var noCheck = z.substring(0, z.length - 4);
    assertEq(File.uncompress(noCheck, text.length + 1), text, "a missing checksum");
    assertEq(File.uncompress(noCheck, text.length), text, "a missing checksum, exact size");

    var bad = z.substring(0, z.length - 1) + String.fromCharCode(z.charCodeAt(z.length - 1) ^ 1);
    assertEq(File.uncompress(bad, text.length), text, "a wrong checksum: the data restored");
    var garbage = ["", "x", "garbage", "\x78\x9C", "\x78\x9C\xFF\xFF\xFF\xFF", noise(5000, 9),
                   "\x78\x9C" + noise(5000, 10)];
    for (var i = 0; i < garbage.length; i++) {
        var r;
        try {
            r = File.uncompress(garbage[i], 100);
        } catch (e) {
            r = e.message; // random deflate data may well restore more than 100 bytes
            assertEq(r, "File.compress: Buffer error", "garbage " + i);
        }
        assertEq(typeof r, "string", "garbage " + i);
        assertTrue(r.length <= 100, "garbage " + i + " stays within the size");
    }
    assertEq(File.uncompress("garbage", 10), "", "nothing restored");
});

test("odd result sizes do not crash", function () {
    var z = File.compress("abc");
    var sizes = [-1, NaN, "x", undefined, null, {}, Infinity, -Infinity, 1e20, -1e20, 2147483648];
    for (var i = 0; i < sizes.length; i++) {
        var r;
        try {
            r = File.uncompress(z, sizes[i]);
        } catch (e) {
            r = e.message;
        }
        assertEq(typeof r, "string", "size " + sizes[i]);
    }
    assertEq(File.uncompress(z, 4294967299), "abc", "the low 32 bits: 3");
    assertEq(File.uncompress(z, -1), "abc", "-1 is room for 2^32 - 1 bytes, used as needed");
    assertEq(File.uncompress(z, -4294967293), "abc", "the low 32 bits: 3");
    assertEq(assertThrows(function () { File.uncompress(z, NaN); }).message,
             "File.compress: Buffer error", "NaN is no room");
});

test("too few arguments are format errors with the usage text", function () {
    var e = assertThrows(function () { File.compress(); });
    assertEq(e.message, "Native function format error: File.compress(<content>)");
    e = assertThrows(function () { File.uncompress(); });
    assertEq(e.message, "Native function format error: File.uncompress(<content>, <result size>)");
    e = assertThrows(function () { File.uncompress(File.compress("a")); });
    assertEq(e.message, "Native function format error: File.uncompress(<content>, <result size>)");
    assertEq(File.uncompress(File.compress("a"), 1, "extra"), "a", "extra arguments ignored");
});
