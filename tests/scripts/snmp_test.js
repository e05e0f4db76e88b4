// The SNMP module (build/bin/msnmp.so) against a real snmpd that the test starts on
// 127.0.0.1 and a free port with a configuration of its own (snmp_agent.sh next to this
// file), stopped at the end whatever happens. Debian's snmpwalk and snmpget cross-check
// what the module reads and writes. A hostile agent (build/snmp-endless-agent, started
// and stopped the same way) answers every GET-NEXT with a next, larger identifier below
// the one asked for, and every GET with the count of its GET-NEXT answers so far.

var scratch = File.getCurrentWorkingDir() + "/snmp_test_" + System.getPID();
var agentTool = testFile.substring(0, testFile.lastIndexOf("/")) + "/snmp_agent.sh";
var enterprise = ".1.3.6.1.4.1.99999";
var opaque = ".1.3.6.1.4.1.99998"; // one Opaque value, a type the module does not convert
var longOid = enterprise + ".2.4294967295" + new Array(21).join(".1000000"); // 166 characters
var longText = new Array(601).join("x");
var longCommunity = "c" + new Array(60).join("9"); // 60 characters; the agent knows 49

function writeFile(name, content) {
    var f = new File(scratch + "/" + name, "wb");
    f.write(content);
    f.close();
}

function readFile(name) {
    var f = new File(scratch + "/" + name, "rb");
    var content = f.read();
    f.close();
    return content;
}

// Runs the agent tool; `line` must hold no double quote.
function agent(line) {
    assertTrue(System.exec('sh -c "sh ' + agentTool + " " + scratch + " " + line + '"', scratch, 1),
               "ran: " + line);
}

// A net-snmp tool's output lines, run against the test agent.
function tool(line) {
    var out = "tool_" + Date.now() + ".txt";
    agent("run " + line + " > " + out + " 2>&1");
    return readFile(out).replace(/\n$/, "").split("\n");
}

// snmpwalk -v1 of a subtree as the module gives it: {oid, value} pairs, TimeTicks in
// whole seconds, texts unquoted and cut at 499 bytes.
function snmpwalk(root) {
    return tool("snmpwalk -v1 -c public -On " + peer + " " + root).map(function (line) {
        var m = /^(\S+) = (?:([\w-]+): )?(.*)$/.exec(line);
        assertTrue(m, "snmpwalk line: " + line);
        var value = m[3];
        if (m[2] === "Timeticks") value = String(Math.floor(/\((\d+)\)/.exec(value)[1] / 100));
        else if (/^".*"$/.test(value)) value = value.slice(1, -1).substring(0, 499);
        return {oid: m[1], value: value, ticks: m[2] === "Timeticks"};
    });
}

function assertSameWalk(actual, expected, what) {
    assertTrue(actual instanceof Array, what + ": an array");
    assertEq(actual.length, expected.length, what + ": length");
    for (var i = 0; i < expected.length; i++) {
        assertEq(actual[i].oid, expected[i].oid, what + " oid " + i);
        if (expected[i].ticks) // the agent's clock runs between the two walks
            assertTrue(Math.abs(actual[i].value - expected[i].value) <= 1, what + " ticks " + i);
        else
            assertEq(actual[i].value, expected[i].value, what + " value of " + expected[i].oid);
    }
}

function opened(community, timeout, address) {
    var s = new Snmp();
    assertEq(s.open(address || peer, community || "public", timeout), true, "open");
    return s;
}

var loaded = System.loadModule("bin/msnmp.so");
var peer, silentPeer, endlessPeer;
assertTrue(File.createDir(scratch), "scratch folder made");
writeFile("opaque.sh", 'case "$1 $2" in "-g ' + opaque + '.1"|"-n ' + opaque + '") ' +
                       "printf '" + opaque + ".1\\nopaque\\n1234\\n';; esac\n");
writeFile("agent.conf", [
    "rocommunity public 127.0.0.1",
    "rwcommunity private 127.0.0.1",
    "rocommunity " + longCommunity.substring(0, 49) + " 127.0.0.1",
    "sysdescr Capsule test agent",
    "syslocation Test bench",
    "override " + enterprise + ".1.1 integer -5",
    "override " + enterprise + ".1.2 unsigned 3000000000",
    "override " + enterprise + ".1.3 counter 4000000000",
    "override " + enterprise + ".1.4 timeticks 12345",
    "override " + enterprise + ".1.5 octet_str \"\"",
    "override " + enterprise + ".1.6 octet_str " + longText,
    "override " + enterprise + ".1.7 object_id " + longOid,
    "override " + enterprise + ".1.8 octet_str \"two words\"",
    "override " + longOid + " integer 7",
    "pass " + opaque + " /bin/sh " + scratch + "/opaque.sh",
    ""].join("\n"));

