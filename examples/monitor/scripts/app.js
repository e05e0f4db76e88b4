// The agent as a whole: start everything in order, and wind it down again.

var App = {dataDir: "", stopRequested: false, running: false, done: false, agentReady: false,
           firstAnswerWait: 100};   // ms that the agent's start waits for the first answer

// The web server's scripts: the server itself and what it answers.
App.includeWebServer = function () {
    include("scripts/http.js", "AFS");
    include("scripts/routes.js", "AFS");
};

// The scripts of the agent behind the web server: the store, the devices, the poller,
// and what it tells Prometheus.
App.includeAgent = function () {
    include("scripts/store.js", "AFS");
    include("scripts/ups.js", "AFS");
    include("scripts/simulator.js", "AFS");
    include("scripts/poller.js", "AFS");
    include("scripts/metrics.js", "AFS");
};

// options: {dataDir, port, https, device}. The web server comes first, so that the page
// is there at once; the store, the device and the poller follow (the JSON interface
// answers 503 until they are there). The port is bound first of all, before the data
// folder is claimed and the web server's scripts are run: a client that comes meanwhile
// waits in the listen queue, not refused.
App.start = function (options) {
    App.dataDir = options.dataDir;
    Modules.require("Socket", "msocket");
    var v = Settings.load();
    var port = options.port || +v.port;
    var https = options.https !== undefined ? options.https : v.https === "1";
    var tls = https ? App.certificate() : null;
    var listener = App.listen(port, tls);
    try {
        App.makeDataDir();
        App.claimDataDir();
    } catch (e) {
        listener.close();
        throw e;
    }
    App.includeWebServer();
    Routes.loadFiles();
    Http.use(listener, port, tls);
    App.running = true;
    System.createThread("Http.acceptLoop()");
    App.address = Http.scheme + "://127.0.0.1:" + port + "/";
    // A client that already waits for the port (a browser, a health check) gets its page
    // before the agent's start takes the processor and the engine.
    Http.awaitFirstAnswer(App.firstAnswerWait);
    App.includeAgent();
    Modules.require("SQLite", "msqlite");
    Modules.require("Serial", "mserial");
    Store.open(App.dataDir + "/monitor.db");
    Metrics.init();
    Poller.init(App.device(options.device || v.device, v));
    App.agentReady = true;
    Poller.event("start", "Monitor started (process " + System.getPID() + ", " +
                 Poller.device.name + ")");
    System.createThread("Poller.run()");
    Util.log("serving " + App.address);
};

// A listening socket on 127.0.0.1; with tls the certificate and key files are used.
App.listen = function (port, tls) {
    var s = new Socket(tls ? "ssl" : "tcp");
    if (tls) {
        s.cert = tls.cert;
        s.key = tls.key;
    }
    s.bind("127.0.0.1", port);
    return s;
};

App.makeDataDir = function () {
    if (!Util.makeDirs(App.dataDir)) throw new Error("cannot make the data folder " + App.dataDir);
};

// One monitor per data folder: a second one would take over the first one's simulator.
App.claimDataDir = function () {
    var file = App.dataDir + "/monitor.pid", pid = Util.readPid(file);
    if (pid && pid !== System.getPID() && Util.processAlive(pid))
        throw new Error("another monitor (process " + pid + ") uses " + App.dataDir);
    Util.writeFile(file, String(System.getPID()));
    App.pidFile = file;
};

// The power device the settings name: an SNMP agent, a serial device, or the simulator.
App.device = function (device, v) {
    if (v.snmpHost) {
        Modules.require("Snmp", "msnmp");
        return new SnmpUps(v.snmpHost, v.snmpCommunity);
    }
    if (device === "simulated") {
        App.simulatorDir = App.dataDir + "/simulator";
        var path = Simulator.launch(App.simulatorDir);
        if (!path) Util.log("the UPS simulator did not start");
        var ups = new SerialUps(path || App.simulatorDir + "/ups", 2400);
        ups.name = "simulated UPS (" + ups.device + ")";
        return ups;
    }
    return new SerialUps(device, +v.baudRate);
};

// The HTTPS certificate and key in the data folder, made on first use: the key by
// openssl, the self-signed certificate by the socket module.
App.certificate = function () {
    App.makeDataDir();
    var key = App.dataDir + "/https-key.pem", cert = App.dataDir + "/https-cert.pem";
    if (!Util.exists(key))
        System.exec("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out https-key.pem",
                    App.dataDir, 1);
    if (!Util.exists(key)) throw new Error("cannot make an HTTPS key (is openssl installed?)");
    if (!Util.exists(cert))
        Socket.createSSLCertificate({keyFile: key, password: "", outputFile: cert, CN: "localhost",
                                     O: "Capsule", OU: "Monitor", C: "DE", serial: Date.now() % 1e9});
    return {cert: cert, key: key};
};

// Asks the running agent to stop; App.runUntilStopped does the winding down.
App.requestStop = function () {
    App.stopRequested = true;
};

// Waits until a stop is asked for, then stops the threads, the simulator and the store.
App.runUntilStopped = function () {
    while (!App.stopRequested) System.sleep(100);
    App.stop();
};

App.stop = function () {
    if (App.done) return;
    if (App.running) {
        App.running = false;
        Util.log("stopping");
        Http.stop();
    }
    if (App.agentReady) {
        Poller.stopping = true;
        var end = Date.now() + 3000;
        while (Poller.running && Date.now() < end) System.sleep(20);
        Poller.event("stop", "Monitor stopped");
    }
    if (App.simulatorDir) Simulator.stop(App.simulatorDir);
    if (typeof Store !== "undefined") Store.close();
    if (App.pidFile) File.remove(App.pidFile);
    App.done = true;
};
