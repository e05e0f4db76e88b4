// E4X values live in native memory held by their script objects: a loop that builds and
// drops a million small XML values runs in flat memory, the trees going with the objects
// that the collector frees.

// Resident memory in kB (Linux), or -1 where /proc is not there.
function residentKB() {
    try {
        var f = new File("/proc/self/status", "r"), s = "", c;
        while ((c = f.read(4096)).length) s += c;
        f.close();
        return +/VmRSS:\s*(\d+)/.exec(s)[1];
    } catch (e) {
        return -1;
    }
}

test("a million XML values built and dropped in flat memory", function () {
    var before = -1, peak = 0;
    for (var i = 0; i < 1000000; i++) {
        var x = XML("<a><b k='" + i + "'>" + i + "</b></a>");
        var b = x.b;
        if (b["@k"] != i) fail("lost item " + i);
        if (i === 100000) before = residentKB();
        if (i % 100000 === 0) peak = Math.max(peak, residentKB());
    }
    // After the first hundred thousand the process must not grow: allow 4 MB of noise.
    if (before > 0) assertTrue(peak - before < 4096, "grew from " + before + " to " + peak + " kB");
});

test("lists, copies and detached parts go with their wrappers", function () {
    var before = -1, peak = 0;
    var doc = XML("<r><a><b/><c/></a></r>");
    for (var i = 0; i < 200000; i++) {
        var c = doc.a.copy();
        c.appendChild(XML("<d>" + i + "</d>"));
        delete c.b;
        var l = c["*"] + doc.a["*"];
        if (l.length() !== 4) fail("list of " + l.length());
        if (i === 20000) before = residentKB();
        if (i % 20000 === 0) peak = Math.max(peak, residentKB());
    }
    if (before > 0) assertTrue(peak - before < 4096, "grew from " + before + " to " + peak + " kB");
});

test("trees that only a cycle of objects holds are collected when the limit comes near", function () {
    var text = "<a>" + new Array(200001).join("<b/>") + "</a>";
    for (var i = 0; i < 30; i++) { // some 25 MB of tree each, 750 MB in all
        var holder = {x: XML(text)};
        holder.self = holder; // reference counts alone never free it
    }
    assertEq(holder.x.b.length(), 200000);
});

done();
