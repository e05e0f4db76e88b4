// The poller: once a second it reads the host (processor load, process count) and the
// power device, keeps the reading in memory and in the store, and logs the events that
// the changes mean. It runs on a script thread of its own (Poller.run).

var Poller = {
    mutex: 0,          // guards latest and history
    latest: null,      // the newest reading
    history: [],       // readings of the last hour, oldest first
    maxHistory: 3600,
    device: null,
    running: false,
    stopping: false,
    intervalMs: 1000,
    failure: "",       // the error of the last failed round
    state: {onBattery: false, low: false, silent: 0, lost: false, highLoad: 0, loadAlarm: false}
};

Poller.init = function (device) {
    if (!Poller.mutex) Poller.mutex = System.createMutex();
    Poller.device = device;
    var history = Store.readings();
    Util.locked(Poller.mutex, function () { Poller.history = history; });
    if (history.length) {
        var last = history[history.length - 1];
        Poller.state.onBattery = !!last.onBattery;
    }
};

Poller.event = function (kind, text) {
    Util.log(text);
    Metrics.count(kind);
    Store.addEvent(kind, text);
};

// One reading: {time, cpu, processes, charge, load, onBattery, device}.
Poller.sample = function () {
    var reading = {time: Date.now(), cpu: System.getCPULoad(), processes: null,
                   charge: null, load: null, onBattery: null, device: Poller.device.name};
    try {
        reading.processes = System.enumProcesses().length;
    } catch (e) {
        reading.processes = null;
    }
    var ups = null;
    try {
        ups = Poller.device.read();
    } catch (e) {
        ups = null;
    }
    if (ups) {
        reading.charge = ups.charge;
        reading.load = ups.load;
        reading.onBattery = ups.onBattery;
    }
    if (reading.cpu === undefined) reading.cpu = null;
    return reading;
};

// The events that a new reading means, from the state the earlier ones left.
Poller.judge = function (r) {
    var s = Poller.state, v = Settings.values;
    if (r.charge === null) {
        if (++s.silent === 3 && !s.lost) {
            s.lost = true;
            Poller.event("commlost", "UPS not responding (" + Poller.device.name + ")");
        }
    } else {
        s.silent = 0;
        if (s.lost) {
            s.lost = false;
            Poller.event("commok", "UPS responding again");
        }
        if (r.onBattery && !s.onBattery) Poller.event("onbattery", "On battery: mains power lost");
        if (!r.onBattery && s.onBattery) Poller.event("mains", "Back on mains power");
        s.onBattery = r.onBattery;
        var low = r.onBattery && r.charge < +v.lowBattery;
        if (low && !s.low) Poller.event("batterylow", "Battery low: " + r.charge + "% left");
        s.low = low;
    }
    if (r.cpu !== null) {
        s.highLoad = r.cpu >= +v.loadAlarm ? s.highLoad + 1 : 0;
        if (s.highLoad === 5 && !s.loadAlarm) {
            s.loadAlarm = true;
            Poller.event("cpuhigh", "High processor load: " + r.cpu + "% for 5 s");
        }
        if (s.highLoad === 0 && s.loadAlarm) {
            s.loadAlarm = false;
            Poller.event("cpunormal", "Processor load back to normal (" + r.cpu + "%)");
        }
    }
};

Poller.record = function (r) {
    Util.locked(Poller.mutex, function () {
        Poller.latest = r;
        Poller.history.push(r);
        if (Poller.history.length > Poller.maxHistory)
            Poller.history.splice(0, Poller.history.length - Poller.maxHistory);
    });
    Store.addReading(r);
};

// Readings newer than the given time, oldest first.
Poller.since = function (time) {
    return Util.locked(Poller.mutex, function () {
        var h = Poller.history, i = h.length;
        while (i > 0 && h[i - 1].time > time) i--;
        return h.slice(i);
    });
};

Poller.run = function () {
    Poller.running = true;
    try {
        while (!Poller.stopping) {
            var started = Date.now();
            try {
                var r = Poller.sample();
                Poller.judge(r);
                Poller.record(r);
                Poller.failure = "";
            } catch (e) {
                // A round that fails (the store on a full disk, say) is logged once.
                if (String(e) !== Poller.failure) Util.log("poll failed: " + e);
                Poller.failure = String(e);
            }
            var wait = Poller.intervalMs - (Date.now() - started);
            while (wait > 0 && !Poller.stopping) {
                System.sleep(Math.min(wait, 100));
                wait = Poller.intervalMs - (Date.now() - started);
            }
        }
    } finally {
        Poller.device.close();
        Poller.running = false;
    }
};
