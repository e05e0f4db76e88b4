// The package reader (initAFS, extract) on packages that the test writes itself into a
// scratch folder under the working directory: well-formed ones, ones with data behind
// them, and damaged ones.

var scratch = "package_test_" + System.getPID();
var MAGIC = "\xAB\xCD\xAB\xCD";

function path(name) {
    return scratch + "/" + name;
}

function u32(v) {
    return String.fromCharCode((v >>> 24) & 255, (v >>> 16) & 255, (v >>> 8) & 255, v & 255);
}

function repeat(s, n) {
    return new Array(n + 1).join(s);
}

function allBytes() {
    var parts = [];
    for (var i = 0; i < 256; i++) parts.push(String.fromCharCode(i));
    return parts.join("");
}

function writeFile(name, content) {
    var f = new File(path(name), "wb");
    assertEq(f.write(content), content.length, "write " + name);
    f.close();
    return path(name);
}

// The parts of a block for files = [[name, content], ...]; `tweak` may change the
// directory text or the parts before they are joined.
function blockParts(files, tweak) {
    var fsd = {}, streams = [];
    for (var i = 0; i < files.length; i++) {
        var z = File.compress(files[i][1]);
        fsd[files[i][0]] = { size: files[i][1].length, csize: z.length,
                             time: 1346147708000 + i * 1000, module: "app" };
        streams.push(z);
    }
    tweak = tweak || {};
    if (tweak.fsd) tweak.fsd(fsd);
    var p = { text: uneval(fsd), streams: streams };
    if (tweak.text) p.text = tweak.text(p.text);
    p.dir = File.compress(p.text);
    p.csize = p.dir.length;
    p.size = p.text.length;
    if (tweak.parts) tweak.parts(p);
    return p;
}

// image + u32 csize + u32 size + dir stream + streams + magic + u32 total length.
function makeBlock(files, tweak) {
    var p = blockParts(files, tweak);
    var body = u32(p.csize) + u32(p.size) + p.dir + p.streams.join("") + MAGIC;
    var length = p.length !== undefined ? p.length : body.length + 4;
    return body + u32(length);
}

function makePackage(name, image, files, tweak, after) {
    return writeFile(name, image + makeBlock(files, tweak) + (after || ""));
}

function open(file) {
    return new File(file, "rb");
}

var sample = [
    ["scripts/autorun.js", "System.print('hello');\n"],
    ["bin/all.bin", allBytes() + allBytes()],
    ["empty.txt", ""],
    ["html/index.html", repeat("<p>text</p>\n", 500)],
    ["Case.txt", "upper"],
    ["case.txt", "lower"]
];

test("declared counts and the format error", function () {
    assertEq(File.prototype.initAFS.length, 0);
    assertEq(File.prototype.extract.length, 0);
    var e = assertThrows(function () { new File().extract(); });
    assertEq(e.message, "Native function format error: File.extract(<fileName>)");
});

