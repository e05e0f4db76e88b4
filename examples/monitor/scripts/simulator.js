// The UPS simulator (monitor --simulate <folder> [--parent <pid>]): makes a pseudo-terminal pair with socat
// in the folder ("ups" for the monitor, "ups-sim" for itself) and answers the UPS line
// protocol on it. Charge and load drift over time; a test forces a power failure by
// writing "power=battery" (and back with "power=mains", or "charge=<n>") into the
// folder's file "control". Every answer is appended to "sent.log" as
// "<time> <charge> <load> <onBattery>". It ends on Ctrl-C (SIGINT), when the control
// file says "quit", or when the process given with --parent has gone, and stops socat.

var Simulator = {stopping: false, socatPid: 0};

Simulator.run = function (dir, parentPid) {
    System.openConsole();
    System.control = function () {
        Simulator.stopping = true;
    };
    if (!Util.makeDirs(dir)) {
        System.print("simulator: cannot make " + dir);
        return;
    }
    Util.writeFile(dir + "/simulator.pid", String(System.getPID()));
    Modules.require("Serial", "mserial");
    File.remove(dir + "/ups");
    File.remove(dir + "/ups-sim");
    System.exec("sh -c \"echo $$ > socat.pid; exec socat PTY,link=ups,rawer PTY,link=ups-sim,rawer\"",
                dir);
    try {
        Simulator.serve(dir, parentPid);
    } finally {
        var socat = Util.readPid(dir + "/socat.pid");
        Util.signal(socat, "TERM");
        // Until it is reaped, so that no ended child is left behind.
        var end = Date.now() + 1000;
        while (socat && Util.exists("/proc/" + socat) && Date.now() < end) System.sleep(10);
        File.remove(dir + "/socat.pid");
        File.remove(dir + "/simulator.pid");
    }
};

Simulator.serve = function (dir, parentPid) {
    var end = Date.now() + 5000;
    while (!Util.exists(dir + "/ups-sim") && Date.now() < end) System.sleep(10);
    var port = new Serial();
    if (!port.open({port: dir + "/ups-sim", baudRate: 2400})) {
        System.print("simulator: no pseudo-terminal in " + dir);
        return;
    }
    var state = {charge: 87, load: 34, onBattery: false, time: Date.now()};
    var log = new File(dir + "/sent.log", "a");
    var applied = "", line = "";
    while (!Simulator.stopping) {
        if (parentPid && !Util.processAlive(parentPid)) break;
        // File times count whole seconds: the content tells two writes of one second apart.
        var st = File.status(dir + "/control");
        var control = st ? st.time + " " + (Util.readFile(dir + "/control") || "") : "";
        if (control !== applied) {
            applied = control;
            if (Simulator.control(state, control.substring(control.indexOf(" ") + 1)) === "quit") break;
        }
        Simulator.drift(state);
        var c = port.read({count: 1});
        if (c === "") continue;
        line += c;
        if (c !== "\r") {
            if (line.length > 16) line = "";
            continue;
        }
        if (line === UpsProtocol.request) {
            var answer = UpsProtocol.answer(state.charge, state.load, state.onBattery);
            port.write({content: answer});
            var parsed = UpsProtocol.parse(answer);
            log.write(Date.now() + " " + parsed.charge + " " + parsed.load + " " +
                      (parsed.onBattery ? 1 : 0) + "\n");
            log.close();
            log.open(dir + "/sent.log", "a");
        }
        line = "";
    }
    log.close();
    port.close();
};

// Applies "name=value" words of the control file; gives "quit" when it asks to end.
Simulator.control = function (state, text) {
    var words = text.split(/\s+/);
    for (var i = 0; i < words.length; i++) {
        var kv = words[i].split("=");
        if (kv[0] === "quit") return "quit";
        if (kv[0] === "power") state.onBattery = kv[1] === "battery";
        if (kv[0] === "charge" && /^\d+$/.test(kv[1])) state.charge = Math.min(100, +kv[1]);
        if (kv[0] === "load" && /^\d+$/.test(kv[1])) state.load = Math.min(100, +kv[1]);
    }
    return "";
};

// On mains the battery charges (0.2 %/s), on battery it drains (0.5 %/s); the load
// wanders between 15 and 80 %.
Simulator.drift = function (state) {
    var now = Date.now(), s = (now - state.time) / 1000;
    if (s < 0.25) return;
    state.time = now;
    state.charge += state.onBattery ? -0.5 * s : 0.2 * s;
    state.charge = Math.max(0, Math.min(100, state.charge));
    state.load += (Math.random() - 0.5) * 4 * s;
    state.load = Math.max(15, Math.min(80, state.load));
};

// Starts the simulator for the monitor in the given folder (a program of its own: the
// same executable in its simulator mode); the device path, or "" when
// the pseudo-terminal did not appear in time.
Simulator.launch = function (dir) {
    Util.makeDirs(dir);
    Simulator.stop(dir);
    File.remove(dir + "/ups");
    File.remove(dir + "/control");
    System.exec(Util.quoteArg(argv[0]) + " --simulate " + Util.quoteArg(dir) + " --parent " +
                System.getPID(), dir);
    var end = Date.now() + 10000;
    while (!Util.exists(dir + "/ups") && Date.now() < end) System.sleep(20);
    return Util.exists(dir + "/ups") ? dir + "/ups" : "";
};

// Stops a simulator that runs in the folder and waits for it to end (at most 3 s).
Simulator.stop = function (dir) {
    var pid = Util.readPid(dir + "/simulator.pid");
    if (!Util.processAlive(pid)) return;
    Util.signal(pid, "INT");
    var end = Date.now() + 3000;
    while (Util.processAlive(pid) && Date.now() < end) System.sleep(20);
};
