// The monitor's state for Prometheus (GET /metrics): the newest reading, the UPS state,
// the events counted by kind since the start, and the uptime, in the text exposition
// format (version 0.0.4). A reading the device did not give (a silent UPS) has no
// sample, so that its series goes stale in Prometheus instead of holding an old value.

var Metrics = {
    type: "text/plain; version=0.0.4; charset=utf-8",
    prefix: "capsule_monitor_",
    // The kinds of events the monitor logs; each has a series from the start, at 0.
    kinds: ["start", "stop", "onbattery", "mains", "batterylow", "commlost", "commok",
            "cpuhigh", "cpunormal"],
    counts: {},
    mutex: 0
};

// name: [type, help, value(reading, state) -> number, or null for no sample]
Metrics.gauges = [
    ["cpu_load_percent", "Processor load of the host in percent.",
     function (r) { return r && r.cpu; }],
    ["processes", "Processes running on the host.", function (r) { return r && r.processes; }],
    ["ups_battery_charge_percent", "Battery charge of the UPS in percent.",
     function (r) { return r && r.charge; }],
    ["ups_load_percent", "Output load of the UPS in percent.",
     function (r) { return r && r.load; }],
    ["ups_on_battery", "1 while the UPS runs on battery, 0 on mains power.",
     function (r, s) { return s.onBattery ? 1 : 0; }],
    ["ups_battery_low", "1 while the UPS runs on battery below the low-battery limit.",
     function (r, s) { return s.low ? 1 : 0; }],
    ["ups_communication_lost", "1 while the UPS does not answer (3 polls or more).",
     function (r, s) { return s.lost ? 1 : 0; }],
    ["cpu_load_alarm", "1 while the processor load is above the alarm limit.",
     function (r, s) { return s.loadAlarm ? 1 : 0; }],
    ["last_reading_timestamp_seconds", "When the newest reading was taken (Unix time).",
     function (r) { return r && r.time / 1000; }]
];

Metrics.init = function () {
    if (!Metrics.mutex) Metrics.mutex = System.createMutex();
};

// Counts an event of the kind (any kind, also one not listed above).
Metrics.count = function (kind) {
    Util.locked(Metrics.mutex, function () {
        Metrics.counts[kind] = (Metrics.counts[kind] || 0) + 1;
    });
};

// A label value or help text as the format writes it: backslash, double quote (in label
// values) and line feed escaped, as UTF-8 bytes.
Metrics.escape = function (text, quote) {
    var out = String(text).replace(/\\/g, "\\\\").replace(/\n/g, "\\n");
    return Util.toUtf8(quote ? out.replace(/"/g, '\\"') : out);
};

// A number as the format writes it (NaN and the infinities by name).
Metrics.number = function (v) {
    if (v !== v) return "NaN";
    if (v === Infinity || v === -Infinity) return v > 0 ? "+Inf" : "-Inf";
    return String(v);
};

// One metric family: its HELP and TYPE lines and its samples ([labels text, value]).
Metrics.family = function (name, type, help, samples) {
    var out = "# HELP " + Metrics.prefix + name + " " + Metrics.escape(help) + "\n# TYPE " +
              Metrics.prefix + name + " " + type + "\n";
    for (var i = 0; i < samples.length; i++)
        out += Metrics.prefix + name + samples[i][0] + " " + Metrics.number(samples[i][1]) + "\n";
    return out;
};

// The whole exposition, from the poller's newest reading and state.
Metrics.text = function () {
    var r = Util.locked(Poller.mutex, function () { return Poller.latest; });
    var s = Poller.state, out = "";
    for (var i = 0; i < Metrics.gauges.length; i++) {
        var g = Metrics.gauges[i], v = g[2](r, s);
        out += Metrics.family(g[0], "gauge", g[1], v === null || v === undefined ? [] : [["", v]]);
    }
    out += Metrics.family("ups_info", "gauge", "The power device the monitor reads (always 1).",
                          [['{device="' + Metrics.escape(Poller.device.name, true) + '"}', 1]]);
    var counts = Util.locked(Metrics.mutex, function () {
        var copy = {};
        for (var k in Metrics.counts) copy[k] = Metrics.counts[k];
        return copy;
    });
    var kinds = Metrics.kinds.slice(), events = [];
    for (var kind in counts) if (kinds.indexOf(kind) < 0) kinds.push(kind);
    for (var j = 0; j < kinds.length; j++)
        events.push(['{kind="' + Metrics.escape(kinds[j], true) + '"}', counts[kinds[j]] || 0]);
    out += Metrics.family("events_total", "counter", "Events logged since the monitor started.",
                          events);
    out += Metrics.family("uptime_seconds", "gauge", "Seconds since the monitor started.",
                          [["", (Date.now() - Routes.started) / 1000]]);
    return out;
};
