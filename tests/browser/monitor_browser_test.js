// The packed monitor (build/monitor) in headless Chromium: the test starts the monitor on
// a free port with its UPS simulator, drives the page through the DevTools protocol,
// checks the live values against what the simulator sent, submits the settings form and
// finds the value in the registry store, forces a power failure and reads the event log,
// saves a screenshot (build/monitor-browser.png), and stops the monitor with Ctrl-C
// (SIGINT), which also ends the simulator and its socat. Chromium and the monitor run
// under `timeout`, so nothing outlives the test by more than two minutes. Pages of
// another site (another port of 127.0.0.1, served by a script thread of the test) post
// the settings form, plainly and from a sandboxed frame; the settings must stay as they were.

var here = argv[1].replace(/[^\/]*$/, "");
include(here + "helpers.js");
include(here + "devtools.js");

var build = File.getCurrentWorkingDir();
var scratch = build + "/monitor_browser_" + System.getPID();
var data = scratch + "/data";
var settingsKey = {root: "HKEY_CURRENT_USER", path: "Software\\Capsule\\Monitor"};

function writeFile(path, text) {
    var f = new File(path, "wb");
    f.write(text);
    f.close();
}

function shell(line, wait) {
    return System.exec("sh -c \"" + line + "\"", scratch, wait ? 1 : 0);
}

function registry(name) {
    return System.getRegistry({root: settingsKey.root, path: settingsKey.path, key: name, def: "(none)"});
}

// The page's state in one object.
var pageState = "(function () {" +
    " function t(id) { var e = document.getElementById(id); return e ? e.textContent : null; }" +
    " var rows = Array.prototype.map.call(document.querySelectorAll('#events tbody tr')," +
    "  function (r) { return r.cells[1].textContent; });" +
    " return {charge: t('charge'), load: t('load'), cpu: t('cpu'), processes: t('processes')," +
    "  power: t('power'), status: t('settings-status'), events: rows, search: location.search," +
    "  lines: document.querySelectorAll('#chart polyline').length," +
    "  inputs: document.querySelectorAll('#settings-form input').length}; })()";

function waitPage(page, cond, what, ms) {
    var state, end = Date.now() + (ms || 10000);
    do {
        state = page.evaluate(pageState);
        if (cond(state)) return state;
        System.sleep(100);
    } while (Date.now() < end);
    fail("timed out waiting for " + what + ": " + JSON.stringify(state));
}

// The other site: its pages by path, served one per connection until its listener closes.
otherSite = {pages: {}, listener: null};