assertTrue(File.createDir(scratch), "scratch folder made");
try {
    var image = "IMAGE" + allBytes() + "END";
    var pkg = makePackage("good", image, sample);

    test("initAFS publishes size, pos and the directory", function () {
        var f = open(pkg);
        f.read(7);
        assertEq(f.initAFS(), true);
        var block = makeBlock(sample);
        assertEq(f.afs.size, block.length, "size: the block's length");
        assertEq(f.afs.pos, image.length, "pos: the image's length");
        assertEq(Object.keys(f.afs).join(), "size,pos,fsd");
        assertEq(Object.keys(f.afs.fsd).join(),
                 "scripts/autorun.js,bin/all.bin,empty.txt,html/index.html,Case.txt,case.txt");
        var e = f.afs.fsd["bin/all.bin"];
        assertEq(e.size, 512);
        assertEq(e.time, 1346147709000);
        assertEq(e.module, "app", "attributes the reader does not use stay");
        assertEq(Object.getOwnPropertyDescriptor(f.afs, "fsd").writable, false, "read-only");
        f.close();
    });

    test("entry offsets: after the directory stream, then cumulative", function () {
        var f = open(pkg);
        f.initAFS();
        var dirCsize = blockParts(sample).csize;
        var fsd = f.afs.fsd, expected = f.afs.pos + 8 + dirCsize;
        for (var name in fsd) {
            assertEq(fsd[name].pos, expected, "pos of " + name);
            expected += fsd[name].csize;
        }
        assertEq(expected + 8, f.afs.pos + f.afs.size, "streams end at the trailer");
        f.close();
    });

    test("entry offsets follow the enumeration order, whatever the names and values", function () {
        var texts = [
            function (t) { return t; },
            function (t) { return t.replace("({", "({'7':{size:1, csize:11}, "); },
            function (t) { return t.replace("({", "({'case.txt':{size:1, csize:40}, "); },
            function (t) { return t.replace(/csize:(\d+)/, "csize:'$1'"); },
            function (t) { return t.replace("({", "({x:7, y:[1], z:{size:2}, "); }
        ];
        for (var i = 0; i < texts.length; i++) {
            var tweak = { text: texts[i] };
            var f = open(makePackage("order" + i, image, sample, tweak));
            assertEq(f.initAFS(), true, "text " + i);
            var fsd = f.afs.fsd, expected = f.afs.pos + 8 + blockParts(sample, tweak).csize;
            for (var name in fsd) {
                if (typeof fsd[name] !== "object") continue;
                assertEq(fsd[name].pos, expected, "text " + i + ": pos of " + name);
                var d = Object.getOwnPropertyDescriptor(fsd[name], "pos");
                assertEq(d.enumerable && !d.writable, true, "text " + i + ": attributes");
                expected += +(fsd[name].csize || 0);
            }
            f.close();
        }
    });

    test("extract returns the exact bytes; an empty entry gives undefined", function () {
        var f = open(pkg);
        f.initAFS();
        for (var i = 0; i < sample.length; i++) {
            var got = f.extract(sample[i][0]);
            if (sample[i][1] === "") assertEq(got, undefined, "empty entry");
            else assertTrue(got === sample[i][1], "content of " + sample[i][0]);
        }
        f.close();
        assertEq(f.extract("scripts/autorun.js"), undefined, "after close");
    });

    test("names match exactly", function () {
        var f = open(pkg);
        f.initAFS();
        assertEq(f.extract("Case.txt"), "upper");
        assertEq(f.extract("case.txt"), "lower");
        var wrong = ["./scripts/autorun.js", "Scripts/autorun.js", "scripts\\autorun.js",
                     "/scripts/autorun.js", "scripts/autorun.js ", "scripts", ""];
        for (var i = 0; i < wrong.length; i++) {
            var e = assertThrows(function () { f.extract(wrong[i]); }, wrong[i]);
            assertTrue(e instanceof Error, "an Error for " + wrong[i]);
            assertEq(e.message, "AFS: no entry '" + wrong[i] + "'");
        }
        assertEq(f.extract(new String("case.txt")), "lower", "the name is converted to a string");
        f.close();
    });

    test("extract reads at the entry's offset and leaves the position alone", function () {
        var f = open(pkg);
        f.initAFS();
        assertEq(f.read(5), "IMAGE", "the next read starts at offset 0");
        assertEq(f.pos, 5);
        assertEq(f.extract("html/index.html").length, 6000);
        assertEq(f.pos, 5, "pos not updated");
        assertEq(f.read(1), "\x00", "the stream position is where it was");
        f.seek(-4);
        assertEq(f.extract("case.txt"), "lower");
        assertEq(f.read(4), u32(makeBlock(sample).length));
        f.close();
    });

    test("initAFS again reads the file again and rewinds", function () {
        var f = open(pkg);
        f.initAFS();
        var first = f.afs;
        f.seek(100);
        assertEq(f.initAFS(), true);
        assertEq(f.pos, 0);
        assertTrue(f.afs !== first, "a new afs");
        assertEq(f.afs.fsd["case.txt"].pos, first.fsd["case.txt"].pos);
        f.close();
    });

    test("a file without the trailer: false, no afs, position 0", function () {
        // Each file with its first two bytes.
        var files = [[writeFile("plain", "just some text without a package"), "ju"],
                     [writeFile("short", MAGIC), "\xAB\xCD"], [writeFile("zero", ""), ""],
                     [writeFile("big", repeat("0123456789", 3000)), "01"]];
        for (var i = 0; i < files.length; i++) {
            var f = open(files[i][0]);
            f.read(3);
            assertEq(f.initAFS(), false, files[i][0]);
            assertEq(f.afs, undefined, files[i][0]);
            assertEq(f.pos, 0, files[i][0]);
            assertEq(f.read(2), files[i][1], files[i][0] + " rewound");
            var e = assertThrows(function () { f.extract("scripts/autorun.js"); });
            assertEq(e.message, "AFS: no package directory");
            f.close();
        }
        assertEq(new File(path("missing"), "rb").initAFS(), false, "a file that did not open");
        assertEq(new File().initAFS(), false, "a closed object");
    });

    test("data behind the block is found within the last 10000 bytes", function () {
        var bigImage = repeat("I", 12000);
        var block = makeBlock(sample);
        var tails = [1, 500, 9991, 9992];
        for (var i = 0; i < tails.length; i++) {
            var name = "tail" + tails[i];
            makePackage(name, bigImage, sample, null, repeat("\x00", tails[i]));
            var f = open(path(name));
            assertEq(f.initAFS(), true, tails[i] + " bytes behind");
            assertEq(f.afs.pos, 12000);
            assertEq(f.afs.size, block.length);
            assertEq(f.pos, 0);
            assertTrue(f.extract("bin/all.bin") === allBytes() + allBytes(), "extract " + name);
            f.close();
        }
        makePackage("tail9993", bigImage, sample, null, repeat("\x00", 9993));
        assertEq(open(path("tail9993")).initAFS(), false, "the magic just outside the window");

        // The first magic in the window wins: a second block behind the first is not used.
        var second = makeBlock([["other.txt", "other"]]);
        makePackage("two", bigImage, sample, null, "junk" + second + "junk");
        var t = open(path("two"));
        assertEq(t.initAFS(), true);
        assertEq(t.afs.pos, 12000);
        assertEq(t.extract("case.txt"), "lower");
        t.close();

        // A file shorter than the window is recognised only by its last 8 bytes.
        makePackage("smalltail", image, sample, null, "junk");
        var s = open(path("smalltail"));
        assertEq(s.initAFS(), false);
        assertEq(s.afs, undefined);
        s.close();
    });

    test("the magic inside the image does not disturb the trailer", function () {
        var magicImage = repeat("x", 11000) + MAGIC + u32(5) + "yyyy";
        var f = open(makePackage("magicimage", magicImage, sample));
        assertEq(f.initAFS(), true);
        assertEq(f.afs.pos, 11012);
        assertEq(f.extract("case.txt"), "lower");
        f.close();
    });

    test("a package with no image in front of it", function () {
        var f = open(makePackage("bare", "", sample));
        assertEq(f.initAFS(), true);
        assertEq(f.afs.pos, 0);
        assertEq(f.extract("Case.txt"), "upper");
        f.close();
    });

    test("damaged blocks: false, no afs, position 0, never a crash", function () {
        var damaged = {
            "length past the file's start": { parts: function (p) { p.length = 1e6; } },
            "length below the smallest block": { parts: function (p) { p.length = 20; } },
            "length zero": { parts: function (p) { p.length = 0; } },
            "length 0xFFFFFFFF": { parts: function (p) { p.length = 0xFFFFFFFF; } },
            "directory csize past the block": { parts: function (p) { p.csize = 0x7FFFFFFF; } },
            "directory csize cut short": { parts: function (p) { p.csize -= 3; } },
            "directory size too large": { parts: function (p) { p.size += 1; } },
            "directory size too small": { parts: function (p) { p.size -= 1; } },
            "directory stream garbage": {
                parts: function (p) { p.dir = repeat("\xFF", p.csize); }
            },
            "directory text with a syntax error": { text: function (t) { return t + ")"; } },
            "directory text that throws": { text: function () { return "(null).x"; } },
            "directory text of a number": { text: function () { return "42"; } },
            "directory text of a string": { text: function () { return "'text'"; } },
            "directory text of null": { text: function () { return "null"; } },
            "directory text of undefined": { text: function () { return "undefined"; } },
            "directory text nested very deeply": {
                text: function () {
                    return "(" + repeat("{a:", 100000) + "1" + repeat("}", 100000) + ")";
                }
            }
        };
        for (var what in damaged) {
            var file = makePackage("damaged", image, sample, damaged[what]);
            var f = open(pkg);
            assertEq(f.initAFS(), true, "a good package first");
            assertEq(f.open(file, "rb"), true);
            f.read(10);
            var r;
            try {
                r = f.initAFS();
            } catch (e) {
                fail(what + ": threw " + e);
            }
            assertEq(r, false, what);
            assertEq(f.afs, undefined, what + ": the earlier afs is gone");
            assertEq(f.pos, 0, what + ": pos");
            assertEq(f.read(5), "IMAGE", what + ": file position");
            assertEq(assertThrows(function () { f.extract("case.txt"); }).message,
                     "AFS: no package directory", what);
            f.close();
        }
        // Nothing failed silently on the way: a plain error afterwards is the one thrown.
        var e = assertThrows(function () { new File().extract(); });
        assertEq(e.message, "Native function format error: File.extract(<fileName>)");
    });

    test("a directory that reads its own package again ends without a fault", function () {
        // The recursion stops with an InternalError where the C stack runs low: raised to the
        // script when that happens at a native's call, or taken by the deepest initAFS as
        // a directory that failed (false) when it happens inside the directory's evaluation.
        var file = makePackage("reentrant", image, sample,
                               { text: function () { return "readAgain()"; } });
        var depth = 0, caught = null;
        global.readAgain = function () {
            depth++;
            try {
                open(file).initAFS();
            } catch (e) {
                caught = caught || e;
            }
        };
        assertEq(open(file).initAFS(), false);
        assertEq(depth, 0, "nothing of the directory ran");
        assertTrue(caught === null || caught instanceof InternalError, "an InternalError: " + caught);
        delete global.readAgain;
    });

    test("sizes beyond what memory holds are a catchable memory error", function () {
        var f = open(makePackage("hugedir", image, sample,
                                 { parts: function (p) { p.size = 0xFFFFFFFF; } }));
        var e = assertThrows(function () { f.initAFS(); });
        assertTrue(e instanceof Error);
        assertEq(e.message, "AFS: cannot allocate memory");
        assertEq(f.afs && f.afs.fsd, undefined, "no directory");
        f.close();

        var g = open(makePackage("hugeentry", image, sample,
                                 { fsd: function (fsd) { fsd["case.txt"].size = 2147483647; } }));
        assertEq(g.initAFS(), true);
        e = assertThrows(function () { g.extract("case.txt"); });
        assertEq(e.message, "AFS: cannot allocate memory");
        assertEq(g.extract("Case.txt"), "upper", "the others still extract");
        g.close();
    });

    test("a directory written as an expression rather than a plain literal", function () {
        var tweak = {
            text: function (t) { return "/* dir */ " + t.replace(/size:/g, "size:0+"); }
        };
        var f = open(makePackage("exprdir", image, sample, tweak));
        assertEq(f.initAFS(), false);
        assertEq(f.afs, undefined);
        f.close();
    });

    test("reading a directory runs none of it; its names are its own", function () {
        global.ran = 0;
        var scripts = ["ran++, ({})", "({a:(ran++, {size:1})})", "(function(){ran++; return {};})()",
                       "({get a() { ran++; }})", "new Object(ran++)"];
        for (var i = 0; i < scripts.length; i++) {
            var f = open(makePackage("script" + i, image, sample,
                                     { text: function () { return scripts[i]; } }));
            assertEq(f.initAFS(), false, scripts[i]);
            f.close();
        }
        assertEq(ran, 0, "nothing ran");
        delete global.ran;
        var names = { fsd: function (fsd) {
            fsd.toString = { size: 1, csize: 9, time: 0, module: "" };
            Object.defineProperty(fsd, "__proto__", { value: fsd["case.txt"], enumerable: true });
        } };
        var g = open(makePackage("ownnames", image, sample, names));
        assertEq(g.initAFS(), true);
        assertEq(Object.getPrototypeOf(g.afs.fsd), Object.prototype);
        assertEq(Object.keys(g.afs.fsd).slice(-2).join(), "toString,__proto__");
        assertEq(g.afs.fsd.__proto__.size, 5, "__proto__ is an entry");
        g.close();
    });

    test("an array or other object as the directory is read as one", function () {
        var tweak = { text: function () { return "[]"; } };
        var f = open(makePackage("arraydir", image, sample, tweak));
        assertEq(f.initAFS(), true);
        assertEq(Object.keys(f.afs.fsd).length, 0);
        assertEq(assertThrows(function () { f.extract("0"); }).message, "AFS: no entry '0'");
        f.close();
    });

    test("damaged entries throw a catchable error naming the entry", function () {
        var cases = {
            "stream cut short": function (p) { p.streams[5] = p.streams[5].substring(0, 5); },
            "stream garbage": function (p) { p.streams[5] = repeat("\x00", p.streams[5].length); }
        };
        for (var what in cases) {
            var f = open(makePackage("badentry", image, sample, { parts: cases[what] }));
            assertEq(f.initAFS(), true, what);
            var e = assertThrows(function () { f.extract("case.txt"); }, what);
            assertTrue(e instanceof Error, what);
            assertEq(e.message, "AFS: damaged entry 'case.txt'", what);
            assertEq(f.extract("Case.txt"), "upper", what + ": the others still extract");
            f.close();
        }

        var sizes = {
            "size too large": function (fsd) { fsd["case.txt"].size += 1; },
            "size too small": function (fsd) { fsd["case.txt"].size -= 1; },
            "csize too small": function (fsd) { fsd["case.txt"].csize -= 1; },
            "csize past the file": function (fsd) { fsd["case.txt"].csize = 1e6; },
            "csize negative": function (fsd) { fsd["case.txt"].csize = -10; },
            "csize not a number": function (fsd) { fsd["case.txt"].csize = "many"; }
        };
        for (var what2 in sizes) {
            var g = open(makePackage("badsize", image, sample, { fsd: sizes[what2] }));
            assertEq(g.initAFS(), true, what2);
            var e2 = assertThrows(function () { g.extract("case.txt"); }, what2);
            assertEq(e2.message, "AFS: damaged entry 'case.txt'", what2);
            g.close();
        }

        // Entries changed by a script after initAFS: offsets outside the file.
        var h = open(pkg);
        h.initAFS();
        h.afs.fsd["fake"] = { pos: -5, csize: 10, size: 10 };
        h.afs.fsd["far"] = { pos: 1e9, csize: 10, size: 10 };
        h.afs.fsd["huge"] = { pos: 0, csize: 2147483647, size: 10 };
        var names = ["fake", "far", "huge"];
        for (var i = 0; i < names.length; i++) {
            var e3 = assertThrows(function () { h.extract(names[i]); }, names[i]);
            assertEq(e3.message, "AFS: damaged entry '" + names[i] + "'");
        }
        h.afs.fsd["nosize"] = { pos: 0, csize: 10, size: "x" };
        assertEq(h.extract("nosize"), undefined, "a size that is no number is below 1");
        h.close();
    });

    test("names with bytes above 127 are looked up by their bytes", function () {
        var files = [["caf\xE9.txt", "latin"], ["\xFF", "ff"]];
        var f = open(makePackage("latin", image, files));
        assertEq(f.initAFS(), true);
        assertEq(f.extract("caf\xE9.txt"), "latin");
        assertEq(f.extract("\xFF"), "ff");
        f.close();
    });

    test("a large package with many entries", function () {
        var files = [];
        for (var i = 0; i < 300; i++)
            files.push(["dir" + (i % 7) + "/file" + i + ".js", "// " + i + repeat("x", i)]);
        var f = open(makePackage("many", image, files));
        assertEq(f.initAFS(), true);
        for (var j = 0; j < files.length; j += 37) assertEq(f.extract(files[j][0]), files[j][1]);
        f.close();
    });
    // Threads sharing one package object each get their own entry's bytes: an extract
    // never reads at another thread's position.
    test("threads extracting through one object", function () {
        var files = [];
        for (var i = 0; i < 8; i++) files.push(["part" + i, repeat(String.fromCharCode(65 + i), 3000 + i)]);
        sharedPackage = open(makePackage("shared", image, files));
        assertEq(sharedPackage.initAFS(), true);
        sharedFiles = files;
        sharedResults = {};
        for (var t = 0; t < 4; t++)
            System.createThread("(function () { var bad = 0;" +
                " for (var n = 0; n < 200; n++) { var k = (n * 3 + " + t + ") % 8;" +
                "  if (sharedPackage.extract(sharedFiles[k][0]) !== sharedFiles[k][1]) bad++; }" +
                " sharedResults[" + t + "] = bad; })()");
        var mine = 0;
        for (var n = 0; n < 200; n++) {
            var k = n % 8;
            if (sharedPackage.extract(files[k][0]) !== files[k][1]) mine++;
        }
        assertEq(mine, 0, "main thread mismatches");
        assertTrue(waitUntil(function () { return Object.keys(sharedResults).length === 4; }),
                   "threads finished");
        for (var r in sharedResults) assertEq(sharedResults[r], 0, "thread " + r + " mismatches");
        sharedPackage.close();
    });
} finally {
    assertTrue(removeTree(scratch), "scratch folder removed");
}
