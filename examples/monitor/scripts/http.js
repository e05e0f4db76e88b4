// A small HTTP/1.1 server on 127.0.0.1: one thread accepts, and each connection is served
// on a script thread of its own (keep-alive, at most Http.maxConnections at once). Routes
// are in routes.js; Http.respond builds the answers.

var Http = {
    listener: null,
    connections: {},   // id -> accepted Socket, from accept until its thread takes it
    open: {},          // id -> Socket being served
    active: 0,
    nextId: 0,
    maxConnections: 64,
    idleSeconds: 10,
    maxHeader: 16384,
    maxBody: 65536,
    stopping: false,
    accepting: false,
    scheme: "http"
};

Http.statusTexts = {200: "OK", 303: "See Other", 400: "Bad Request", 403: "Forbidden",
                    404: "Not Found", 405: "Method Not Allowed", 413: "Payload Too Large",
                    431: "Request Header Fields Too Large", 503: "Service Unavailable"};

// Binds the listener; with tls the certificate and key files are used.
Http.listen = function (port, tls) {
    var s = new Socket(tls ? "ssl" : "tcp");
    if (tls) {
        s.cert = tls.cert;
        s.key = tls.key;
        Http.scheme = "https";
    }
    s.bind("127.0.0.1", port);
    Http.listener = s;
    Http.port = port;
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

Http.dispatch = function (c) {
    if (Http.active >= Http.maxConnections) {
        c.setTimeout(2);
        Http.send(c, Http.respond(503, "text/plain", "busy\n", false));
        c.close();
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
    try {
        c.setTimeout(Http.idleSeconds);
        var buffer = {data: ""};
        while (!Http.stopping) {
            var request = Http.readRequest(c, buffer);
            if (!request) break;
            var response = request.error ? Http.respond(request.error, "text/plain",
                                                       Http.statusTexts[request.error] + "\n", false)
                                         : Routes.handle(request);
            if (!Http.send(c, response.bytes) || !response.keepAlive || !request.keepAlive) break;
        }
    } catch (e) {
        // A connection that fails ends; the server goes on.
    } finally {
        delete Http.open[id];
        try {
            c.close();
        } catch (e) {
        }
        Http.active--;
    }
};

// Reads one request: {method, path, query, headers, body, keepAlive} or {error: status};
// null when the peer closed or idled.
Http.readRequest = function (c, buffer) {
    var end;
    while ((end = buffer.data.indexOf("\r\n\r\n")) < 0) {
        if (buffer.data.length > Http.maxHeader) return {error: 431};
        var chunk = c.recv(8192);
        if (chunk === "") return null;
        buffer.data += chunk;
    }
    if (end > Http.maxHeader) return {error: 431};
    var lines = buffer.data.substring(0, end).split("\r\n");
    var first = /^([A-Z]+) (\S+) HTTP\/1\.([01])$/.exec(lines[0]);
    if (!first) return {error: 400};
    var headers = {};
    for (var i = 1; i < lines.length; i++) {
        var colon = lines[i].indexOf(":");
        if (colon > 0)
            headers[lines[i].substring(0, colon).toLowerCase()] = lines[i].substring(colon + 1).replace(/^\s+|\s+$/g, "");
    }
    var length = headers["content-length"] ? parseInt(headers["content-length"], 10) : 0;
    if (!(length >= 0)) return {error: 400};
    if (length > Http.maxBody) return {error: 413};
    var rest = buffer.data.substring(end + 4);
    while (rest.length < length) {
        var more = c.recv(8192);
        if (more === "") return null;
        rest += more;
    }
    buffer.data = rest.substring(length);
    var target = first[2], q = target.indexOf("?");
    var connection = (headers.connection || "").toLowerCase();
    return {method: first[1], path: q < 0 ? target : target.substring(0, q),
            query: q < 0 ? {} : Http.parseForm(target.substring(q + 1)), headers: headers,
            body: rest.substring(0, length),
            keepAlive: first[3] === "1" ? connection !== "close" : connection === "keep-alive"};
};

// application/x-www-form-urlencoded text to an object of strings.
Http.parseForm = function (text) {
    var out = {}, pairs = text.split("&");
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
