// The HTTP benchmark's application (see bench/socket_http.sh): a small keep-alive HTTP
// server on the socket module.
//   http-app <module> <page file> <port> <serving threads> [tls <key file>]
// The main thread accepts; each accepted connection goes through a queue to one of the
// serving script threads, which answers every request on it with the page until the
// client closes. With "tls" the server speaks HTTPS with a certificate that it makes
// over the key with Socket.createSSLCertificate.
System.loadModule(argv[1]);
var f = new File(argv[2], "rb");
var page = f.read();
f.close();
var port = +argv[3], threads = +argv[4], tls = argv[5] === "tls";
var response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + page.length +
               "\r\n\r\n" + page;
var queue = [], queueLock = System.createMutex();

System.control = function () { System.exit(0); };

function take() {
    System.lockMutex(queueLock);
    var c = queue.shift();
    System.unlockMutex(queueLock);
    return c;
}

function serve(c) {
    var pending = "";
    for (;;) {
        var data = c.recv(16384);
        if (data === "") break;
        pending += data;
        var end;
        while ((end = pending.indexOf("\r\n\r\n")) >= 0) {
            var head = pending.substring(0, end);
            pending = pending.substring(end + 4);
            if (c.send(response) < 0 || /\r\nConnection: *close/i.test(head)) return c.close();
        }
    }
    c.close();
}

function servingThread() {
    for (;;) {
        var c = take();
        if (c) serve(c);
        else System.sleep(1);
    }
}

var listener = new Socket(tls ? "ssl" : "tcp");
if (tls) {
    var cert = argv[6] + ".crt";
    Socket.createSSLCertificate({keyFile: argv[6], outputFile: cert, CN: "localhost"});
    listener.cert = cert;
    listener.key = argv[6];
}
listener.bind("127.0.0.1", port);
for (var i = 0; i < threads; i++) System.createThread("servingThread()");
for (;;) {
    var c = listener.accept();
    System.lockMutex(queueLock);
    queue.push(c);
    System.unlockMutex(queueLock);
}
