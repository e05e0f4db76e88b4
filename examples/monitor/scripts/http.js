// A small HTTP/1.1 server on 127.0.0.1: one thread accepts, and each connection is served
// on a script thread of its own (keep-alive, at most Http.maxConnections at once). Routes
// are in routes.js; Http.respond builds the answers.
//
// Against other sites and slow clients: a request must name this server in its Host
// header (a page of another site that a DNS rebinding points at us gets 421, not our
// data); each request must arrive whole within Http.requestSeconds, however slowly its
// bytes trickle in; when every serving thread is busy the answer is 503, and the client
// gets to read it (an answer that ends a connection is followed by a short read of what
// the client still sends: closing with unread data would reset the connection).
// Headers and form fields go into objects without a prototype, so that names such as
// __proto__ or hasOwnProperty are plain names.

var Http = {
    listener: null,
    connections: {},   // id -> accepted Socket, from accept until its thread takes it
    open: {},          // id -> Socket being served
    active: 0,
    answered: 0,       // answers sent
    nextId: 0,
    maxConnections: 64,
    idleSeconds: 10,
    requestSeconds: 10,
    maxHeader: 16384,
    maxBody: 65536,
    stopping: false,
    accepting: false,
    scheme: "http",
    hosts: Object.create(null)   // Host header values that name this server (lower case)
};

Http.statusTexts = {200: "OK", 303: "See Other", 400: "Bad Request", 403: "Forbidden",
                    404: "Not Found", 405: "Method Not Allowed", 408: "Request Timeout",
                    413: "Payload Too Large", 421: "Misdirected Request",
                    431: "Request Header Fields Too Large", 500: "Internal Server Error",
                    503: "Service Unavailable"};

// Serves on a socket bound to the port of 127.0.0.1 (App.listen), over TLS when tls is
// given.
Http.use = function (s, port, tls) {
    if (tls) Http.scheme = "https";
    Http.listener = s;
    Http.port = port;
    var names = ["127.0.0.1", "localhost"], standard = tls ? 443 : 80;
    for (var i = 0; i < names.length; i++) {
        Http.hosts[names[i] + ":" + port] = true;
        if (port === standard) Http.hosts[names[i]] = true;
    }
};

// Whether a Host header or an Origin names this server.
Http.isOwnHost = function (host) {
    return Http.hosts[String(host).toLowerCase()] === true;
};
Http.isOwnOrigin = function (origin) {
    var prefix = Http.scheme + "://";
    return typeof origin === "string" && origin.substring(0, prefix.length) === prefix &&
           Http.isOwnHost(origin.substring(prefix.length));
};

Http.acceptLoop = function () {
    Http.accepting = true;
    try {
        while (!Http.stopping) {
            var c;
            try {
                c = Http.listener.accept();
            } catch (e) {
                if (Http.stopping) break;
                System.sleep(50);
                continue;
            }
            Http.dispatch(c);
        }
    } finally {
        Http.accepting = false;
    }
};

// Waits until the first answer is out, at most the given time.
Http.awaitFirstAnswer = function (ms) {
    var end = Date.now() + ms;
    while (!Http.answered && !Http.stopping && Date.now() < end) System.sleep(1);
};

Http.dispatch = function (c) {
    if (Http.active >= Http.maxConnections) {
        try {
            c.setTimeout(2);   // bounds a TLS handshake too
            var busy = Http.respond(503, "text/plain", "busy\n", false, "Retry-After: 1\r\n");
            Http.send(c, busy.bytes);
        } catch (e) {
        }
        Http.closeAfterAnswer(c);
        return;
    }
    var id = ++Http.nextId;
    Http.connections[id] = c;
    Http.active++;
    if (System.createThread("Http.serve(" + id + ")") < 0) {
        delete Http.connections[id];
        Http.active--;
        c.close();
    }
};

// Serves the requests of one connection until it closes, idles or asks to close.
Http.serve = function (id) {
    var c = Http.connections[id];
    delete Http.connections[id];
    Http.open[id] = c;
    var ended = false;
    try {
        var buffer = {data: ""};
        while (!Http.stopping) {
            var request = Http.readRequest(c, buffer);
            if (!request) break;
            var response = request.error ? Http.respond(request.error, "text/plain",
                                                       Http.statusTexts[request.error] + "\n", false)
                                         : Routes.handle(request);
            if (request.method === "HEAD") response = Http.headOf(response);
            // A client that was too slow to send gets little time to read.
            c.setTimeout(request.error ? 1 : Http.idleSeconds);
            if (!Http.send(c, response.bytes)) break;
            Http.answered++;
            ended = !!request.error;
            if (!response.keepAlive || !request.keepAlive) break;
        }
    } catch (e) {
        // A connection that fails ends; the server goes on.
    } finally {
        delete Http.open[id];
        if (ended)
            Http.closeAfterAnswer(c);
        else
            Http.close(c);
        Http.active--;
    }
};

Http.close = function (c) {
    try {
        c.close();
    } catch (e) {
    }
};

// Closes a connection after an answer to a request that was not read whole. What the
// client sends is read first, until it closes, ends a request head, or a second or 64 kB
// have gone by: closing with unread data would reset the connection, and the client
// would lose the answer.
Http.closeAfterAnswer = function (c) {
    try {
        c.setTimeout(1);
        var end = Date.now() + 1000, count = 0, tail = "", part;
        while (Date.now() < end && count < Http.maxBody && (part = c.recv(8192)) !== "") {
            count += part.length;
            tail = tail.slice(-3) + part;
            if (tail.indexOf("\r\n\r\n") >= 0) break;
        }
    } catch (e) {
    }
    Http.close(c);
};

