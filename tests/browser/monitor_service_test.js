// The packed monitor as a service: --install and --uninstall against a stand-in
// systemctl (on PATH) and a unit folder of the test's own (CAPSULE_UNIT_DIR), and a run
// under the notification protocol ($NOTIFY_SOCKET, received by socat) that SIGTERM,
// the service manager's stop, ends cleanly.

include(argv[1].replace(/[^\/]*$/, "") + "helpers.js");

var build = File.getCurrentWorkingDir();
var scratch = build + "/monitor_service_" + System.getPID();
var units = scratch + "/units";

function writeFile(path, text) {
    var f = new File(path, "wb");
    f.write(text);
    f.close();
}

// Runs the monitor with the stand-in systemctl; its output and exit code.
function monitor(args) {
    System.exec("sh -c \"PATH=" + scratch + "/bin:$PATH CAPSULE_UNIT_DIR=" + units + " CAPSULE_REGISTRY=" + scratch + "/registry " + build +
                "/monitor " + args + " > out.txt 2>&1; echo $? >> out.txt\"", scratch, 1);
    return readFile(scratch + "/out.txt");
}

// The settings as JSON, or "" while nothing answers on the port.
function settingsPage(port) {
    var s = new Socket("tcp"), answer = "", part;
    try {
        s.connect("127.0.0.1", port);
        s.setTimeout(5);
        s.send("GET /api/settings HTTP/1.0\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");
        while ((part = s.recv()) !== "") answer += part;
        s.close();
    } catch (e) {
        return "";
    }
    return answer;
}

assertTrue(File.createDir(scratch) && File.createDir(units) && File.createDir(scratch + "/bin"),
           "scratch folders made");
// Knows the units in the folder; a unit is active after a start until a stop.
writeFile(scratch + "/bin/systemctl",
          "#!/bin/sh\necho \"$*\" >> \"$CAPSULE_UNIT_DIR/systemctl.log\"\n" +
          "case \"$1\" in\n" +
          "show) [ -f \"$CAPSULE_UNIT_DIR/$4\" ] && echo loaded || echo not-found ;;\n" +
          "is-active) grep -E '^(start|stop)' \"$CAPSULE_UNIT_DIR/systemctl.log\" | tail -1 |" +
          " grep -q '^start' && echo active || echo inactive ;;\n" +
          "esac\nexit 0\n");
System.exec("chmod +x " + scratch + "/bin/systemctl", undefined, 1);
var monitorPid = 0, socatPid = 0;
try {
    test("--install writes the unit and starts it, --uninstall stops and removes it", function () {
        assertEq(monitor("--install"), "service capsule-monitor installed and started\n0\n");
        var unit = readFile(units + "/capsule-monitor.service");
        assertTrue(unit.indexOf('ExecStart="' + build + '/monitor" "--service"\n') >= 0, unit);
        assertTrue(/Type=notify/.test(unit) && /Restart=on-failure/.test(unit), unit);
        assertTrue(/daemon-reload\nenable capsule-monitor.service\n[^]*start capsule-monitor.service\n/.test(
                   readFile(units + "/systemctl.log")), readFile(units + "/systemctl.log"));
        assertEq(monitor("--uninstall"), "service capsule-monitor removed\n0\n");
        assertEq(File.status(units + "/capsule-monitor.service"), false, "unit removed");
        assertEq(monitor("--uninstall"), "no service capsule-monitor\n1\n");
    });

    test("--export prints the settings as XML, the defaults from an empty store", function () {
        var out = monitor("--export").replace(/\n0\n$/, "");
        var doc = new XML(out);
        assertEq(doc.name().localName + " " + doc.setting.length(), "settings 8", out);
        for each (var s in doc.setting)
            assertEq(s.toString(), s.@default.toString(), "the value of " + s.@name);
    });

    test("under the service manager: ready, serving, and stopped by SIGTERM", function () {
        System.exec("sh -c \"echo $$ > socat.pid; exec timeout 30 socat -u UNIX-RECV:" + scratch +
                    "/notify.sock OPEN:" + scratch + "/notify.log,creat\"", scratch);
        assertTrue(waitUntil(function () { return File.status(scratch + "/notify.sock"); }), "socket made");
        socatPid = +readFile(scratch + "/socat.pid");
        var port = freePort();
        System.exec("sh -c \"NOTIFY_SOCKET=" + scratch + "/notify.sock exec timeout 30 " + build +
                    "/monitor --service --port " + port + " --data " + scratch + "/data > service.log 2>&1\"",
                    scratch);
        assertTrue(waitUntil(function () {
            return /READY=1/.test(readFile(scratch + "/notify.log") || "") &&
                   File.status(scratch + "/data/monitor.pid");
        }, 15000), "ready: " + readFile(scratch + "/service.log"));
        monitorPid = +readFile(scratch + "/data/monitor.pid");
        var answer = "";
        assertTrue(waitUntil(function () {
            answer = settingsPage(port);
            return /^HTTP\/1\.1 200/.test(answer);
        }, 10000), "serving: " + readFile(scratch + "/service.log"));
        assertTrue(answer.indexOf("HKEY_LOCAL_MACHINE") >= 0, "the machine's settings: " + answer);
        signal(monitorPid, "TERM");
        assertTrue(waitUntil(function () { return !alive(monitorPid); }, 8000), "ended");
        assertTrue(/READY=1\n?STOPPING=1/.test(readFile(scratch + "/notify.log")), readFile(scratch + "/notify.log"));
        assertTrue(/Monitor stopped\n$/.test(readFile(scratch + "/service.log")), readFile(scratch + "/service.log"));
        monitorPid = 0;
    });
} finally {
    if (monitorPid && alive(monitorPid)) signal(monitorPid, "KILL");
    if (socatPid && alive(socatPid)) signal(socatPid, "TERM");
    System.exec("rm -rf " + scratch, undefined, 1);
}
