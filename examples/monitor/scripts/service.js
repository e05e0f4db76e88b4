// The command line and the ways the monitor runs: in the console, as a system service,
// as the service's installer, or as the UPS simulator.

var Service = {name: "capsule-monitor", started: false};

Service.usage = "usage: monitor [--port N] [--https] [--device simulated|/dev/...] [--data DIR]\n" +
                "       monitor --install | --uninstall | --service | --export\n" +
                "       monitor --simulate DIR [--parent PID]";

// The options of a command line, or a message for a bad one.
Service.parse = function (args) {
    var o = {mode: "console"}, valued = {"--port": "port", "--device": "device", "--data": "dataDir",
                                         "--simulate": "simulate", "--parent": "parent"};
    for (var i = 0; i < args.length; i++) {
        var a = args[i];
        if (valued.hasOwnProperty(a)) {
            if (i + 1 >= args.length) return {error: a + " needs a value"};
            o[valued[a]] = args[++i];
        } else if (a === "--https") {
            o.https = true;
        } else if (a === "--install" || a === "--uninstall" || a === "--service" || a === "--export") {
            o.mode = a.substring(2);
        } else if (a === "--help" || a === "-h") {
            o.mode = "help";
        } else {
            return {error: "unknown argument " + a};
        }
    }
    if (o.simulate) o.mode = "simulate";
    if (o.port !== undefined) {
        if (Settings.integerIn(o.port, 1, 65535)) return {error: "--port must be 1 to 65535"};
        o.port = +o.port;
    }
    if (o.device !== undefined && Settings.fields.device[1](o.device))
        return {error: "--device " + Settings.fields.device[1](o.device)};
    o.dataDir = o.dataDir ? Util.absolute(o.dataDir, true) : Util.absolute(Util.baseName(argv[0]) + "-data");
    if (o.simulate) o.simulate = Util.absolute(o.simulate, true);
    return o;
};

Service.main = function (args) {
    var o = Service.parse(args);
    if (o.error || o.mode === "help") {
        System.openConsole();
        System.print((o.error ? "monitor: " + o.error + "\n" : "") + Service.usage);
        System.exit(o.error ? 2 : 0);
    }
    if (o.mode === "simulate") {
        include("scripts/ups.js", "AFS");
        include("scripts/simulator.js", "AFS");
        return Simulator.run(o.simulate, +o.parent || 0);
    }
    if (o.mode === "export") {
        Settings.load();
        System.openConsole();
        System.print(Settings.toXML());
        return;
    }
    if (o.mode === "install") return Service.install();
    if (o.mode === "uninstall") return Service.uninstall();
    if (o.mode === "service") {
        Service.run(o);
        if (Service.started) return;
        Util.log("not started by the service manager: running in the console");
    }
    Service.console(o);
};

// Console mode: Ctrl-C (and the console's close) stop the agent cleanly.
Service.console = function (o) {
    System.openConsole();
    System.control = function (name) {
        App.requestStop();
        // The process may end once this returns (a closed console): wait for the wind-down.
        var end = Date.now() + 4000;
        while (!App.done && Date.now() < end) System.sleep(20);
    };
    try {
        App.start(o);
    } catch (e) {
        var message = String(e && e.message || e);
        if (/Bind error/.test(message)) message += " (the port is taken: choose another with --port N)";
        System.print("monitor: " + message);
        App.stop();
        System.exit(1);
    }
    System.print("Capsule monitor: open " + App.address + " (Ctrl-C stops)");
    App.runUntilStopped();
};

// Service mode: the settings are the machine's; the service protocol drives start and stop.
Service.run = function (o) {
    var config = {serviceName: Service.name};
    Settings.root = "HKEY_LOCAL_MACHINE";
    System.control = function (name) {
        if (name === "CONTROL_START") {
            Service.started = true;
            System.controlService("CONTROL_START", config);
            try {
                App.start(o);
                App.runUntilStopped();
            } catch (e) {
                Util.log("monitor: " + (e && e.message || e));
                App.stop();
            }
            System.controlService("CONTROL_STOP", config);
        } else {
            App.requestStop();
        }
    };
    System.controlService("CONTROL_REGISTER", config);
    if (!Service.started) Settings.root = "HKEY_CURRENT_USER";
};

// Runs a service command; a service manager that cannot be reached ends the process.
Service.command = function (command, config) {
    try {
        return System.controlService(command, config);
    } catch (e) {
        System.print("monitor: " + e.message + " (installing a service needs systemd and root)");
        System.exit(1);
    }
};

Service.install = function () {
    System.openConsole();
    var ok = Service.command("SERVICE_INSTALL", {
        serviceName: Service.name, displayName: "Capsule power monitor",
        description: "Watches the UPS and the host, serves its page on 127.0.0.1",
        commandLine: Util.quoteArg(argv[0]) + " --service", onErrorRestartDelay: 5000});
    if (ok) ok = Service.command("SERVICE_START", {serviceName: Service.name});
    System.print(ok ? "service " + Service.name + " installed and started"
                    : "could not install the service " + Service.name);
    System.exit(ok ? 0 : 1);
};

Service.uninstall = function () {
    System.openConsole();
    Service.command("SERVICE_STOP", {serviceName: Service.name});
    var ok = Service.command("SERVICE_UNINSTALL", {serviceName: Service.name});
    System.print(ok ? "service " + Service.name + " removed" : "no service " + Service.name);
    System.exit(ok ? 0 : 1);
};
