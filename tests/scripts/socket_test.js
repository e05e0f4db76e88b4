// The socket module (build/bin/msocket.so, msocket.dll on Windows) with real peers on
// 127.0.0.1: TCP between two script threads, UDP datagrams, time-outs, the module's
// messages and host look-ups. The broadcast case runs in a network namespace of its own
// (unshare, Linux only) and is skipped where none can be made. TLS has its own test
// (socket_tls_test.js).

var loaded = System.loadModule(moduleLibrary("bin/msocket"));
var scratch = File.getCurrentWorkingDir() + "/socket_test_" + System.getPID();
// A name that fails inside the resolver (a label over 63 characters): no query leaves.
var badName = new Array(71).join("x") + ".invalid";

var listen = listenLoopback;

// Receives until the text holds n bytes or the peer ends (bounded).
function recvAll(s, n) {
    var got = "";
    for (var i = 0; i < 1000 && got.length < n; i++) {
        var part = s.recv();
        if (part === "") break;
        got += part;
    }
    return got;
}

// Every byte value, twice: NULs and bytes above 0x7F must cross unchanged.
var allBytes = "";
for (var b = 0; b < 512; b++) allBytes += String.fromCharCode(b & 255);

// Script-thread servers: each handles what the main thread sets up in globals.
function echoServer() {
    var c = echoListener.accept();
    echoSeen = c.ip;
    var data = recvAll(c, allBytes.length);
    echoSent = c.send(data);
    c.close();
}

function vanishServer() {
    var c = vanishListener.accept();
    // The first failed send may report the reset; the ones after it meet a broken pipe.
    var chunk = new Array(65537).join("z"), failures = 0, n = 0;
    for (var i = 0; i < 200 && failures < 3; i++)
        if ((n = c.send(chunk)) < 0) failures++;
    vanishResult = n;
    c.close();
    var next = vanishListener.accept(); // the server goes on with the next client
    next.send(next.recv());
    next.close();
}

