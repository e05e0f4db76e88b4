// The packed monitor's HTTP server and command line, without a browser: bad requests,
// keep-alive, a settings form from another site, the JSON interface, and bad arguments.
// The monitor runs on a free port with its simulator and is stopped with SIGINT.

include(argv[1].replace(/[^\/]*$/, "") + "helpers.js");

var build = File.getCurrentWorkingDir();
var scratch = build + "/monitor_http_" + System.getPID();

// Sends raw request bytes on a new connection and reads answers until `count` whole
// responses (by Content-Length) arrived or the server closed; the responses as
// {status, headers, body}.
function exchange(port, bytes, count) {
    var s = new Socket("tcp"), got = "", out = [];
    s.connect("127.0.0.1", port);
    s.setTimeout(5);
    s.send(bytes);
    try {
        while (out.length < (count || 1)) {
            var end = got.indexOf("\r\n\r\n");
            if (end >= 0) {
                var head = got.substring(0, end), n = +(/Content-Length: (\d+)/i.exec(head) || [0, 0])[1];
                if (got.length >= end + 4 + n) {
                    out.push({status: +head.split(" ")[1], head: head, body: got.substr(end + 4, n)});
                    got = got.substring(end + 4 + n);
                    continue;
                }
            }
            var part = s.recv(65536);
            if (part === "") break;
            got += part;
        }
    } finally {
        s.close();
    }
    return out;
}

