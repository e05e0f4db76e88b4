// TLS through the socket module, against Debian's openssl and curl on 127.0.0.1: a script
// server with a certificate from createSSLCertificate (over a key from openssl genpkey)
// reached by openssl s_client and curl, a script client against openssl s_server, and
// peers that break the protocol. Every program started here runs under `timeout` and is
// killed at the end whatever happens; files live in a scratch folder removed at the end.

var loaded = System.loadModule("bin/msocket.so");
var scratch = File.getCurrentWorkingDir() + "/socket_tls_test_" + System.getPID();
var started = []; // pid files of background programs

function path(name) {
    return scratch + "/" + name;
}

function readFile(name) {
    var f = new File(path(name), "rb");
    var s = f.read();
    f.close();
    return s === undefined ? "" : s;
}

// Runs a shell command line in the scratch folder; waits unless background is given,
// in which case the program's pid is kept for the clean-up.
function shell(line, background) {
    var name = "cmd" + (shell.count = (shell.count || 0) + 1) + ".sh";
    var f = new File(path(name), "wb");
    if (background) {
        started.push(path(name + ".pid"));
        line = "echo $$ > " + name + ".pid; exec " + line;
    }
    f.write(line + "\n");
    f.close();
    assertTrue(System.exec("sh " + name, scratch, !background), "ran: " + line);
}

// A socket of the type bound to 127.0.0.1 on a free port (its `port`), with a certificate.
function listen(type, cert, key) {
    return listenLoopback(type, function (s) {
        s.cert = cert;
        s.key = key;
    });
}

function freePort() {
    var s = listen("tcp");
    var port = s.port;
    s.close();
    return port;
}

function recvAll(s) {
    var got = "";
    for (var i = 0; i < 1000; i++) {
        var part = s.recv();
        if (part === "") break;
        got += part;
    }
    return got;
}

// The script's HTTPS server: one page per connection until its listener is closed.
function tlsServer() {
    for (;;) {
        var c;
        try {
            c = tlsListener.accept();
        } catch (e) {
            tlsServerEnd = e.message;
            return;
        }
        var request = c.recv();
        if (request !== "")
            c.send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello");
        tlsServed++;
        c.close();
    }
}

// A peer that answers a TLS client with plain text.
function plainServer() {
    var c = plainListener.accept();
    c.send("this is no TLS\r\n");
    c.close();
}

function firstTlsUse(port) {
    var s = new Socket("ssl");
    try {
        s.connect("127.0.0.1", port);
    } catch (e) {
        firstUse.push(e.message);
    }
}

// How many of the process's mappings are of libssl.
function libsslMappings() {
    shell("grep -c libssl /proc/" + System.getPID() + "/maps > maps.out");
    return parseInt(readFile("maps.out"), 10);
}