try {
    agent("start 120 && echo > started");
    assertTrue(File.status(scratch + "/started") !== false, "the agent started");
    var port = parseInt(readFile("port"), 10);
    peer = "127.0.0.1:" + port;
    silentPeer = "127.0.0.1:" + (port + 1); // nothing answers there
    System.exec("sh -c \"echo $$ > endless.pid; exec " + File.getCurrentWorkingDir() +
                "/snmp-endless-agent endless.port 120\"", scratch);
    assertTrue(waitUntil(function () { return parseInt(readFile("endless.port"), 10) > 0; }),
               "the hostile agent started");
    endlessPeer = "127.0.0.1:" + parseInt(readFile("endless.port"), 10);

    test("the module registers the class Snmp", function () {
        assertEq(loaded, true);
        assertEq(typeof Snmp, "function");
        var lengths = {open: 1, close: 0, getOID: 0, getNextOID: 0, walk: 0, setOID: 0};
        for (var name in lengths) assertEq(Snmp.prototype[name].length, lengths[name], name);
        assertTrue(new Snmp() instanceof Snmp, "instanceof");
    });

    test("format errors, foreign objects and objects without a session", function () {
        var s = new Snmp();
        var usage = [
            ["open", ["a"], "Snmp.open(<ipAddress>, <communityName>, [timeout])"],
            ["getOID", [], "Snmp.getOID(<requestOid>)"],
            ["getNextOID", [], "Snmp.getNextOID(<requestOid>)"],
            ["walk", [], "Snmp.walk(<requestOid>, [maxRequest]>)"],
            ["setOID", ["1", "i"], "Snmp.setOID(<requestOid>, <type>, <value>)"],
        ];
        usage.forEach(function (u) {
            assertEq(assertThrows(function () { s[u[0]].apply(s, u[1]); }).message,
                     "Native function format error: " + u[2], u[0]);
        });
        var full = {open: [peer, "public"], getOID: ["1"], getNextOID: ["1"], walk: ["1"],
                    setOID: ["1", "i", "1"]};
        for (var name in full) {
            var e = assertThrows(function () { Snmp.prototype[name].apply({}, full[name]); });
            assertTrue(e instanceof Error, "an Error");
            assertEq(e.message, "Snmp." + name + ": failed during get class root", name);
            if (name === "open") continue;
            assertEq(assertThrows(function () { s[name].apply(s, full[name]); }).message,
                     "Snmp." + name + ": SNMP Layer not initialized", name);
        }
        assertEq(s.close(), false, "never opened");
        assertEq(assertThrows(function () { Snmp(); }).message, "Snmp must be called with new");
        assertEq(Snmp.prototype.close.call({}), false, "foreign close");
    });

    test("open publishes its arguments; open twice, close twice, calls after close", function () {
        var s = new Snmp();
        assertEq(s.open(silentPeer, "public"), true);
        assertEq(s.timeout, 10000000, "default time-out in microseconds");
        assertEq(s.open(peer, "public", 3), true, "open again replaces the session");
        assertEq(s.timeout, 3000);
        assertEq(s.open(peer, "public", 2000), true);
        assertEq(Object.keys(s).join(), "ipAddress,communityName,timeout");
        s.ipAddress = "elsewhere";
        assertEq(s.ipAddress, peer, "read-only");
        assertEq(s.getOID(".1.3.6.1.2.1.1.1.0").value, "Capsule test agent");
        assertEq(s.close(), true);
        assertEq(s.close(), false);
        assertEq(assertThrows(function () { s.walk(".1"); }).message,
                 "Snmp.walk: SNMP Layer not initialized");
        assertEq(assertThrows(function () { s.open("udp:127.0.0.1:99999999", "public"); }).message,
                 "Snmp.open: Open failed on udp:127.0.0.1:99999999");
        // Agent address and community are cut at 31 and 49 bytes; the properties keep all.
        var address = "udp:0x0000007f.000.000.01:" + port + "999999999"; // 127.0.0.1
        assertEq(address.length, 40);
        var cut = opened(longCommunity, 2000, address);
        assertEq(cut.ipAddress, address);
        assertEq(cut.communityName, longCommunity);
        assertEq(cut.getOID(".1.3.6.1.2.1.1.6.0").value, "Test bench");
        cut.close();
    });

    test("a time-out and a maxRequest truncate toward zero to 32 bits", function () {
        var cases = [ // [timeout in ms, timeout in microseconds]
            [2.9, 2000],
            [-1.5, -1000],
            [2147483647.5, 2147483647000],
            [2147483648, -2147483648000], // out of range: the lowest 32-bit number
            [-2147483649, -2147483648000],
            [NaN, -2147483648000],
        ];
        cases.forEach(function (c) {
            var s = new Snmp();
            assertEq(s.open(silentPeer, "public", c[0]), true, "open " + c[0]);
            assertEq(s.timeout, c[1], "timeout " + c[0]);
            s.close();
        });
        var s = opened();
        var all = s.walk(enterprise).length;
        assertTrue(all >= 9, "walked " + all);
        assertEq(s.walk(enterprise, 2147483647.5).length, all, "maxRequest 2147483647.5");
        assertEq(s.walk(enterprise, 2.9).length, 2, "maxRequest 2.9");
        assertEq(s.walk(enterprise, 2147483648).length, 0, "maxRequest out of range");
        s.close();
    });

    test("getOID and getNextOID answers and codes", function () {
        var s = opened();
        var cases = [ // [function, identifier, error, oid, value]
            ["getOID", ".1.3.6.1.2.1.1.1.0", "no_error", ".1.3.6.1.2.1.1.1.0", "Capsule test agent"],
            ["getOID", "1.3.6.1.2.1.1.6.0", "no_error", ".1.3.6.1.2.1.1.6.0", "Test bench"],
            ["getOID", enterprise + ".1.1", "no_error", enterprise + ".1.1", "-5"],
            ["getOID", enterprise + ".1.2", "no_error", enterprise + ".1.2", "3000000000"],
            ["getOID", enterprise + ".1.3", "no_error", enterprise + ".1.3", "4000000000"],
            ["getOID", enterprise + ".1.4", "no_error", enterprise + ".1.4", "123"],
            ["getOID", enterprise + ".1.5", "no_error", enterprise + ".1.5", ""],
            ["getOID", enterprise + ".1.6", "no_error", enterprise + ".1.6", longText.substring(0, 499)],
            ["getOID", enterprise + ".1.7", "no_error", enterprise + ".1.7", longOid],
            ["getOID", longOid, "no_error", longOid, "7"],
            ["getOID", ".1.3.6.1.2.1.1.99.0", "bad_status"],
            ["getOID", "bad..oid", "bad_status"],
            ["getNextOID", ".1.3.6.1.2.1.1.1.0", "no_error", ".1.3.6.1.2.1.1.2.0", ".1.3.6.1.4.1.8072.3.2.10"],
            ["getNextOID", enterprise + ".1.6", "no_error", enterprise + ".1.7", longOid],
            ["getNextOID", ".1.9", "no_more_oid"],
            ["getNextOID", "bad..oid", "status_error"],
            ["getOID", opaque + ".1", "get_answer_error"],
            ["getNextOID", opaque, "get_answer_error"],
        ];
        cases.forEach(function (c) {
            var a = s[c[0]](c[1]);
            var what = c[0] + " " + c[1];
            assertEq(a.error, c[2], what);
            assertEq(a.oid, c[3], what + " oid");
            assertEq(a.value, c[4], what + " value");
            assertEq(Object.keys(a).join(), c[3] ? "oid,value,error" : "error", what + " keys");
        });
        // sysUpTime in whole seconds, as snmpget sees it.
        var ticks = /\((\d+)\)/.exec(tool("snmpget -v1 -c public -On " + peer + " .1.3.6.1.2.1.1.3.0")[0]);
        var up = s.getOID(".1.3.6.1.2.1.1.3.0");
        assertEq(up.error, "no_error");
        assertTrue(Math.abs(up.value - Math.floor(ticks[1] / 100)) <= 1, "sysUpTime " + up.value);
        s.close();
    });

    test("walk matches snmpwalk -v1 oid for oid and value for value", function () {
        var s = opened();
        [".1.3.6.1.2.1.1", enterprise].forEach(function (root) {
            var expected = snmpwalk(root);
            assertTrue(expected.length >= 9, "snmpwalk found " + expected.length);
            assertSameWalk(s.walk(root), expected, root);
            assertSameWalk(s.walk(root, 3), expected.slice(0, 3), root + " maxRequest 3");
        });
        assertEq(s.walk(enterprise, 0).length, 0, "maxRequest 0");
        assertEq(s.walk(".1.3.6.1.2.1.1.1.0").length, 0, "a leaf has nothing below it");
        assertEq(s.walk(".1.9").length, 0, "past the end of the tree");
        assertEq(assertThrows(function () { s.walk("bad..oid"); }).message,
                 "Snmp.walk: Snmp.walk: Error bad input oid bad..oid");
        assertEq(assertThrows(function () { s.walk(opaque); }).message,
                 "Snmp.walk: Error when reading " + opaque + ".1");
        s.close();
    });

    test("setOID changes sysContact.0 with the read-write community only", function () {
        var contact = "capsule-" + System.getPID();
        var rw = opened("private"), ro = opened("public");
        var cases = [ // [object, type, value, result]
            [ro, "s", "read-only", false],
            [rw, "q", "bad type letter", false],
            [rw, "", "no type letter", false],
            [rw, "i", "not a number", false],
            [rw, "i", "5", false], // sysContact is a text: the agent refuses an integer
            [rw, "string", contact, true],
        ];
        cases.forEach(function (c) {
            assertEq(c[0].setOID(".1.3.6.1.2.1.1.4.0", c[1], c[2]), c[3], c[1] + " " + c[2]);
        });
        assertEq(rw.setOID("bad..oid", "s", "x"), false, "bad identifier");
        var read = tool("snmpget -v1 -c public -On -Oqv " + peer + " .1.3.6.1.2.1.1.4.0");
        assertEq(read.join(), '"' + contact + '"', "snmpget reads it back");
        rw.close();
        ro.close();
    });

    test("an agent that does not answer: timeout after the time-out and one retry", function () {
        var s = opened("public", 300, silentPeer);
        var start = Date.now();
        assertEq(s.getOID(".1.3.6.1.2.1.1.1.0").error, "timeout");
        var took = Date.now() - start;
        assertTrue(took >= 550 && took < 3000, "took " + took + " ms");
        s.close();
        s = opened("public", 100, silentPeer);
        assertEq(s.getNextOID(".1.3.6.1.2.1.1.1.0").error, "timeout");
        assertEq(s.walk(".1.3.6.1.2.1.1"), undefined, "walk");
        assertEq(s.setOID(".1.3.6.1.2.1.1.4.0", "s", "x"), false, "setOID");
        s.close();
    });

    // Script threads share the global object: each reports through snmpThread*.
    test("two script threads poll two Snmp objects at once", function () {
        snmpPeer = peer;
        snmpSilentPeer = silentPeer;
        snmpThreadError = ["", "", ""];
        snmpThreadDone = [false, false, false];
        var rounds = 30;
        var body = function (k) {
            return "(function () { try { var s = new Snmp(); s.open(snmpPeer, 'public', 2000);" +
                   "for (var i = 0; i < " + rounds + "; i++) {" +
                   "  var a = s.getOID('" + enterprise + ".1." + (k + 2) + "');" +
                   "  if (a.value !== '" + ["3000000000", "4000000000"][k] + "') throw 'getOID ' + a.toSource();" +
                   "  var w = s.walk('" + enterprise + ".1');" +
                   "  if (!w || w.length !== 8 || w[3].value !== '123') throw 'walk ' + uneval(w);" +
                   "} s.close(); } catch (e) { snmpThreadError[" + k + "] = String(e); }" +
                   "snmpThreadDone[" + k + "] = true; })();";
        };
        // A third thread waits on an agent that never answers, holding its exchange open.
        System.createThread("(function () { var s = new Snmp(); s.open(snmpSilentPeer, 'public', 500);" +
                            "snmpThreadError[2] = s.getOID('.1.3.6.1.2.1.1.1.0').error;" +
                            "snmpThreadDone[2] = true; })();");
        assertTrue(System.createThread(body(0)) > 0 && System.createThread(body(1)) > 0, "started");
        assertTrue(waitUntil(function () { return snmpThreadDone[0] && snmpThreadDone[1]; }, 30000),
                   "both pollers done");
        assertEq(snmpThreadError[0] + snmpThreadError[1], "", "every answer right");
        assertTrue(waitUntil(function () { return snmpThreadDone[2]; }, 10000), "silent done");
        assertEq(snmpThreadError[2], "timeout");
        System.gc();
    });

    test("a close from another thread during an exchange", function () {
        snmpShared = opened("public", 500, silentPeer);
        snmpResult = undefined;
        snmpStarted = false;
        System.createThread("snmpStarted = true; try { snmpResult = " +
                            "snmpShared.getOID('.1.3.6.1.2.1.1.1.0').error; }" +
                            "catch (e) { snmpResult = e.message; }");
        assertTrue(waitUntil(function () { return snmpStarted; }), "thread started");
        System.sleep(100);
        assertEq(snmpShared.close(), true);
        assertTrue(waitUntil(function () { return snmpResult !== undefined; }, 10000), "answered");
        assertEq(snmpResult, "timeout");
        assertEq(assertThrows(function () { snmpShared.getOID("1"); }).message,
                 "Snmp.getOID: SNMP Layer not initialized");
        snmpShared = null;
        System.gc();
    });
    // The count of GET-NEXT requests that the hostile agent answered so far.
    function nexts(s) {
        return +s.getOID(enterprise + ".0").value;
    }

    test("sub-identifiers above 32 bits are refused, not wrapped to another object", function () {
        var s = opened("private", 2000, endlessPeer), big = enterprise + ".4294967300.7";
        var before = nexts(s);
        assertEq(s.getOID(big).error, "bad_status");
        assertEq(s.getNextOID(big).error, "status_error");
        assertEq(assertThrows(function () { s.walk(big); }).message,
                 "Snmp.walk: Snmp.walk: Error bad input oid " + big);
        assertEq(s.setOID(big, "i", "1"), false);
        assertEq(s.setOID(enterprise + ".9", "o", ".1.3.99999999999"), false, "as a value");
        assertEq(nexts(s), before, "nothing sent");
        assertEq(s.setOID(enterprise + ".9", "o", ".1.3.4294967295"), true, "the largest one");
        assertEq(s.getOID(enterprise + ".4294967295").oid, enterprise + ".4294967295");
        s.close();
    });

    test("a walk that never ends stops at the heap's limit with a catchable error", function () {
        var s = opened("public", 2000, endlessPeer), before = nexts(s);
        var mb = "b", ballast = [];
        while (mb.length < (1 << 20)) mb += mb;
        try {
            for (var i = 0; i < 1100; i++) ballast.push(i + mb);
        } catch (e) {
            // the heap is full: free two of the megabytes for the walk
        }
        ballast.length -= 2;
        System.gc();
        var e = assertThrows(function () { s.walk(enterprise + ".1", 200000); });
        ballast = null;
        System.gc();
        var walked = nexts(s) - before;
        assertTrue(/^Snmp\.walk: out of memory after \d+ objects$/.test(e.message), e.message);
        assertTrue(walked > 1000 && walked < 100000, "stopped after " + walked + " exchanges");
        s.close();
    });

    test("a close from another thread ends a running walk before its next exchange", function () {
        snmpShared = opened("public", 2000, endlessPeer);
        snmpResult = "running";
        System.createThread("try { snmpResult = snmpShared.walk('" + enterprise + ".1', 1000000); }" +
                            "catch (e) { snmpResult = e.message; }");
        var counter = opened("public", 2000, endlessPeer), start = nexts(counter);
        assertTrue(waitUntil(function () { return nexts(counter) > start + 100; }), "walking");
        assertEq(snmpShared.close(), true);
        assertTrue(waitUntil(function () { return snmpResult !== "running"; }), "the walk ended");
        assertEq(snmpResult, undefined);
        var after = nexts(counter);
        System.sleep(100);
        assertEq(nexts(counter), after, "no exchange after the close");
        counter.close();
        snmpShared = null;
        System.gc();
    });
} finally {
    System.exec("sh -c \"kill $(cat endless.pid) 2>/dev/null\"", scratch, 1);
    agent("stop");
    removeTree(scratch);
}
