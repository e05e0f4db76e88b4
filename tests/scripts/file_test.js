// File objects on real files in a scratch folder that the test makes under the working
// directory and removes at the end: open, read, write, seek, close, the finalizer, the
// published properties and the byte-string conversion.

var scratch = "file_test_" + System.getPID();

function path(name) {
    return scratch + "/" + name;
}

function writeFile(name, content) {
    var f = new File(path(name), "wb");
    assertEq(f.write(content), content.length, "write " + name);
    f.close();
}

function readFile(name) {
    var f = new File(path(name), "rb");
    var content = f.read();
    f.close();
    return content;
}

function codes(s) {
    var out = [];
    for (var i = 0; i < s.length; i++) out.push(s.charCodeAt(i));
    return out.join(",");
}

// The descriptors this process has open, to see streams being closed. Windows gives a
// script no count of its handles (under Wine /proc shows Wine's own, which vary): 0 there.
function openDescriptors() {
    return onWindows ? 0 : File.openDir("/proc/self/fd/*").length;
}

test("declared argument counts", function () {
    var counts = { open: 2, close: 0, read: 1, write: 1, seek: 1, initAFS: 0, extract: 0 };
    for (var name in counts) assertEq(File.prototype[name].length, counts[name], name);
    assertEq(File.length, 0, "constructor");
    assertEq(File.compress.length, 1, "compress");
    assertEq(File.uncompress.length, 1, "uncompress");
});

test("too few arguments are format errors with the usage text", function () {
    var f = new File();
    var cases = [
        [function () { f.open(); }, "File.open(<path>, <mode>)"],
        [function () { f.open(path("x")); }, "File.open(<path>, <mode>)"],
        [function () { f.write(); }, "File.write(<content>)"],
        [function () { f.seek(); }, "File.seek(<pos>)"],
        [function () { f.extract(); }, "File.extract(<fileName>)"]
    ];
    for (var i = 0; i < cases.length; i++) {
        var e = assertThrows(cases[i][0], cases[i][1]);
        assertTrue(e instanceof Error, cases[i][1] + " is an Error");
        assertEq(e.message, "Native function format error: " + cases[i][1]);
    }
    // A format error on a closed object reports before anything else happens.
    assertEq(Object.keys(f).length, 0, "nothing published by the failed calls");
    // close and read check no arguments; extra arguments are ignored everywhere.
    assertEq(f.close(1, 2, 3), undefined);
    assertEq(f.read(), undefined);
});