function serveOtherSite() {
    for (;;) {
        var c, head = "", part;
        try {
            c = otherSite.listener.accept();
        } catch (e) {
            return; // the listener was closed
        }
        try {
            c.setTimeout(5);
            while (head.indexOf("\r\n\r\n") < 0 && (part = c.recv()) !== "") head += part;
            var body = otherSite.pages[(/^GET (\S+)/.exec(head) || [])[1]];
            c.send((body ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") + "\r\nContent-Type: text/html\r\n" +
                   "Content-Length: " + (body || "").length + "\r\nConnection: close\r\n\r\n" + (body || ""));
        } catch (e) {
        }
        c.close();
    }
}

// A form that posts new settings to the monitor as soon as it is loaded.
function hostileForm(target) {
    return "<form method='post' action='" + target + "'><input name='loadAlarm' value='11'>" +
           "<input name='snmpHost' value='evil.example'></form><script>document.forms[0].submit()</script>";
}

var chromePid = 0, monitorPid = 0, page = null;

assertTrue(envp.CAPSULE_REGISTRY !== undefined, "CAPSULE_REGISTRY names the test's registry store");
assertTrue(File.createDir(scratch), "scratch folder made");
try {
    // The monitor starts from its defaults: no settings left by an earlier run.
    System.exec("rm -rf " + envp.CAPSULE_REGISTRY + "/" + settingsKey.root + "/Software/Capsule/Monitor",
                undefined, 1);
    var port = freePort(), devPort = freePort(), base = "http://127.0.0.1:" + port;
    shell("echo $$ > monitor.pid; exec timeout 120 " + build + "/monitor --port " + port + " --data " + data +
          " > monitor.log 2>&1");
    shell("echo $$ > chrome.pid; exec timeout 90 chromium --headless --no-sandbox --disable-gpu" +
          " --no-first-run --no-default-browser-check --user-data-dir=" + scratch + "/chrome" +
          " --remote-debugging-address=127.0.0.1 --remote-debugging-port=" + devPort +
          " about:blank > chrome.log 2>&1");

    test("the monitor serves its status on a free port", function () {
        var status;
        assertTrue(waitUntil(function () {
            try {
                status = JSON.parse(DevTools.httpGet(port, "/api/status"));
            } catch (e) {
                return false; // not yet listening, or 503 while the agent starts
            }
            return status.reading && status.reading.charge !== null;
        }, 20000), "a reading with the UPS values: " + readFile(scratch + "/monitor.log").slice(-600));
        monitorPid = status.pid;
        assertTrue(/^simulated UPS/.test(status.device), status.device);
    });

    var targets;
    assertTrue(waitUntil(function () {
        chromePid = +readFile(scratch + "/chrome.pid") || 0;
        var text = DevTools.httpGet(devPort, "/json/list");
        targets = text ? JSON.parse(text) : null;
        return targets && targets.length > 0;
    }, 30000), "Chromium's DevTools answer: " + readFile(scratch + "/chrome.log").slice(-600));
    var target = targets.filter(function (t) { return t.type === "page"; })[0];
    page = new DevToolsPage(devPort, target.webSocketDebuggerUrl.replace(/^ws:\/\/[^\/]+/, ""));
    page.call("Emulation.setDeviceMetricsOverride", {width: 1280, height: 860, deviceScaleFactor: 1, mobile: false});
    page.call("Page.navigate", {url: base + "/"});

    test("the page shows the values the simulator sent and draws the chart", function () {
        var s = waitPage(page, function (s) {
            return /^\d+$/.test(s.charge) && /^\d+$/.test(s.load) && /^\d+$/.test(s.processes) &&
                   s.lines === 3 && s.inputs > 0;
        }, "live values and the chart");
        var sent = readFile(data + "/simulator/sent.log").split("\n"), found = false;
        for (var i = 0; i < sent.length; i++) {
            var w = sent[i].split(" ");
            if (w[1] === s.charge && w[2] === s.load && w[3] === "0") found = true;
        }
        assertTrue(found, "charge " + s.charge + " and load " + s.load + " among the answers sent");
        assertEq(s.power, "On mains");
        assertTrue(+s.processes > 1, "process count " + s.processes);
        assertTrue(s.events.join("|").indexOf("Monitor started") >= 0, "start in the log: " + s.events);
    });

    test("the settings form stores a value in the registry, and refuses a bad one", function () {
        page.evaluate("document.getElementById('set-lowBattery').value = '42';" +
                      "document.getElementById('settings-form').requestSubmit(); true");
        waitPage(page, function (s) { return /saved=/.test(s.search) && /^Saved/.test(s.status); },
                 "the saved page");
        assertEq(registry("lowBattery"), "42");
        page.evaluate("document.getElementById('set-port').value = '99999';" +
                      "document.getElementById('settings-form').requestSubmit(); true");
        var s = waitPage(page, function (s) { return /error=/.test(s.search) && s.inputs > 0; },
                         "the refusal");
        assertTrue(/HTTP port must be a whole number from 1 to 65535/.test(s.status), s.status);
        assertEq(registry("port"), "8080", "the value the first save stored is kept");
        assertEq(registry("lowBattery"), "42", "nothing of the refused form stored");
    });

    test("the page's link downloads the settings as XML, with the value just stored", function () {
        var href = page.evaluate("document.getElementById('settings-export').getAttribute('href')");
        var doc = new XML(DevTools.httpGet(port, href));
        assertEq(doc.setting.length(), 8, "one element per setting");
        assertEq(String(doc.setting.(@name == "lowBattery")), "42");
        assertEq(doc.setting.(@name == "port").@default.toString(), "8080");
    });

    test("a power failure reaches the page and the event log", function () {
        writeFile(data + "/simulator/control", "power=battery");
        waitPage(page, function (s) {
            return s.power === "On battery" && s.events.indexOf("On battery: mains power lost") >= 0;
        }, "on battery");
        // Below the 42 % just stored: the low-battery limit applies at once.
        writeFile(data + "/simulator/control", "power=battery charge=40");
        waitPage(page, function (s) {
            return /^On battery . low$/.test(s.power) && /^Battery low: \d+% left$/.test(s.events[0]);
        }, "battery low");
        writeFile(data + "/simulator/control", "power=mains charge=60");
        waitPage(page, function (s) {
            return s.power === "On mains" && s.events[0] === "Back on mains power";
        }, "back on mains");
        var events = JSON.parse(DevTools.httpGet(port, "/api/events?limit=10"));
        var kinds = events.map(function (e) { return e.kind; }).join(" ");
        assertTrue(/^mains batterylow onbattery /.test(kinds), "stored events: " + kinds);
    });

    test("a screenshot of the page", function () {
        var shot = page.call("Page.captureScreenshot", {format: "png"});
        var png = DevTools.unbase64(shot.data);
        assertEq(png.substring(1, 4), "PNG");
        var f = new File(build + "/monitor-browser.png", "wb");
        assertEq(f.write(png), png.length);
        f.close();
    });

    test("forms from another site's pages, plain and in a sandboxed frame, change nothing", function () {
        otherSite.listener = listenLoopback("tcp");
        var other = "http://127.0.0.1:" + otherSite.listener.port;
        otherSite.pages["/plain"] = hostileForm(base + "/settings");
        otherSite.pages["/framed"] = "<iframe sandbox='allow-forms allow-scripts' srcdoc=\"" +
                                     hostileForm(base + "/settings") + "\"></iframe>";
        System.createThread("serveOtherSite()");
        var before = registry("loadAlarm") + " " + registry("snmpHost");
        var refusals = [["/plain", other], ["/framed", "null"]];
        refusals.forEach(function (r) {
            page.call("Page.navigate", {url: other + r[0]});
            var line = "settings form refused: from origin " + JSON.stringify(r[1]) + "\n";
            assertTrue(waitUntil(function () { return readFile(scratch + "/monitor.log").indexOf(line) >= 0; },
                                 10000), r[0] + ": " + readFile(scratch + "/monitor.log").slice(-300));
        });
        assertEq(registry("loadAlarm") + " " + registry("snmpHost"), before, "the settings");
        otherSite.listener.close();
    });

    test("Ctrl-C stops the monitor, its simulator and socat", function () {
        var simulatorPid = +readFile(data + "/simulator/simulator.pid");
        var socatPid = +readFile(data + "/simulator/socat.pid");
        assertTrue(alive(simulatorPid) && alive(socatPid), "simulator and socat run");
        signal(monitorPid, "INT");
        assertTrue(waitUntil(function () {
            return !alive(monitorPid) && !alive(simulatorPid) && !alive(socatPid);
        }, 8000), "all three ended");
        var log = readFile(scratch + "/monitor.log");
        assertTrue(/stopping\n.*Monitor stopped\n$/.test(log), log);
        monitorPid = 0;
    });
} finally {
    if (page) {
        try {
            page.call("Browser.close");
        } catch (e) {
            // the browser is stopped below in any case
        }
        page.close();
    }
    if (otherSite.listener) otherSite.listener.close();
    var wrapperPid = +readFile(scratch + "/monitor.pid") || 0;
    if (monitorPid && alive(monitorPid)) signal(monitorPid, "KILL");
    if (alive(wrapperPid)) signal(wrapperPid, "TERM");
    if (chromePid && alive(chromePid)) signal(chromePid, "TERM");
    waitUntil(function () { return !alive(chromePid); }, 5000);
    System.exec("rm -rf " + scratch, undefined, 1);
}
