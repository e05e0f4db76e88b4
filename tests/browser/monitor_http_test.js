// The packed monitor's HTTP server and command line, without a browser: bad requests,
// keep-alive, the JSON interface, requests for other host names, settings forms from
// other sites, bad and unstored settings, slow clients, and bad arguments. The monitor
// runs on a free port with its simulator and is stopped with SIGINT.

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
    return exchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                          "\r\nConnection: close\r\n\r\n")[0];
}

// The response to a settings form with the fields (form text) and extra header lines.
function post(port, fields, headers) {
    return exchange(port, "POST /settings HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n" +
                          (headers || "") + "Content-Type: application/x-www-form-urlencoded\r\n" +
                          "Content-Length: " + fields.length + "\r\n\r\n" + fields)[0];
}

function settings(port) {
    return JSON.parse(get(port, "/api/settings").body);
}

function run(args) {
    return System.exec("sh -c \"" + build + "/monitor " + args + " > out.txt 2>&1; echo $? >> out.txt\"",
                       scratch, 1) && readFile(scratch + "/out.txt");
}

assertTrue(envp.CAPSULE_REGISTRY !== undefined, "CAPSULE_REGISTRY names the test's registry store");
assertTrue(File.createDir(scratch), "scratch folder made");
// The monitor starts from its defaults: no settings left by an earlier run.
System.exec("rm -rf " + envp.CAPSULE_REGISTRY + "/HKEY_CURRENT_USER/Software/Capsule/Monitor",
            undefined, 1);
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

    var own = "127.0.0.1:" + port, hostLine = "Host: " + own + "\r\n";

    test("malformed, unknown and oversized requests", function () {
        assertEq(exchange(port, "NONSENSE\r\n\r\n")[0].status, 400);
        assertEq(get(port, "/nothing-here").status, 404);
        var put = exchange(port, "PUT / HTTP/1.1\r\n" + hostLine + "\r\n")[0];
        assertEq(put.status, 405);
        assertTrue(/Allow: GET, POST/.test(put.head), put.head);
        var big = "GET / HTTP/1.1\r\n" + hostLine + "X-Big: " + new Array(20000).join("a") + "\r\n\r\n";
        assertEq(exchange(port, big)[0].status, 431);
        assertEq(exchange(port, "POST /settings HTTP/1.1\r\n" + hostLine +
                                "Content-Length: 999999\r\n\r\n")[0].status, 413);
    });

    test("keep-alive: two requests on one connection; HEAD has no body", function () {
        var two = exchange(port, "GET /style.css HTTP/1.1\r\n" + hostLine + "\r\n" +
                                 "HEAD / HTTP/1.1\r\n" + hostLine + "\r\n", 2);
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

    test("only requests that name the monitor are served; Object.prototype's names are none", function () {
        var cases = [ // [request line and headers, status]
            ["GET /api/settings HTTP/1.1\r\nHost: rebind.evil.example:" + port, 421],
            ["GET /api/settings HTTP/1.1\r\nHost: 127.0.0.1", 421], // the port is part of it
            ["GET /api/settings HTTP/1.1\r\n" + hostLine + "Host: evil.example", 400],
            ["GET /api/settings HTTP/1.0", 400],
            ["GET /api/settings HTTP/1.1\r\nHost: LocalHost:" + port, 200],
            ["GET __proto__ HTTP/1.1\r\n" + hostLine, 400],
            ["GET constructor HTTP/1.1\r\n" + hostLine, 400],
            ["GET /__proto__ HTTP/1.1\r\n" + hostLine, 404],
            ["GET /hasOwnProperty HTTP/1.1\r\n" + hostLine, 404],
            ["GET /?__proto__=1&hasOwnProperty=2&constructor=3 HTTP/1.1\r\n" + hostLine, 200],
            ["GET /api/readings?since=toString&__proto__=x HTTP/1.1\r\n" + hostLine, 200],
            ["GET /api/events HTTP/1.1\r\n" + hostLine + "__proto__: x\r\nhasOwnProperty: y", 200],
        ];
        cases.forEach(function (c) {
            var r = exchange(port, c[0].replace(/(\r\n)?$/, "\r\n") + "Connection: close\r\n\r\n")[0];
            assertEq(r && r.status, c[1], JSON.stringify(c[0]));
            if (c[1] !== 200) assertTrue(r.body.indexOf("public") < 0, "no settings in " + r.body);
        });
    });

    test("a settings form needs the monitor's own origin and the page's token", function () {
        var token = settings(port).token, self = "http://127.0.0.1:" + port;
        assertTrue(/^[0-9a-f]{32}$/.test(token), "token " + token);
        var cases = [ // [Origin header (null: none), token (null: none)], each refused
            [null, token], ["null", token], ["http://evil.example", token],
            ["http://127.0.0.1:" + (port + 1), token], ["https://127.0.0.1:" + port, token],
            [self, null], [self, token.replace(/^./, token.charAt(0) === "a" ? "b" : "a")],
        ];
        cases.forEach(function (c) {
            var r = post(port, "lowBattery=77" + (c[1] ? "&token=" + c[1] : ""),
                         c[0] === null ? "" : "Origin: " + c[0] + "\r\n");
            assertEq(r.status, 403, JSON.stringify(c));
        });
        assertEq(settings(port).values.lowBattery, "30", "nothing changed");
        var r = post(port, "lowBattery=77&token=" + token + "&hasOwnProperty=1&__proto__=x&constructor=y",
                     "Origin: http://localhost:" + port + "\r\n");
        assertEq(r.status, 303);
        assertTrue(/Location: \/\?saved=\d+#settings/.test(r.head), r.head);
        assertEq(settings(port).values.lowBattery, "77");
        assertTrue(/settings form refused: from no origin\n/.test(readFile(scratch + "/monitor.log")),
                   "refusals logged");
    });

    // Posts one field from the monitor's own page; the error message of the answer, or "".
    function save(name, value) {
        var r = post(port, name + "=" + encodeURIComponent(value) + "&token=" + settings(port).token,
                     "Origin: http://127.0.0.1:" + port + "\r\n");
        assertEq(r.status, 303, name);
        var error = /Location: \/\?error=([^#\r]*)/.exec(r.head);
        return error ? decodeURIComponent(error[1]) : "";
    }

    test("settings checks: device paths below /dev, a length limit on every value", function () {
        var long = new Array(60001).join("a");
        var cases = [ // [field, value, error]
            ["device", "/dev/../tmp/x", /^UPS serial device must be simulated or a device path/],
            ["device", "/dev/./ttyS0", /^UPS serial device must be/],
            ["device", "/dev/ttyS0/..", /^UPS serial device must be/],
            ["device", "/dev/" + new Array(300).join("x"), /^UPS serial device is too long \(at most 255/],
            ["snmpHost", long, /^SNMP agent \(empty: none\) is too long/],
            ["device", "/dev/serial/by-id/usb-FTDI_FT232R_A50-if00-port0", /^$/],
            ["device", "simulated", /^$/],
        ];
        cases.forEach(function (c) {
            var error = save(c[0], c[1]);
            assertTrue(c[2].test(error), c[0] + " " + c[1].substring(0, 40) + ": " + error);
            if (error) assertTrue(settings(port).values[c[0]] !== c[1], "kept");
        });
        assertEq(settings(port).values.snmpHost, "");
    });

    test("a value the settings store does not take is reported, not shown as saved", function () {
        // A folder that is not empty where the value's file goes: the store cannot replace it.
        var value = envp.CAPSULE_REGISTRY + "/HKEY_CURRENT_USER/Software/Capsule/Monitor/@loadAlarm";
        System.exec("mkdir -p " + value + "/x", undefined, 1);
        assertTrue(File.status(value + "/x"), "blocked " + value);
        try {
            assertEq(save("loadAlarm", "55"), "high processor load from (%) was not stored " +
                                              "(the settings store refused it)");
            assertEq(settings(port).values.loadAlarm, "90");
        } finally {
            File.removeDir(value + "/x");
            File.removeDir(value);
        }
        assertEq(save("loadAlarm", "55"), "");
        assertEq(settings(port).values.loadAlarm, "55");
    });

    test("64 slow clients: another gets its page or a 503, and theirs end at the deadline", function () {
        var slow = [], start = Date.now(), i;
        for (i = 0; i < 64; i++) {
            slow.push(new Socket("tcp"));
            slow[i].connect("127.0.0.1", port);
            slow[i].send("GET / HTTP/1.1\r\n");
        }
        System.sleep(200);
        var request = "GET / HTTP/1.1\r\n" + hostLine + "Connection: close\r\n\r\n";
        for (i = 0; i < 3; i++) {
            var r = exchange(port, request)[0];
            assertTrue(r && (r.status === 200 || r.status === 503), "an answer: " + (r && r.head));
            if (r.status === 503) assertTrue(/Connection: close/.test(r.head), r.head);
        }
        // A byte a second from each keeps every read short, until shortly before the deadline.
        while (Date.now() - start < 9000) {
            for (i = 0; i < slow.length; i++) slow[i].send("X");
            System.sleep(1000);
        }
        System.sleep(Math.max(0, start + 11500 - Date.now()));
        assertEq(exchange(port, request)[0].status, 200, "served again after the deadline");
        for (i = 0; i < slow.length; i++) {
            slow[i].setTimeout(2);
            var answer = slow[i].recv(100);
            assertTrue(/^HTTP\/1\.1 (408|503) /.test(answer), "slow client " + i + ": " + answer);
            slow[i].close();
        }
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
    // A monitor that never answered is known by its pid file.
    monitorPid = monitorPid || +readFile(scratch + "/data/monitor.pid") || 0;
    if (monitorPid && alive(monitorPid)) signal(monitorPid, "KILL");
    System.exec("rm -rf " + scratch, undefined, 1);
}