try {
    test("the module registers Socket with its functions", function () {
        assertEq(loaded, true);
        var lengths = {connect: 3, bind: 2, accept: 0, setTimeout: 1, send: 1, recv: 1,
                       sendTo: 3, recvFrom: 3, close: 0};
        for (var name in lengths) assertEq(Socket.prototype[name].length, lengths[name], name);
        var statics = {getHostName: 0, getLocalAddress: 0, getHostInfos: 1, createSSLCertificate: 1};
        for (name in statics) assertEq(Socket[name].length, statics[name], name);
        var s = new Socket("tcp");
        assertEq(s.type, "tcp");
        assertEq(typeof s.peer, "number");
        assertTrue(s instanceof Socket, "instanceof");
        s.peer = 1;
        assertTrue(s.peer !== 1, "peer is read-only");
        assertEq(Object.keys(s).join(), "type,peer");
        s.close();
    });

    test("format errors and unknown types", function () {
        var s = new Socket("udp");
        var cases = [
            [function () { new Socket(); }, "Socket(<type>)"],
            [function () { s.connect("a"); }, "Socket.connect(<host>, <port>)"],
            [function () { s.bind("a"); }, "Socket.bind(<host>, <port>)"],
            [function () { s.setTimeout(); }, "Socket.setTimeout(<timeout>)"],
            [function () { s.send(); }, "Socket.send(<data>)"],
            [function () { s.sendTo("a", 1); }, "Socket.sendTo(<host/ip>, <port>, <data>)"],
            [function () { s.recvFrom("a"); }, "Socket.recvFrom(<host>, <port>)"],
            [function () { Socket.getHostInfos(); }, "Socket.getHostInfos(<host>)"],
            [function () { Socket.createSSLCertificate(); },
             "Socket.createSSLCertificate(<certificat descriptor>)"],
        ];
        for (var i = 0; i < cases.length; i++)
            assertEq(assertThrows(cases[i][0]).message, "Native function format error: " + cases[i][1]);
        assertEq(assertThrows(function () { new Socket("xyz"); }).message,
                 "Socket: Unable to create socket");
        s.close();
    });

    test("calls after close report their messages; close publishes undefined", function () {
        var s = new Socket("tcp");
        s.close();
        assertEq(s.host + s.peer + s.port, NaN);
        assertTrue("peer" in s && s.peer === undefined, "peer undefined");
        var cases = [
            [function () { s.connect("127.0.0.1", 1); }, "Socket.connect: Socket not initialized"],
            [function () { s.bind("127.0.0.1", 1); }, "Socket.bind: Not initialized"],
            [function () { s.accept(); }, "Socket.accept: Socket not initialized"],
            [function () { s.setTimeout(1); }, "Socket.setTimeout: Socket not initialized"],
            [function () { s.send("x"); }, "Socket.send: Socket not initialized"],
            [function () { s.recv(); }, "Socket.recv: Socket not initialized"],
            [function () { s.sendTo("127.0.0.1", 1, "x"); }, "Socket.sendTo: Socket not initialized"],
            [function () { s.recvFrom("*", 1); }, "Socket.recvFrom: Socket not initialized"],
            // Methods applied to anything but an instance find no record.
            [function () { Socket.prototype.recv.call({}); }, "Socket.recv: Socket not initialized"],
        ];
        for (var i = 0; i < cases.length; i++)
            assertEq(assertThrows(cases[i][0]).message, cases[i][1]);
        assertEq(s.close(), undefined, "a second close is harmless");
    });

    test("failures that close the socket", function () {
        var cases = [
            ["tcp", function (s) { s.connect(badName, 80); },
             "Socket.connect: Can't get host by name on '" + badName + "'"],
            ["udp", function (s) { s.sendTo(badName, 9, "x"); },
             "Socket.sendTo: Can't get host by name on '" + badName + "'"],
            ["udp", function (s) { s.recvFrom(badName, 9); },
             "Socket.recvFrom: Can't get host by name on '" + badName + "'"],
            ["tcp", function (s) { s.bind(badName, 8080); }, "Socket.bind: Bind error on '" + badName + ":8080'"],
            ["tcp", function (s) { s.bind("127.0.0.1", 70000); }, "Socket.bind: Bind error on '127.0.0.1:70000'"],
            ["tcp", function (s) { s.connect("127.0.0.1", -1); }, "Socket.connect: connect error on '127.0.0.1'"],
        ];
        for (var i = 0; i < cases.length; i++) {
            var s = new Socket(cases[i][0]);
            assertEq(assertThrows(function () { cases[i][1](s); }).message, cases[i][2]);
            assertEq(s.peer, undefined, "closed: " + cases[i][2]);
            assertEq(s.host, undefined);
        }
        var u = new Socket("udp");
        assertEq(assertThrows(function () { u.sendTo(undefined, 9, "x"); }).message,
                 "Socket.sendTo: host is not defined");
        assertEq(typeof u.peer, "number", "an undefined host leaves the socket open");
        u.close();
    });

    test("bind errors: a port in use, a closed port, accept without listening", function () {
        var l = listen("tcp");
        var other = new Socket("tcp");
        assertEq(assertThrows(function () { other.bind("127.0.0.1", l.port); }).message,
                 "Socket.bind: Bind error on '127.0.0.1:" + l.port + "'");
        var port = l.port;
        l.close();
        var c = new Socket("tcp");
        assertEq(assertThrows(function () { c.connect("127.0.0.1", port); }).message,
                 "Socket.connect: connect error on '127.0.0.1'");
        // Address reuse: the port binds again right after its listener closed.
        var again = new Socket("tcp");
        again.bind("*", port);
        assertEq(again.ip, "0.0.0.0");
        again.close();
        var idle = new Socket("tcp");
        assertEq(assertThrows(function () { idle.accept(); }).message, "Socket.accept: Accept error");
        idle.close();
    });

    test("TCP echo between two script threads", function () {
        echoListener = listen("tcp");
        assertEq(echoListener.ip, "127.0.0.1");
        echoSent = undefined;
        assertTrue(System.createThread("echoServer()") > 0, "server thread");
        var c = new Socket("tcp");
        c.connect("localhost", echoListener.port);
        assertEq(c.ip, "127.0.0.1");
        assertEq(c.host, "localhost");
        assertEq(c.port, echoListener.port);
        assertEq(c.send(allBytes), allBytes.length);
        assertEq(recvAll(c, allBytes.length), allBytes);
        assertEq(c.recv(), "", "the end of the stream");
        assertTrue(waitUntil(function () { return echoSent !== undefined; }), "server done");
        assertEq(echoSent, allBytes.length);
        assertEq(echoSeen, "127.0.0.1", "accepted socket's ip");
        c.close();
        echoListener.close();
    });

    test("recv sizes: default 4000, the given size, nonsense sizes read the default", function () {
        var l = listen("tcp");
        var c = new Socket("tcp");
        c.connect("127.0.0.1", l.port);
        var a = l.accept();
        assertEq(typeof a.peer, "number");
        var big = new Array(20001).join("d");
        var sizes = [[undefined, 4000], [10, 10], [0, 4000], [-5, 4000], ["x", 4000], [1e12, 20000]];
        for (var i = 0; i < sizes.length; i++) {
            assertEq(c.send(big), big.length);
            var got = sizes[i][0] === undefined ? a.recv() : a.recv(sizes[i][0]);
            assertTrue(got.length > 0 && got.length <= sizes[i][1],
                       "recv(" + sizes[i][0] + ") gave " + got.length);
            recvAll(a, big.length - got.length);
        }
        a.close(), c.close(), l.close();
    });

    test("setTimeout(1) ends a blocked recv about a second later with the empty text", function () {
        var l = listen("tcp");
        var c = new Socket("tcp");
        c.connect("127.0.0.1", l.port);
        assertEq(c.setTimeout(1), undefined);
        assertEq(c.timeout, 1);
        c.setTimeout(undefined);
        assertEq(c.timeout, 1, "undefined changes nothing");
        var start = Date.now();
        assertEq(c.recv(), "");
        var took = Date.now() - start;
        assertTrue(took >= 900 && took < 3000, "took " + took + " ms");
        c.close(), l.close();
    });

    // On Linux the time-out bounds a listener's accept too; the listener stays open.
    if (!onWindows) test("a listener's setTimeout bounds accept", function () {
        var l = listen("tcp");
        l.setTimeout(1);
        assertEq(assertThrows(function () { l.accept(); }).message, "Socket.accept: Accept error");
        var c = new Socket("tcp");
        c.connect("127.0.0.1", l.port);
        var a = l.accept();
        assertTrue(a instanceof Socket, "accepted after the time-out");
        a.close(), c.close(), l.close();
    });

    // A burst of clients before the server accepts: the queue takes them all, where a
    // short one made the system drop connections that then waited a second to try again.
    test("a listener queues a burst of 64 connections before its first accept", function () {
        var l = listen("tcp"), clients = [], start = Date.now();
        for (var i = 0; i < 64; i++) {
            var c = new Socket("tcp");
            c.setTimeout(2); // bounds a connect that the queue would not take (Linux)
            c.connect("127.0.0.1", l.port);
            clients.push(c);
        }
        assertTrue(Date.now() - start < 1000, "no client waited: " + (Date.now() - start) + " ms");
        for (i = 0; i < clients.length; i++) {
            clients[i].send("n" + i);
            var a = l.accept();
            assertEq(a.recv(10), "n" + i, "accepted in order");
            a.close(), clients[i].close();
        }
        l.close();
    });

    test("a client that vanishes mid-response: send gives -1, the server goes on", function () {
        vanishListener = listen("tcp");
        vanishResult = undefined;
        System.createThread("vanishServer()");
        var c = new Socket("tcp");
        c.connect("127.0.0.1", vanishListener.port);
        c.recv(100);
        c.close();
        assertTrue(waitUntil(function () { return vanishResult !== undefined; }), "server saw it");
        assertEq(vanishResult, -1);
        var next = new Socket("tcp");
        next.connect("127.0.0.1", vanishListener.port);
        next.send("still here");
        assertEq(recvAll(next, 10), "still here");
        next.close();
        vanishListener.close();
    });

    test("UDP sendTo and recvFrom on loopback, with peerPort", function () {
        var r = listen("udp");
        var s = new Socket("udp");
        assertEq(s.sendTo("127.0.0.1", r.port, allBytes), allBytes.length);
        assertTrue(s.peerPort > 0, "peerPort " + s.peerPort);
        // recvFrom reads its own socket, whatever the script made of `peer`.
        Object.defineProperty(r, "peer", {value: s.peer});
        var d = r.recvFrom("*", r.port);
        assertEq(d.data, allBytes);
        assertEq(d.ip, "127.0.0.1");
        assertEq(d.port, s.peerPort);
        assertEq(Object.keys(d).sort().join(), "data,ip,port");
        assertEq(r.host, "*");
        assertEq(s.sendTo("127.0.0.1", r.port, ""), 0, "an empty datagram");
        assertEq(r.recvFrom("127.0.0.1", 0).data, "");
        assertEq(s.sendTo("127.0.0.1", 70000, "x"), -1, "no such port");
        assertEq(s.send("x"), -1, "send on an unconnected datagram socket");
        r.close(), s.close();
    });

    test("host look-ups", function () {
        var name = Socket.getHostName();
        assertTrue(typeof name === "string" && name.length > 0, "host name " + name);
        var local = Socket.getLocalAddress();
        if (local === undefined) System.print("skip: this machine's name does not resolve");
        else assertTrue(/^\d+\.\d+\.\d+\.\d+$/.test(local), "local address " + local);
        var infos = Socket.getHostInfos("127.0.0.1");
        assertEq(infos.ip, "127.0.0.1");
        if (infos.host === undefined) System.print("skip: 127.0.0.1 has no name here");
        else assertTrue(infos.host.length > 0, "reverse name");
        infos = Socket.getHostInfos("localhost");
        assertEq(infos.host, "localhost");
        assertTrue(/^127\./.test(infos.ip), "localhost is " + infos.ip);
        assertEq(Object.keys(Socket.getHostInfos(badName)).join(), "host");
    });

    // Windows has no network namespace to broadcast in.
    if (!onWindows) test("sendTo('*') broadcasts (inside a network namespace of the test's own)", function () {
        assertTrue(File.createDir(scratch), "scratch");
        var child = scratch + "/broadcast_test.js";
        var f = new File(child, "wb");
        f.write('System.loadModule("bin/msocket.so");\n' +
                'var r = new Socket("udp"); r.bind("*", 4679); r.setTimeout(3);\n' +
                'var s = new Socket("udp");\n' +
                'test("broadcast", function () {\n' +
                '    assertEq(s.sendTo("*", 4679, "hello"), 5);\n' +
                '    assertTrue(s.peerPort > 0, "peerPort");\n' +
                '    assertEq(r.recvFrom("*", 4679).data, "hello");\n' +
                '});\ndone();\n');
        f.close();
        f = new File(scratch + "/run.sh", "wb");
        f.write("unshare --net true 2>/dev/null || { echo no-namespace > " + scratch + "/result; exit; }\n" +
                "timeout 20 unshare --net sh -c 'ip link set lo up && ip route add default dev lo && " +
                "./capsule-test " + child + "' > " + scratch + "/out 2>&1\n" +
                "echo $? > " + scratch + "/result\n");
        f.close();
        assertTrue(System.exec("sh " + scratch + "/run.sh", undefined, 1), "ran");
        f = new File(scratch + "/result", "rb");
        var result = f.read().replace(/\s+$/, "");
        f.close();
        if (result === "no-namespace") {
            System.print("skip: broadcast (no network namespace can be made here)");
            return;
        }
        f = new File(scratch + "/out", "rb");
        var out = f.read();
        f.close();
        assertEq(result, "0", "broadcast test in the namespace: " + out);
    });
} finally {
    if (File.status(scratch)) removeTree(scratch);
}
done();
