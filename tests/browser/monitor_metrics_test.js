// The packed monitor's /metrics route: what promtool says of it, its series and how they
// follow the UPS, HEAD, the format's escapes, and a real Prometheus (on 127.0.0.1, a
// scrape a second, its data in the scratch folder) that scrapes it and answers a query.

include(argv[1].replace(/[^\/]*$/, "") + "helpers.js");
var monitorScripts = argv[1].replace(/[^\/]*$/, "") + "../../examples/monitor/scripts/";
include(monitorScripts + "util.js");
include(monitorScripts + "metrics.js");

var build = File.getCurrentWorkingDir();
var scratch = build + "/monitor_metrics_" + System.getPID();
var prometheus = argv[1].replace(/[^\/]*$/, "") + "prometheus.sh";
var prometheusDir = scratch + "/prometheus";

// Sends the request text on a new connection and reads until the server closes.
function exchange(port, requests) {
    var s = new Socket("tcp"), got = "", part;
    s.connect("127.0.0.1", port);
    s.setTimeout(5);
    try {
        s.send(requests);
        while ((part = s.recv(65536)) !== "") got += part;
    } finally {
        s.close();
    }
    return got;
}

function request(method, port, path, close) {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n" +
           (close ? "Connection: close\r\n" : "") + "\r\n";
}

// The samples of GET /metrics: series (name and labels as written) -> number.
function scrape(port) {
    var answer = exchange(port, request("GET", port, "/metrics", true));
    var end = answer.indexOf("\r\n\r\n"), samples = {};
    assertTrue(/^HTTP\/1\.1 200 /.test(answer), answer.substring(0, 200));
    var lines = answer.substring(end + 4).split("\n");
    for (var i = 0; i < lines.length; i++) {
        var space = lines[i].lastIndexOf(" ");   // label values may hold spaces
        if (space > 0 && lines[i].charAt(0) !== "#")
            samples[lines[i].substring(0, space)] = +lines[i].substring(space + 1);
    }
    samples.head = answer.substring(0, end);
    samples.body = answer.substring(end + 4);
    return samples;
}

function writeFile(path, text) {
    var f = new File(path, "wb");
    f.write(text);
    f.close();
}

// Runs a shell command in the scratch folder: {out, code}.
function shell(command) {
    writeFile(scratch + "/command.sh", command + "\n");
    System.exec("sh -c \"sh command.sh > out.txt 2>&1; echo $? > code.txt\"", scratch, 1);
    return {out: readFile(scratch + "/out.txt"), code: +readFile(scratch + "/code.txt")};
}

var name = "capsule_monitor_";

test("label values and help texts are escaped as the format says", function () {
    var cases = [ // [text, in a label value, written]
        ['a "b"', true, 'a \\"b\\"'],
        ['a "b"', false, 'a "b"'],
        ["back\\slash\nline", false, "back\\\\slash\\nline"],
        ["caf\u00e9", true, "caf\xc3\xa9"],
    ];
    cases.forEach(function (c) { assertEq(Metrics.escape(c[0], c[1]), c[2], c[0]); });
    var numbers = [[NaN, "NaN"], [Infinity, "+Inf"], [-Infinity, "-Inf"], [0.25, "0.25"]];
    numbers.forEach(function (c) { assertEq(Metrics.number(c[0]), c[1]); });
});

assertTrue(envp.CAPSULE_REGISTRY !== undefined, "CAPSULE_REGISTRY names the test's registry store");
assertTrue(File.createDir(scratch) && File.createDir(prometheusDir), "scratch folders made");
System.exec("rm -rf " + envp.CAPSULE_REGISTRY + "/HKEY_CURRENT_USER/Software/Capsule/Monitor",
            undefined, 1);
var dataDirs = []; // of the monitors started, each stopped at the end

// Starts a monitor with its data in scratch/<data> and waits until ready(samples) holds;
// its port.
function startMonitor(data, args, ready) {
    var port = freePort();
    dataDirs.push(scratch + "/" + data);
    System.exec("sh -c \"exec timeout 90 " + build + "/monitor --port " + port + " --data " + scratch +
                "/" + data + " " + args + " > " + data + ".log 2>&1\"", scratch);
    assertTrue(waitUntil(function () {
        System.sleep(100);
        try {
            return ready(scrape(port));
        } catch (e) {
            return false;
        }
    }, 20000), "the monitor answers: " + readFile(scratch + "/" + data + ".log"));
    return port;
}