assertTrue(File.createDir(scratch), "scratch folder made");
try {
    if (!onWindows) test("OpenSSL is loaded on the first TLS use, not with the module", function () {
        assertEq(libsslMappings(), 0, "libssl before");
        new Socket("ssl").close();
        assertEq(libsslMappings(), 0, "libssl after making a socket");
    });

    test("two threads reach the first TLS use at once", function () {
        firstUse = [];
        var port = freePort();
        System.createThread("firstTlsUse(" + port + ")");
        System.createThread("firstTlsUse(" + port + ")");
        assertTrue(waitUntil(function () { return firstUse.length === 2; }), "both done");
        assertEq(firstUse[0], "Socket.connect: connect error on '127.0.0.1'");
        assertEq(firstUse[1], firstUse[0]);
        if (!onWindows) assertTrue(libsslMappings() > 0, "libssl loaded");
    });

    shell("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -aes-128-cbc " +
          "-pass pass:secret -out key.pem 2>/dev/null");
    var pem;

    test("createSSLCertificate: a SHA-256 X.509 v3 certificate over the key", function () {
        pem = Socket.createSSLCertificate({keyFile: path("key.pem"), password: "secret",
                                           outputFile: path("cert.pem"), CN: "localhost",
                                           O: "Capsule", OU: "Test", C: "DE", serial: 7});
        assertTrue(/^-----BEGIN CERTIFICATE-----\n[^]*-----END CERTIFICATE-----\n$/.test(pem), pem);
        assertEq(readFile("cert.pem"), pem, "the file holds the same PEM");
        shell("openssl x509 -in cert.pem -noout -text > cert.txt; " +
              "openssl x509 -in cert.pem -noout -checkend 31363200 >/dev/null; echo $? > in363days; " +
              "openssl x509 -in cert.pem -noout -checkend 31536000 >/dev/null; echo $? > in365days");
        var text = readFile("cert.txt");
        var expected = ["Version: 3 (0x2)", "Serial Number: 7", "ecdsa-with-SHA256",
                        "Subject: CN = localhost, O = Capsule, OU = Test, C = DE",
                        "Issuer: CN = localhost, O = Capsule, OU = Test, C = DE", "DNS:localhost"];
        for (var i = 0; i < expected.length; i++)
            assertTrue(text.indexOf(expected[i]) >= 0, expected[i] + " in " + text);
        assertEq(readFile("in363days"), "0\n", "valid in 363 days");
        assertEq(readFile("in365days"), "1\n", "expired in 365 days");
    });

    test("createSSLCertificate and bind failures", function () {
        var cases = [
            [{keyFile: path("none.pem")}, "createSSLCertificate: Unable to open file '" + path("none.pem") + "'"],
            [{}, "createSSLCertificate: Unable to open file 'undefined'"],
            [{keyFile: path("key.pem"), password: "wrong"}, "createSSLCertificate: Unable to read the private key"],
            [{keyFile: path("key.pem"), password: "secret", C: "too long"}, "createSSLCertificate: Unable to make"],
        ];
        for (var i = 0; i < cases.length; i++) {
            var m = assertThrows(function () { Socket.createSSLCertificate(cases[i][0]); }).message;
            assertEq(m.substr(0, cases[i][1].length), cases[i][1]);
        }
        var s = new Socket("ssl");
        s.cert = path("none.pem");
        assertEq(assertThrows(function () { s.bind("127.0.0.1", freePort()); }).message,
                 "Socket.bind: Unable to load SSL certificates '" + path("none.pem") + "' or key 'undefined'");
        assertEq(s.peer, undefined, "closed");
    });

    test("a script TLS server reached by openssl s_client and curl; TLS 1.1 refused", function () {
        shell("openssl pkey -in key.pem -passin pass:secret -out plainkey.pem");
        tlsListener = listen("ssl", path("cert.pem"), path("plainkey.pem"));
        tlsServed = 0;
        tlsServerEnd = undefined;
        System.createThread("tlsServer()");
        var port = tlsListener.port;
        var client = "timeout 10 openssl s_client -connect 127.0.0.1:" + port;
        shell(client + " -tls1_2 < /dev/null > tls12.out 2>&1; echo $? >> tls12.out");
        var out = readFile("tls12.out");
        assertTrue(/Protocol *: TLSv1\.2/.test(out), "TLS 1.2 handshake: " + out);
        assertTrue(out.indexOf("subject=CN = localhost, O = Capsule") >= 0, "our certificate");
        shell(client + " -tls1_1 -cipher DEFAULT@SECLEVEL=0 < /dev/null > tls11.out 2>&1;" +
              " echo $? >> tls11.out");
        out = readFile("tls11.out");
        assertTrue(/\n1\n$/.test(out) && /alert protocol version/.test(out), "TLS 1.1 refused: " + out);
        shell("timeout 10 curl -sk https://127.0.0.1:" + port + "/ -o page.out");
        assertEq(readFile("page.out"), "hello", "curl got the page");
        // Plain text instead of a handshake: the server drops that client and goes on.
        var garbage = new Socket("tcp");
        garbage.connect("127.0.0.1", port);
        garbage.send("GET / HTTP/1.0\r\n\r\n");
        garbage.setTimeout(5);
        assertTrue(garbage.recv(4000).indexOf("HTTP") < 0, "no page for plain text");
        garbage.close();
        // A client that leaves in the middle of its handshake.
        var half = new Socket("tcp");
        half.connect("127.0.0.1", port);
        half.send("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03");
        half.close();
        shell("timeout 10 curl -sk https://127.0.0.1:" + port + "/ -o page2.out");
        assertEq(readFile("page2.out"), "hello", "the server still serves");
        assertTrue(waitUntil(function () { return tlsServed === 6; }), "served " + tlsServed);
        // Closing the listener from this thread ends the accept that the server waits in.
        tlsListener.close();
        assertTrue(waitUntil(function () { return tlsServerEnd !== undefined; }), "server ended");
        assertEq(tlsServerEnd, "Socket.accept: Accept error");
    });

    test("a script TLS client against openssl s_server: ssl holds the subject", function () {
        shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 " +
              "-keyout peer.key -out peer.pem -subj '/CN=Peer Test/O=Elsewhere' 2>/dev/null");
        var port = freePort();
        shell("timeout 30 openssl s_server -accept 127.0.0.1:" + port + " -cert peer.pem " +
              "-key peer.key -www -naccept 1 > server.out 2>&1", true);
        assertTrue(waitUntil(function () {
            return File.status(path("server.out")) && readFile("server.out").indexOf("ACCEPT") >= 0;
        }, 10000), "s_server ready");
        var s = new Socket("ssl");
        s.connect("localhost", port);
        assertEq(s.ssl, "/CN=Peer Test/O=Elsewhere");
        assertEq(s.ip, "127.0.0.1");
        assertTrue(s.send("GET / HTTP/1.0\r\n\r\n") > 0, "sent");
        var page = recvAll(s);
        assertTrue(page.indexOf("HTTP/1.0 200 ok") === 0, "page: " + page);
        s.close();
    });

    test("a TLS client meeting plain text reports the failed handshake", function () {
        plainListener = listen("tcp");
        System.createThread("plainServer()");
        var s = new Socket("ssl");
        var m = assertThrows(function () { s.connect("127.0.0.1", plainListener.port); }).message;
        assertTrue(/^Socket\.connect: SSL connect error '.+' on '127\.0\.0\.1'$/.test(m), m);
        assertEq(s.peer, undefined, "closed");
        plainListener.close();
    });
} finally {
    for (var i = 0; i < started.length; i++) {
        if (!File.status(started[i])) continue;
        var f = new File(started[i], "rb");
        var pid = parseInt(f.read(), 10);
        f.close();
        if (pid > 0) shell("kill " + pid + " 2>/dev/null");
    }
    removeTree(scratch);
}
done();