function get(port, path) {
    return exchange(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")[0];
}

function run(args) {
    return System.exec("sh -c \"" + build + "/monitor " + args + " > out.txt 2>&1; echo $? >> out.txt\"",
                       scratch, 1) && readFile(scratch + "/out.txt");
}

assertTrue(File.createDir(scratch), "scratch folder made");
System.delRegistry({root: "HKEY_CURRENT_USER", path: "Software\\Capsule\\Monitor", key: "lowBattery"});
var monitorPid = 0;
try {
    test("bad arguments end with a message and exit code 2", function () {
        assertTrue(/^monitor: --port must be 1 to 65535\nusage: monitor [^]*\n2\n$/.test(run("--port 0")),
                   readFile(scratch + "/out.txt"));
        assertTrue(/^monitor: unknown argument --nope\n/.test(run("--nope")), "unknown argument");
        assertTrue(/^monitor: --device must be simulated or a device path/.test(run("--device x")),
                   "bad device");
    });

    var port = freePort();
    System.exec("sh -c \"exec timeout 60 " + build + "/monitor --port " + port + " --data " + scratch +
                "/data > monitor.log 2>&1\"", scratch);
    var status;
    assertTrue(waitUntil(function () {
        try {
            status = JSON.parse(get(port, "/api/status").body);
            return status.reading && status.reading.charge !== null;
        } catch (e) {
            return false;
        }
    }, 20000), "the monitor answers: " + readFile(scratch + "/monitor.log"));
    monitorPid = status.pid;

    test("malformed, unknown and oversized requests", function () {
        assertEq(exchange(port, "NONSENSE\r\n\r\n")[0].status, 400);
        assertEq(get(port, "/nothing-here").status, 404);
        var put = exchange(port, "PUT / HTTP/1.1\r\nHost: x\r\n\r\n")[0];
        assertEq(put.status, 405);
        assertTrue(/Allow: GET, POST/.test(put.head), put.head);
        var big = "GET / HTTP/1.1\r\nX-Big: " + new Array(20000).join("a") + "\r\n\r\n";
        assertEq(exchange(port, big)[0].status, 431);
        assertEq(exchange(port, "POST /settings HTTP/1.1\r\nContent-Length: 999999\r\n\r\n")[0].status, 413);
    });

    test("keep-alive: two requests on one connection; HEAD has no body", function () {
        var two = exchange(port, "GET /style.css HTTP/1.1\r\nHost: x\r\n\r\n" +
                                 "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n", 2);
        assertEq(two.length, 2);
        assertEq(two[0].status, 200);
        assertTrue(/Content-Type: text\/css/.test(two[0].head) && two[0].body.length > 100, "style");
        assertEq(two[1].status, 200);
        assertEq(two[1].body, "");
    });

    test("the JSON interface: readings in order, events, settings", function () {
        var all = JSON.parse(get(port, "/api/readings?since=0").body);
        assertTrue(all.length >= 1, "readings: " + all.length);
        for (var i = 1; i < all.length; i++) assertTrue(all[i - 1].time < all[i].time, "in order");
        var last = all[all.length - 1].time;
        assertEq(JSON.parse(get(port, "/api/readings?since=" + last).body).length, 0, "none newer");
        var events = JSON.parse(get(port, "/api/events?limit=1").body);
        assertEq(events.length, 1);
        assertTrue(/^Monitor started/.test(events[0].text), events[0].text);
        var settings = JSON.parse(get(port, "/api/settings").body);
        assertEq(settings.values.port, "8080");
        assertEq(settings.fields.lowBattery.def, "30");
    });

    test("a settings form from another site is refused", function () {
        var body = "lowBattery=77";
        var r = exchange(port, "POST /settings HTTP/1.1\r\nHost: x\r\nOrigin: http://evil.example\r\n" +
                               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                               body.length + "\r\n\r\n" + body)[0];
        assertEq(r.status, 403);
        assertEq(JSON.parse(get(port, "/api/settings").body).values.lowBattery, "30");
        r = exchange(port, "POST /settings HTTP/1.1\r\nHost: x\r\nOrigin: http://127.0.0.1:" + port +
                           "\r\nContent-Length: " + body.length + "\r\n\r\n" + body)[0];
        assertEq(r.status, 303);
        assertTrue(/Location: \/\?saved=\d+#settings/.test(r.head), r.head);
        assertEq(JSON.parse(get(port, "/api/settings").body).values.lowBattery, "77");
    });

    test("a second monitor on the same data folder or port is refused", function () {
        var out = run("--port " + freePort() + " --data " + scratch + "/data");
        assertEq(out, "monitor: another monitor (process " + monitorPid + ") uses " + scratch + "/data\n1\n");
        assertTrue(alive(+readFile(scratch + "/data/simulator/simulator.pid")), "the first one's simulator runs on");
        out = run("--port " + port + " --data " + scratch + "/other");
        assertTrue(/^monitor: Socket\.bind: Bind error on '127\.0\.0\.1:\d+' \(the port is taken: choose another with --port N\)\n1\n$/.test(out), out);
        assertEq(File.status(scratch + "/other/simulator/simulator.pid"), false, "no simulator left behind");
    });

    test("SIGINT stops the monitor cleanly", function () {
        signal(monitorPid, "INT");
        assertTrue(waitUntil(function () { return !alive(monitorPid); }, 8000), "ended");
        assertTrue(/Monitor stopped\n$/.test(readFile(scratch + "/monitor.log")), "wound down");
        monitorPid = 0;
    });

    test("an SNMP agent named in the settings is the power device", function () {
        var agent = scratch + "/snmp", script = argv[1].replace(/[^\/]*$/, "") + "../scripts/snmp_agent.sh";
        assertTrue(File.createDir(agent), "agent folder");
        var conf = new File(agent + "/agent.conf", "wb");
        conf.write("rocommunity public 127.0.0.1\n" +
                   "override .1.3.6.1.2.1.33.1.2.4.0 integer 64\n" +      // charge
                   "override .1.3.6.1.2.1.33.1.4.4.1.5.1 integer 41\n" +  // load
                   "override .1.3.6.1.2.1.33.1.4.1.0 integer 5\n");       // on battery
        conf.close();
        assertTrue(System.exec("sh " + script + " " + agent + " start 30", scratch, 1), "agent started");
        var snmpPort = +readFile(agent + "/port");
        assertTrue(snmpPort > 0, "agent answers");
        var key = {root: "HKEY_CURRENT_USER", path: "Software\\Capsule\\Monitor", key: "snmpHost"};
        key.value = "127.0.0.1:" + snmpPort;
        System.setRegistry(key);
        try {
            var port2 = freePort();
            System.exec("sh -c \"exec timeout 60 " + build + "/monitor --port " + port2 + " --data " +
                        scratch + "/data2 > monitor2.log 2>&1\"", scratch);
            var s;
            assertTrue(waitUntil(function () {
                try {
                    s = JSON.parse(get(port2, "/api/status").body);
                    return s.reading && s.reading.charge !== null;
                } catch (e) {
                    return false;
                }
            }, 20000), "a reading: " + readFile(scratch + "/monitor2.log"));
            monitorPid = s.pid;
            assertEq(s.device, "SNMP 127.0.0.1:" + snmpPort);
            assertEq(s.reading.charge, 64);
            assertEq(s.reading.load, 41);
            assertEq(s.reading.onBattery, true);
            var kinds = JSON.parse(get(port2, "/api/events?limit=5").body).map(function (e) { return e.kind; });
            assertTrue(kinds.indexOf("onbattery") >= 0, "on battery logged: " + kinds);
            signal(monitorPid, "INT");
            assertTrue(waitUntil(function () { return !alive(monitorPid); }, 8000), "ended");
            monitorPid = 0;
        } finally {
            System.delRegistry(key);
            System.exec("sh " + script + " " + agent + " stop", scratch, 1);
        }
    });
} finally {
    if (monitorPid && alive(monitorPid)) signal(monitorPid, "KILL");
    System.exec("rm -rf " + scratch, undefined, 1);
}