// Receives more of a request: "" when the peer closed, null when the deadline passed.
Http.receive = function (c, deadline) {
    var left = deadline - Date.now();
    if (left <= 0) return null;
    c.setTimeout(Math.ceil(left / 1000));
    var part = c.recv(8192);
    return part === "" && Date.now() >= deadline - 50 ? null : part;
};

// Reads one request: {method, path, query, headers, body, keepAlive} or {error: status};
// null when the peer closed, or idled without sending anything. The whole request must
// arrive within Http.requestSeconds.
Http.readRequest = function (c, buffer) {
    var end, deadline = Date.now() + Http.requestSeconds * 1000;
    while ((end = buffer.data.indexOf("\r\n\r\n")) < 0) {
        if (buffer.data.length > Http.maxHeader) return {error: 431};
        var chunk = Http.receive(c, deadline);
        if (!chunk) return chunk === null && buffer.data ? {error: 408} : null;
        buffer.data += chunk;
    }
    if (end > Http.maxHeader) return {error: 431};
    var lines = buffer.data.substring(0, end).split("\r\n");
    var first = /^([A-Z]+) (\/\S*) HTTP\/1\.([01])$/.exec(lines[0]);
    if (!first) return {error: 400};
    var headers = Object.create(null);
    for (var i = 1; i < lines.length; i++) {
        var colon = lines[i].indexOf(":");
        if (colon <= 0) continue;
        var name = lines[i].substring(0, colon).toLowerCase();
        // Two of these would leave it open which one counts.
        if (name in headers && (name === "host" || name === "content-length")) return {error: 400};
        headers[name] = lines[i].substring(colon + 1).replace(/^\s+|\s+$/g, "");
    }
    if (!headers.host) return {error: 400};
    if (!Http.isOwnHost(headers.host)) return {error: 421};
    var length = headers["content-length"] ? parseInt(headers["content-length"], 10) : 0;
    if (!(length >= 0)) return {error: 400};
    if (length > Http.maxBody) return {error: 413};
    var rest = buffer.data.substring(end + 4);
    while (rest.length < length) {
        var more = Http.receive(c, deadline);
        if (!more) return more === null ? {error: 408} : null;
        rest += more;
    }
    buffer.data = rest.substring(length);
    var target = first[2], q = target.indexOf("?");
    var connection = (headers.connection || "").toLowerCase();
    return {method: first[1], path: q < 0 ? target : target.substring(0, q),
            query: Http.parseForm(q < 0 ? "" : target.substring(q + 1)), headers: headers,
            body: rest.substring(0, length),
            keepAlive: first[3] === "1" ? connection !== "close" : connection === "keep-alive"};
};

// application/x-www-form-urlencoded text to an object of strings (without a prototype).
Http.parseForm = function (text) {
    var out = Object.create(null), pairs = text.split("&");
    for (var i = 0; i < pairs.length; i++) {
        if (!pairs[i]) continue;
        var eq = pairs[i].indexOf("="), k = eq < 0 ? pairs[i] : pairs[i].substring(0, eq);
        var v = eq < 0 ? "" : pairs[i].substring(eq + 1);
        try {
            out[decodeURIComponent(k.replace(/\+/g, " "))] = decodeURIComponent(v.replace(/\+/g, " "));
        } catch (e) {
            // A malformed escape leaves the field out.
        }
    }
    return out;
};

// {bytes, keepAlive}: a whole response; body is a byte string.
Http.respond = function (status, type, body, keepAlive, extra) {
    var head = "HTTP/1.1 " + status + " " + (Http.statusTexts[status] || "") + "\r\n" +
               "Content-Type: " + type + "\r\nContent-Length: " + body.length + "\r\n" +
               "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n" +
               (extra || "") + "Connection: " + (keepAlive === false ? "close" : "keep-alive") +
               "\r\n\r\n";
    return {bytes: head + body, keepAlive: keepAlive !== false};
};

// The answer to a HEAD request: the head of the answer to GET, without its body (which
// the client would take for the next answer on the connection), so of length 0.
Http.headOf = function (response) {
    var head = response.bytes.substring(0, response.bytes.indexOf("\r\n\r\n") + 4);
    return {bytes: head.replace(/\r\nContent-Length: \d+\r\n/, "\r\nContent-Length: 0\r\n"),
            keepAlive: response.keepAlive};
};

Http.json = function (value, status) {
    return Http.respond(status || 200, "application/json; charset=utf-8",
                        Util.toUtf8(JSON.stringify(value)));
};

// Sends all bytes; false when the connection failed.
Http.send = function (c, bytes) {
    while (bytes.length) {
        var n = c.send(bytes);
        if (!(n > 0)) return false;
        bytes = bytes.substring(n);
    }
    return true;
};

// Closes the listener and every open connection, and waits (at most 3 s) for the
// threads to finish.
Http.stop = function () {
    Http.stopping = true;
    if (Http.listener) Http.listener.close();
    for (var id in Http.open) {
        try {
            Http.open[id].close();
        } catch (e) {
        }
    }
    var end = Date.now() + 3000;
    while ((Http.accepting || Http.active > 0) && Date.now() < end) System.sleep(20);
};