try {
    var first;
    var port = startMonitor("data", "", function (s) {
        first = s;
        return s[name + "ups_battery_charge_percent"] !== undefined;
    });

    test("promtool check metrics finds nothing to say", function () {
        writeFile(scratch + "/metrics.txt", first.body);
        var check = shell("promtool check metrics < metrics.txt");
        assertEq(check.out + check.code, "0");
        assertTrue(/\r\nContent-Type: text\/plain; version=0\.0\.4; charset=utf-8\r\n/.test(first.head),
                   first.head);
    });

    test("the series: readings, UPS state, event counts, uptime", function () {
        var now = Date.now() / 1000, s = scrape(port);
        var cases = [ // [series, lowest, highest]
            ["cpu_load_percent", 0, 100],
            ["processes", 1, 1e6],
            ["ups_battery_charge_percent", 0, 100],
            ["ups_load_percent", 0, 100],
            ["ups_on_battery", 0, 0],
            ["ups_battery_low", 0, 0],
            ["ups_communication_lost", 0, 0],
            ["cpu_load_alarm", 0, 1],
            ["last_reading_timestamp_seconds", now - 5, now + 1],
            ['ups_info{device="simulated UPS (' + scratch + '/data/simulator/ups)"}', 1, 1],
            ['events_total{kind="start"}', 1, 1],
            ['events_total{kind="onbattery"}', 0, 0],
            ["uptime_seconds", 0, 90],
        ];
        cases.forEach(function (c) {
            var v = s[name + c[0]];
            assertTrue(v >= c[1] && v <= c[2], c[0] + " = " + v + "\n" + s.body);
        });
    });

    test("HEAD gives the head alone: the next answer on the connection follows it", function () {
        var two = exchange(port, request("HEAD", port, "/metrics") +
                                 request("HEAD", port, "/api/status") +
                                 request("GET", port, "/metrics", true));
        var answers = two.split(/(?=HTTP\/1\.1 )/);
        assertEq(answers.length, 3, two);
        assertTrue(/Content-Length: 0\r\n[^]*\r\n\r\n$/.test(answers[0]), answers[0]);
        assertTrue(/Content-Length: 0\r\n[^]*\r\n\r\n$/.test(answers[1]), answers[1]);
        assertTrue(answers[2].indexOf("\n" + name + "uptime_seconds ") > 0, answers[2]);
    });

    test("the UPS state and the event counts follow the power", function () {
        var steps = [ // [control file, series and their values]
            ["power=battery charge=25",
             {ups_on_battery: 1, ups_battery_low: 1, 'events_total{kind="onbattery"}': 1,
              'events_total{kind="batterylow"}': 1}],
            ["power=mains charge=60",
             {ups_on_battery: 0, ups_battery_low: 0, 'events_total{kind="mains"}': 1,
              'events_total{kind="onbattery"}': 1}],
        ];
        steps.forEach(function (step) {
            writeFile(scratch + "/data/simulator/control", step[0]);
            var s;
            assertTrue(waitUntil(function () {
                s = scrape(port);
                for (var series in step[1]) if (s[name + series] !== step[1][series]) return false;
                return true;
            }, 15000), step[0] + ":\n" + s.body);
        });
    });

    test("a silent UPS: no charge or load samples, communication lost", function () {
        var silent = startMonitor("silent", "--device /dev/null", function (s) {
            return s[name + "ups_communication_lost"] === 1;
        });
        var s = scrape(silent);
        var cases = [ // [series, value (undefined: no sample)]
            ["ups_battery_charge_percent", undefined],
            ["ups_load_percent", undefined],
            ["ups_communication_lost", 1],
            ['events_total{kind="commlost"}', 1],
            ['ups_info{device="serial /dev/null"}', 1],
        ];
        cases.forEach(function (c) { assertEq(s[name + c[0]], c[1], c[0] + "\n" + s.body); });
    });

    test("a Prometheus scrapes the monitor each second and answers a query", function () {
        assertTrue(System.exec("sh " + prometheus + " " + prometheusDir + " start 60 127.0.0.1:" + port,
                               scratch, 1), "Prometheus ready: " + readFile(prometheusDir + "/prometheus.log"));
        var query = "sh " + prometheus + " " + prometheusDir + " query '" + name +
                    'events_total{kind="onbattery"}\'';
        var answer;
        assertTrue(waitUntil(function () {
            System.sleep(200);
            answer = shell(query).out;
            return /"result":\[\{/.test(answer);
        }, 20000), "a sample: " + answer + readFile(prometheusDir + "/prometheus.log"));
        var result = JSON.parse(answer).data.result;
        assertEq(result.length, 1, answer);
        assertEq(result[0].metric.instance, "127.0.0.1:" + port);
        assertEq(result[0].metric.job, "monitor");
        assertEq(result[0].value[1], "1");
    });
} finally {
    System.exec("sh " + prometheus + " " + prometheusDir + " stop", scratch, 1);
    dataDirs.forEach(function (dir) {
        var pid = +readFile(dir + "/monitor.pid") || 0;
        if (!alive(pid)) return;
        signal(pid, "INT");
        waitUntil(function () { return !alive(pid); }, 8000);
        if (alive(pid)) signal(pid, "KILL");
    });
    System.exec("rm -rf " + scratch, undefined, 1);
}
