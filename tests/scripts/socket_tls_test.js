// TLS through the socket module, against Debian's openssl and curl on 127.0.0.1: a script
// server with a certificate from createSSLCertificate (over a key from openssl genpkey)
// reached by openssl s_client and curl, a script client against openssl s_server, and
// peers that break the protocol. Every program started here runs under `timeout` and is
// killed at the end whatever happens; files live in a scratch folder removed at the end.
//
// On Windows (Schannel) the peers are the same programs: under Wine the Linux ones, run
// through /bin/sh; on a real Windows machine those of Git for Windows (sh, openssl, curl on
// PATH). Wine's Schannel has no server side and its key storage provider keeps no named
// keys, so the cases of a script TLS server run on a real Windows machine only.

var loaded = System.loadModule(moduleLibrary("bin/msocket"));
var underWine = onWindows && !!System.enumRegistry({root: "HKEY_LOCAL_MACHINE", path: "Software\\Wine"});
var serverSide = !underWine;
if (!serverSide) System.print("note: the TLS server cases need a real Windows machine (Wine's Schannel has no server side)");
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
// in which case the program's pid is kept for the clean-up. The wait is for a file that the
// line's shell writes at its end: Wine does not wait for the Linux programs it starts.
function shell(line, background) {
    var name = "cmd" + (shell.count = (shell.count || 0) + 1) + ".sh";
    var f = new File(path(name), "wb");
    if (background) {
        started.push(path(name + ".pid"));
        line = "echo $$ > " + name + ".pid; exec " + line;
    } else {
        line = "(" + line + "\n); echo > " + name + ".done";
    }
    f.write(line + "\n");
    f.close();
    assertTrue(System.exec((underWine ? "/bin/sh " : "sh ") + name, scratch, !background),
               "ran: " + line);
    if (!background)
        assertTrue(waitUntil(function () { return File.status(path(name + ".done")); }, 60000),
                   "ended: " + line);
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

// openssl s_server for one connection on a free port of 127.0.0.1, its output in the file
// named out; the port.
function opensslServer(options, out) {
    var port = freePort();
    shell("timeout 30 openssl s_server -accept 127.0.0.1:" + port + " " + options +
          " -naccept 1 > " + out + " 2>&1", true);
    assertTrue(waitUntil(function () {
        return File.status(path(out)) && readFile(out).indexOf("ACCEPT") >= 0;
    }, 10000), "s_server ready");
    return port;
}

// The page of s_server -www, read up to its end. (s_server waits for the client's goodbye
// before it closes, and Wine's Schannel hands the server's goodbye over with the last data
// without saying that it came: reading on would wait for its time-out.)
function recvPage(s) {
    var got = "";
    for (var i = 0; i < 1000 && got.indexOf("</HTML>") < 0; i++) {
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

// Sends the start of a TLS record one byte every 200 ms (at most 44 bytes) until the other
// side goes away: to a new connection to the port, or with port 0 to the first client of
// trickleListener.
function trickle(port) {
    var s = port ? new Socket("tcp") : trickleListener.accept();
    if (port) s.connect("127.0.0.1", port);
    var bytes = "\x16\x03\x01\x02\x00" + new Array(40).join("\x02");
    for (var i = 0; i < bytes.length && s.send(bytes.charAt(i)) === 1; i++) System.sleep(200);
    s.close();
    trickles++;
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
          "-pass pass:secret -out key.pem 2>/dev/null; " +
          "openssl pkey -in key.pem -passin pass:secret -out plainkey.pem");
    var pem;

    test("createSSLCertificate: a SHA-256 X.509 v3 certificate over the key", function () {
        pem = Socket.createSSLCertificate({keyFile: path("key.pem"), password: "secret",
                                           outputFile: path("cert.pem"), CN: "localhost",
                                           O: "Capsule", OU: "Test", C: "DE", serial: 7});
        assertTrue(/^-----BEGIN CERTIFICATE-----\n[^]*-----END CERTIFICATE-----\n$/.test(pem), pem);
        // Written in text mode: with CR LF line ends on Windows.
        assertEq(readFile("cert.pem"), onWindows ? pem.replace(/\n/g, "\r\n") : pem, "the file");
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

    test("createSSLCertificate over each form of key that openssl writes", function () {
        shell("openssl genrsa -out rsa.pem 2048 2>/dev/null; " +
              "openssl pkey -in rsa.pem -traditional -out rsa-traditional.pem; " +
              "openssl pkey -in rsa.pem -traditional -aes128 -passout pass:pw -out rsa-traditional-aes.pem; " +
              "openssl pkey -in rsa.pem -des3 -passout pass:pw -out rsa-des3.pem; " +
              "openssl pkey -in key.pem -passin pass:secret -traditional -out ec-traditional.pem; " +
              "openssl pkey -in key.pem -passin pass:secret -aes256 -passout pass:pw -out ec-aes256.pem; " +
              "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out p384.pem");
        var keys = [["rsa.pem", ""], ["rsa-traditional.pem", ""], ["rsa-traditional-aes.pem", "pw"],
                    ["rsa-des3.pem", "pw"], ["ec-traditional.pem", ""], ["ec-aes256.pem", "pw"]];
        // Wine's BCrypt signs with P-256 keys only.
        if (!underWine) keys.push(["p384.pem", ""]);
        var check = "";
        for (var i = 0; i < keys.length; i++) {
            Socket.createSSLCertificate({keyFile: path(keys[i][0]), password: keys[i][1],
                                         outputFile: path("made" + i + ".pem"), CN: "127.0.0.1"});
            // Signed by the key, carrying its public half, with the address as alternative name.
            check += "openssl verify -partial_chain -CAfile made" + i + ".pem made" + i + ".pem; " +
                     "openssl x509 -in made" + i + ".pem -noout -pubkey | cmp - pub" + i + ".pem && " +
                     "openssl x509 -in made" + i + ".pem -noout -ext subjectAltName | grep -c 'IP Address:127.0.0.1'; ";
            shell("openssl pkey -in " + keys[i][0] + " -passin pass:" + keys[i][1] + " -pubout -out pub" + i + ".pem");
        }
        shell("(" + check + ") > made.out 2>&1");
        var expected = "";
        for (i = 0; i < keys.length; i++)
            expected += "made" + i + ".pem: OK\n1\n";
        assertEq(readFile("made.out"), expected);
    });

    // Key files are read by the system's TLS library on Linux and by the module's own PEM and
    // DER reader on Windows: damaged ones must give the usual error, never a read past the end.
    test("damaged key files are refused with the usual error", function () {
        var pem = readFile("rsa.pem"), lines = pem.split("\n");
        var head = lines[0] + "\n", body = lines.slice(1, -2).join("\n"), tail = "\n" + lines[lines.length - 2] + "\n";
        var damaged = [
            ["empty", ""],
            ["header only", head],
            ["cut in half", pem.substring(0, pem.length >> 1)],
            ["no end line", head + body + "\n"],
            ["a length beyond the end", head + "MIP/" + body.substring(4) + tail],
            ["zeros after the start", head + body.substring(0, 40) + body.substring(40).replace(/[^\n]/g, "A") + tail],
            ["no base64", head + body.replace(/[A-M]/g, "*") + tail],
            ["a certificate", readFile("cert.pem")],
        ];
        var expected = "createSSLCertificate: Unable to read the private key '" + path("damaged.pem") + "'";
        damaged.forEach(function (d) {
            var f = new File(path("damaged.pem"), "wb");
            f.write(d[1]);
            f.close();
            var m = assertThrows(function () { Socket.createSSLCertificate({keyFile: path("damaged.pem")}); }, d[0]).message;
            assertEq(m.substr(0, expected.length), expected, d[0]);
        });
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
        // cert, key, password: a missing file, a wrong pass phrase, a key of another certificate.
        var binds = [[path("none.pem"), undefined, undefined], [path("cert.pem"), path("key.pem"), "wrong"],
                     [path("cert.pem"), path("rsa.pem"), undefined]];
        for (i = 0; i < binds.length; i++) {
            var s = new Socket("ssl");
            s.cert = binds[i][0];
            s.key = binds[i][1];
            s.password = binds[i][2];
            assertEq(assertThrows(function () { s.bind("127.0.0.1", freePort()); }).message,
                     "Socket.bind: Unable to load SSL certificates '" + binds[i][0] + "' or key '" + binds[i][1] + "'");
            assertEq(s.peer, undefined, "closed");
        }
        if (serverSide) {
            var encrypted = listenLoopback("ssl", function (s) {
                s.cert = path("cert.pem");
                s.key = path("key.pem");
                s.password = "secret";
            });
            encrypted.close();
        }
    });

    if (serverSide) test("a script TLS server reached by openssl s_client and curl; TLS 1.1 refused", function () {
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

    test("certificate and key files named beyond ASCII are found", function () {
        var dir = path("d\u00e9");
        assertTrue(File.createDir(dir), "folder made");
        ["cert.pem", "plainkey.pem"].forEach(function (name) {
            var f = new File(dir + "/" + name, "wb");
            f.write(readFile(name));
            f.close();
        });
        Socket.createSSLCertificate({keyFile: dir + "/plainkey.pem", outputFile: dir + "/made.pem",
                                     CN: "localhost"});
        assertTrue(File.status(dir + "/made.pem"), "File sees the certificate made");
        if (serverSide) listen("ssl", dir + "/cert.pem", dir + "/plainkey.pem").close();
    });

    test("the time-out bounds a whole TLS handshake, however slowly the peer sends", function () {
        var server = serverSide ? listen("ssl", path("cert.pem"), path("plainkey.pem")) : null;
        var took = [], start;
        trickleListener = listen("tcp");
        trickles = 0;
        try {
            // A server's handshake, inside its first recv.
            if (server) {
                System.createThread("trickle(" + server.port + ")");
                var c = server.accept();
                start = Date.now();
                c.setTimeout(1);
                assertEq(c.recv(), "", "recv");
                took.push(Date.now() - start);
                c.close();
            }
            // A client's handshake, inside connect.
            System.createThread("trickle(0)");
            var client = new Socket("ssl");
            client.setTimeout(1);
            start = Date.now();
            assertThrows(function () { client.connect("127.0.0.1", trickleListener.port); }, "connect");
            took.push(Date.now() - start);
            for (var i = 0; i < took.length; i++)
                assertTrue(took[i] >= 900 && took[i] < 2500, "took " + took[i] + " ms");
            assertTrue(waitUntil(function () { return trickles === took.length; }, 10000), "the peers ended");
        } finally {
            if (server) server.close();
            trickleListener.close();
        }
    });

    test("a script TLS client against openssl s_server: ssl holds the subject", function () {
        shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 " +
              "-keyout peer.key -out peer.pem -utf8 -subj '/CN=Peer Test/O=Elsewhere/OU=R\xc3\xa9seau' 2>/dev/null");
        // A second context for the name localhost: s_server says when a client names it.
        var port = opensslServer("-cert peer.pem -key peer.key -www -servername localhost " +
                                 "-cert2 peer.pem -key2 peer.key", "server.out");
        var s = new Socket("ssl");
        s.connect("localhost", port);
        assertEq(s.ssl, "/CN=Peer Test/O=Elsewhere/OU=R\\xC3\\xA9seau");
        assertEq(s.ip, "127.0.0.1");
        assertTrue(s.send("GET / HTTP/1.0\r\n\r\n") > 0, "sent");
        var page = recvPage(s);
        assertTrue(page.indexOf("HTTP/1.0 200 ok") === 0, "page: " + page);
        s.close();
        assertTrue(waitUntil(function () {
            return readFile("server.out").indexOf('Hostname in TLS extension: "localhost"') >= 0;
        }, 10000), "the server name sent");
    });

    test("a script TLS client refuses a server that speaks TLS 1.1 at most", function () {
        var port = opensslServer("-cert peer.pem -key peer.key -www -tls1_1 -cipher DEFAULT@SECLEVEL=0",
                                 "server11.out");
        var s = new Socket("ssl");
        var m = assertThrows(function () { s.connect("127.0.0.1", port); }).message;
        assertTrue(/^Socket\.connect: SSL connect error '.+' on '127\.0\.0\.1'$/.test(m), m);
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
