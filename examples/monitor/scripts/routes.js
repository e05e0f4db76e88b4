// What the HTTP server answers: the page and its files from the package, and the JSON
// interface the page polls.
//   GET  /                      the status page (web/index.html)
//   GET  /style.css, /app.js    its style and script
//   GET  /api/status            the newest reading, the device and the state
//   GET  /api/readings?since=t  readings newer than t (ms), oldest first
//   GET  /api/events?limit=n    the newest events
//   GET  /api/settings          the settings and their descriptions
//   GET  /settings.xml          the settings as an XML file to download
//   POST /settings              the settings form; answers with a redirect to the page
//   GET  /metrics               the readings, the UPS state, event counts and uptime for
//                               Prometheus (metrics.js)
// While the agent starts (behind the page), the JSON interface and /metrics answer 503.
// The form changes settings only when it comes from the monitor's own page: its Origin
// must be the monitor's (browsers send one with every POST; a page in a sandboxed frame
// or a data: page sends "null"), and it must carry the token that /api/settings gives
// the page, which other sites cannot read.

var Routes = {files: Object.create(null), started: Date.now()};

// The anti-forgery token of this process: 16 random bytes in hex.
Routes.makeToken = function () {
    var f = new File("/dev/urandom", "rb"), bytes = f.read(16) || "", hex = "";
    f.close();
    for (var i = 0; i < 16; i++) {
        var b = i < bytes.length ? bytes.charCodeAt(i) : Math.floor(Math.random() * 256);
        hex += (b < 16 ? "0" : "") + b.toString(16);
    }
    return hex;
};
Routes.token = Routes.makeToken();

Routes.types = {html: "text/html; charset=utf-8", css: "text/css; charset=utf-8",
                js: "text/javascript; charset=utf-8", png: "image/png", svg: "image/svg+xml",
                ico: "image/x-icon"};

// Takes the web/ files from the package (or from disk when run unpacked) once.
Routes.loadFiles = function () {
    var fsd = System.package && System.package.afs && System.package.afs.fsd, names = [];
    for (var name in fsd) if (name.indexOf("web/") === 0) names.push(name);
    if (!names.length) {
        var list = File.openDir("web/*");
        for (var i = 0; i < list.length; i++)
            if (list[i].type !== "dir") names.push("web/" + list[i].name);
    }
    for (var j = 0; j < names.length; j++) {
        var ext = names[j].substring(names[j].lastIndexOf(".") + 1);
        Routes.files["/" + names[j].substring(4)] = {
            type: Routes.types[ext] || "application/octet-stream",
            content: load(names[j], "AFS").content
        };
    }
    Routes.files["/"] = Routes.files["/index.html"];
};

Routes.handle = function (request) {
    var path = request.path;
    try {
        if (request.method === "POST" && path === "/settings") return Routes.saveSettings(request);
        if (request.method !== "GET" && request.method !== "HEAD")
            return Http.respond(405, "text/plain", "method not allowed\n", true, "Allow: GET, POST\r\n");
        if ((path.indexOf("/api/") === 0 || path === "/metrics") && !App.agentReady)
            return Http.respond(503, "text/plain", "starting\n", true, "Retry-After: 1\r\n");
        if (path === "/api/status") return Http.json(Routes.status());
        if (path === "/api/readings")
            return Http.json(Poller.since(+request.query.since || 0));
        if (path === "/api/events")
            return Http.json(Store.events(+request.query.limit || 50));
        if (path === "/api/settings") return Http.json(Routes.settings());
        if (path === "/metrics") return Http.respond(200, Metrics.type, Metrics.text());
        if (path === "/settings.xml")
            return Http.respond(200, "application/xml; charset=utf-8", Settings.toXML(), true,
                                "Content-Disposition: attachment; filename=\"monitor-settings.xml\"\r\n");
        var file = Routes.files[path];   // no prototype: "/__proto__" is no file either
        if (file) return Http.respond(200, file.type, file.content);
        return Http.respond(404, "text/plain", "not found\n");
    } catch (e) {
        return Http.respond(500, "text/plain", "internal error\n", false);
    }
};

Routes.status = function () {
    return {reading: Poller.latest, device: Poller.device ? Poller.device.name : "",
            onBattery: Poller.state.onBattery, batteryLow: Poller.state.low,
            deviceLost: Poller.state.lost, loadAlarm: Poller.state.loadAlarm,
            started: Routes.started, now: Date.now(), pid: System.getPID(),
            system: System.getSysName()};
};

Routes.settings = function () {
    var out = {values: Settings.values, fields: {}, key: Settings.root + "\\" + Settings.path,
               token: Routes.token, maxLength: Settings.maxLength};
    for (var name in Settings.fields)
        out.fields[name] = {def: Settings.fields[name][0], label: Settings.fields[name][2]};
    return out;
};

// Why a settings form must not change anything ("" when it may): it comes from another
// site, or without the page's token.
Routes.refusal = function (request, form) {
    var origin = request.headers.origin;
    if (origin === undefined) return "from no origin";
    if (!Http.isOwnOrigin(origin)) return "from origin " + JSON.stringify(origin.substring(0, 80));
    return form.token === Routes.token ? "" : "without the page's token";
};

Routes.saveSettings = function (request) {
    var form = Http.parseForm(request.body), changes = {}, refusal = Routes.refusal(request, form);
    if (refusal) {
        Util.log("settings form refused: " + refusal);
        return Http.respond(403, "text/plain", "forbidden\n", false);
    }
    for (var name in Settings.fields)
        if (name in form) changes[name] = form[name].replace(/^\s+|\s+$/g, "");
    var errors = Settings.store(changes), messages = [];
    for (var e in errors) messages.push(errors[e]);
    var where = messages.length ? "/?error=" + encodeURIComponent(messages.join("; "))
                                : "/?saved=" + Date.now();
    Util.log(messages.length ? "settings refused: " + messages.join("; ") : "settings saved");
    return Http.respond(303, "text/plain", "", true, "Location: " + where + "#settings\r\n");
};