assertTrue(File.createDir(scratch), "scratch folder made");
try {
    test("a missing file opened with rb", function () {
        var f = new File(path("missing"), "rb");
        assertEq(Object.keys(f).join(), "path,mode,length,time,pos");
        assertEq(f.path, path("missing"));
        assertEq(f.mode, "rb");
        assertEq(f.length, 0);
        assertEq(f.time, 0);
        assertEq(f.pos, 0);
        assertEq(f.read(), undefined, "read");
        assertEq(f.read(5), undefined, "read(5)");
        assertEq(f.write("x"), undefined, "write");
        assertEq(f.seek(0), undefined, "seek");
        assertEq(f.open(path("missing"), "rb"), false, "open again");
        assertEq(File.status(path("missing")), false, "rb creates nothing");
    });

    test("published properties are read-only and keep the arguments unchanged", function () {
        writeFile("ten", "0123456789");
        var f = new File();
        var p = new String(path("ten"));
        assertEq(f.open(p, "rb"), true);
        assertEq(f.path, p, "the very object passed, not a converted copy");
        var d = Object.getOwnPropertyDescriptor(f, "pos");
        assertEq(d.writable, false, "read-only");
        assertEq(d.enumerable, true, "enumerable");
        f.pos = 99;
        assertEq(f.pos, 0, "assignment ignored");
        f.close();
    });

    test("a path alone opens nothing; a later open works", function () {
        var f = new File(path("ten"));
        assertEq(Object.keys(f).length, 0, "no properties");
        assertEq(f.path, undefined);
        assertEq(f.read(), undefined, "closed");
        assertEq(f.open(path("ten"), "rb"), true);
        assertEq(f.length, 10);
        assertEq(f.pos, 0);
        assertEq(f.read(), "0123456789");
        f.close();
        var g = new File(path("ten"), "rb", "extra");
        assertEq(Object.keys(g).length, 0, "three arguments open nothing either");
    });

    test("read: whole file, then the empty string at the end", function () {
        var f = new File(path("ten"), "rb");
        var s = f.read();
        assertEq(s, "0123456789");
        assertEq(f.pos, 10);
        assertEq(f.read(), "", "second read");
        assertEq(f.pos, 10);
        f.seek(2);
        assertEq(f.read(3), "234");
        assertEq(f.pos, 5);
        assertEq(f.read(100), "56789", "a short read is no error");
        assertEq(f.read(undefined), "", "undefined means the default length");
        f.close();
    });

    test("read: odd lengths read nothing and leave the position", function () {
        var f = new File(path("ten"), "rb");
        f.seek(4);
        var odd = [-1, -2147483648, "abc", NaN, null, 0, {}, 1e12];
        for (var i = 0; i < odd.length; i++) {
            assertEq(f.read(odd[i]), "", "read(" + odd[i] + ")");
            assertEq(f.pos, 4, "pos after read(" + odd[i] + ")");
        }
        assertEq(f.read("3"), "456", "a numeric string is a number");
        f.close();
    });

    test("read without a length takes the length the file had when opened", function () {
        var f = new File(path("ten"), "rb");
        var more = new File(path("ten"), "ab");
        assertEq(more.write("ABCDE"), 5);
        more.close();
        assertEq(f.length, 10);
        assertEq(f.read(), "0123456789");
        assertEq(f.read(), "ABCDE", "the rest, up to the recorded length");
        f.close();
        writeFile("ten", "0123456789");
    });

    test("bytes 00 FF 80 and all 256 byte values round-trip", function () {
        writeFile("three", "\x00\xFF\x80");
        var s = readFile("three");
        assertEq(s.length, 3);
        assertEq(codes(s), "0,255,128");
        writeFile("copy", s);
        assertEq(File.status(path("copy")).size, 3);
        assertEq(codes(readFile("copy")), "0,255,128");

        var all = "";
        for (var i = 0; i < 256; i++) all += String.fromCharCode(i);
        all += all;
        writeFile("all", all);
        assertEq(File.status(path("all")).size, 512);
        assertEq(readFile("all"), all);
    });

    test("characters above U+00FF are written as their low byte", function () {
        var f = new File(path("wide"), "wb");
        assertEq(f.write("a\u0141b\uFFFF"), 4, "one byte per character");
        assertEq(f.pos, 4);
        f.close();
        assertEq(codes(readFile("wide")), "97,65,98,255");
    });

    test("write returns the count and moves pos", function () {
        var f = new File(path("w"), "wb");
        assertEq(f.write(""), 0);
        assertEq(f.write(12345), 5, "a number is written as its text");
        assertEq(f.pos, 5);
        assertEq(f.write("a\x00b"), 3, "NULs are bytes, not ends");
        assertEq(f.pos, 8);
        f.close();
        assertEq(readFile("w"), "12345a\x00b");
        var r = new File(path("w"), "rb");
        assertEq(r.write("zz"), 0, "nothing accepted on a read-only stream");
        r.close();
        assertEq(readFile("w"), "12345a\x00b");
    });

    test("seek from the start and from the end", function () {
        writeFile("twenty", "abcdefghijklmnopqrst");
        var f = new File(path("twenty"), "rb");
        assertEq(f.seek(-8), undefined);
        assertEq(f.pos, 12, "size minus 8");
        assertEq(f.read(3), "mno");
        f.seek(0);
        assertEq(f.pos, 0);
        assertEq(f.read(2), "ab");
        f.seek(7.9);
        assertEq(f.pos, 7, "truncated toward zero");
        assertEq(f.read(1), "h");
        f.seek("-1");
        assertEq(f.pos, 19);
        f.close();
    });

    test("positions beyond 32 bits", function () {
        var f = new File(path("sparse"), "wb");
        f.seek(2147483647);
        assertEq(f.pos, 2147483647);
        assertEq(f.write("xyz"), 3);
        assertEq(f.pos, 2147483650, "pos past 2^31");
        f.close();
        var r = new File(path("sparse"), "rb");
        assertEq(r.length, 2147483650, "length past 2^31");
        r.seek(-3);
        assertEq(r.pos, 2147483647);
        assertEq(r.read(5), "xyz");
        assertEq(r.pos, 2147483650);
        r.close();
        assertEq(File.status(path("sparse")).size, 2147483650);
        File.remove(path("sparse"));
    });

    test("time is whole seconds in milliseconds and matches the file's status", function () {
        var before = Date.now();
        writeFile("fresh", "x");
        var f = new File(path("fresh"), "rb");
        assertEq(f.time % 1000, 0, "whole seconds");
        assertEq(f.time, File.status(path("fresh")).time);
        assertTrue(f.time > before - 5000 && f.time <= Date.now(), "about now: " + f.time);
        f.close();
        assertTrue(File.setTime(path("fresh"), 1346147708000));
        var g = new File(path("fresh"), "rb");
        assertEq(g.time, 1346147708000);
        g.close();
    });

    test("close: reads and writes give undefined, properties stay", function () {
        var f = new File(path("ten"), "rb");
        f.read(4);
        assertEq(f.close(), undefined);
        assertEq(f.read(), undefined, "read");
        assertEq(f.write("x"), undefined, "write");
        assertEq(f.seek(1), undefined, "seek");
        assertEq(f.initAFS(), false, "initAFS");
        assertEq(f.extract("x"), undefined, "extract");
        assertEq(f.path, path("ten"));
        assertEq(f.mode, "rb");
        assertEq(f.length, 10);
        assertEq(f.pos, 4);
        assertTrue(f.time > 0);
        assertEq(f.close(), undefined, "closing twice");
    });

    test("modes the runtime library does not take give false", function () {
        var bad = ["", "x", "rw", "r++", "rbb", "br", "q+", "wx+"];
        for (var i = 0; i < bad.length; i++) {
            var f = new File(path("ten"), bad[i]);
            assertEq(f.pos, 0, "mode '" + bad[i] + "'");
            assertEq(f.read(), undefined, "mode '" + bad[i] + "' opens nothing");
            assertEq(new File().open(path("ten"), bad[i]), false, "open with '" + bad[i] + "'");
        }
        assertEq(File.status(path("x")), false, "no file created");
        var ok = ["r", "rb", "r+", "rb+", "r+b", "rt"];
        for (var j = 0; j < ok.length; j++) {
            var g = new File();
            assertEq(g.open(path("ten"), ok[j]), true, "mode " + ok[j]);
            assertEq(g.read(), "0123456789", "mode " + ok[j]);
            g.close();
        }
        assertEq(readFile("ten"), "0123456789", "no mode changed the file");
    });

    test("a missing folder in the path fails to open, also for writing", function () {
        var f = new File(path("no/such/file"), "wb");
        assertEq(f.write("x"), undefined);
        assertEq(File.status(path("no")), false);
    });

    test("a folder opens as nothing", function () {
        var modes = ["rb", "r", "r+", "wb", "a"];
        for (var i = 0; i < modes.length; i++) {
            var f = new File(scratch, modes[i]);
            assertEq(f.read(), undefined, "mode " + modes[i]);
            assertEq(f.length, 0, "mode " + modes[i]);
            assertEq(new File().open(scratch, modes[i]), false, "mode " + modes[i]);
        }
        assertEq(File.status(scratch).type, "dir", "the folder is left as it was");
    });

    // Windows starts processes without inheriting any handle; Linux shows it in /proc.
    if (!onWindows) test("open streams are not inherited by started processes", function () {
        var f = new File(path("inherited-marker"), "wb");
        var fds = File.getCurrentWorkingDir() + "/" + path("fds");
        var command = '/bin/sh -c "ls -l /proc/self/fd/ > \'' + fds + '\'"';
        assertTrue(System.exec(command, undefined, 1));
        f.close();
        var listing = readFile("fds");
        assertTrue(listing.indexOf(" -> ") >= 0, "the listing shows targets: " + listing);
        assertEq(listing.indexOf("inherited-marker"), -1, listing);
    });

    test("open on an open object closes the earlier stream", function () {
        var base = openDescriptors();
        var f = new File(path("ten"), "rb"), one = onWindows ? 0 : 1;
        assertEq(openDescriptors(), base + one);
        assertEq(f.open(path("three"), "rb"), true);
        assertEq(openDescriptors(), base + one, "one stream, not two");
        assertEq(f.length, 3);
        assertEq(codes(f.read()), "0,255,128", "reads the new file");
        assertEq(f.open(path("missing"), "rb"), false);
        assertEq(openDescriptors(), base, "a failed open leaves it closed");
        assertEq(f.read(), undefined);
        assertEq(f.path, path("missing"));
        assertEq(f.length, 3, "the earlier values stay after a failed open");
    });

    test("methods on objects that are not File instances do nothing", function () {
        var names = ["open", "close", "read", "write", "seek", "initAFS", "extract"];
        var others = [{}, File.prototype, Object.create(File.prototype), new Date(0), [], File];
        for (var i = 0; i < others.length; i++) {
            for (var j = 0; j < names.length; j++) {
                var r = File.prototype[names[j]].call(others[i], path("ten"), "rb");
                assertEq(r, undefined, names[j] + " on object " + i);
            }
            assertEq(Object.keys(others[i]).length, 0, "nothing published on object " + i);
            assertEq(others[i].pos, undefined, "no pos on object " + i);
        }
        assertEq(File.status(path("x")), false);
    });

    test("File called without new opens nothing", function () {
        var base = openDescriptors();
        assertEq(File(path("ten"), "rb"), undefined);
        assertEq(File.call({}, path("ten"), "rb"), undefined);
        var f = new File(path("ten"), "rb");
        assertEq(File.call(f, path("three"), "rb"), undefined);
        assertEq(f.read(), "0123456789", "an existing File keeps its record");
        f.close();
        assertEq(openDescriptors(), base, "no stream left open");
        assertEq(global.pos, undefined, "nothing published on the global object");
    });

    test("the finalizer closes a file left open", function () {
        var base = openDescriptors();
        (function () {
            var f = new File(path("left"), "wb");
            f.write("left open");
        })();
        System.gc();
        System.gc();
        assertEq(openDescriptors(), base, "stream closed");
        assertEq(readFile("left"), "left open", "buffered data reached the file");
    });
    // A path or content whose conversion throws reaches the caller instead of being taken
    // as an empty or odd name.
    test("exceptions from converting arguments reach the caller", function () {
        var bad = { toString: function () { throw new Error("no text"); } };
        var calls = [
            function () { new File(bad, "rb"); },
            function () { File.status(bad); },
            function () { File.openDir(bad); },
            function () { File.setTime(bad, 0); },
            function () { File.compress(bad); },
            function () { new File(path("convert.bin"), "wb").write(bad); }
        ];
        for (var i = 0; i < calls.length; i++)
            assertEq(assertThrows(calls[i], "call " + i).message, "no text", "call " + i);
    });
} finally {
    assertTrue(removeTree(scratch), "scratch folder removed");
}
