// A small client of the browser's DevTools protocol over the socket module: plain HTTP
// for the target list, then one WebSocket (RFC 6455) connection to a page target.

var DevTools = {};

// GET of a path on 127.0.0.1:port; the body, or "" when nothing answered.
DevTools.httpGet = function (port, path) {
    var s = new Socket("tcp");
    try {
        s.connect("127.0.0.1", port);
        s.setTimeout(5);
        s.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nConnection: close\r\n\r\n");
        var got = "";
        for (var i = 0; i < 1000; i++) {
            var part = s.recv(65536);
            if (part === "") break;
            got += part;
        }
        var end = got.indexOf("\r\n\r\n");
        return end < 0 ? "" : got.substring(end + 4);
    } catch (e) {
        return "";
    } finally {
        try { s.close(); } catch (e) {}
    }
};

function DevToolsPage(port, wsPath) {
    this.socket = new Socket("tcp");
    this.socket.connect("127.0.0.1", port);
    this.socket.setTimeout(20);
    this.buffer = "";
    this.nextId = 0;
    var key = "";
    for (var i = 0; i < 16; i++) key += String.fromCharCode(Math.floor(Math.random() * 256));
    this.socket.send("GET " + wsPath + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n" +
                     "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n" +
                     "Sec-WebSocket-Key: " + DevTools.base64(key) + "\r\n\r\n");
    var end;
    while ((end = this.buffer.indexOf("\r\n\r\n")) < 0) this.more();
    if (!/^HTTP\/1\.1 101/.test(this.buffer)) throw new Error("no WebSocket: " + this.buffer);
    this.buffer = this.buffer.substring(end + 4);
}

DevToolsPage.prototype.more = function () {
    var part = this.socket.recv(1 << 20);
    if (part === "") throw new Error("the browser closed the DevTools connection");
    this.buffer += part;
};

DevToolsPage.prototype.take = function (n) {
    while (this.buffer.length < n) this.more();
    var out = this.buffer.substring(0, n);
    this.buffer = this.buffer.substring(n);
    return out;
};

// One whole message (text frames joined), as text.
DevToolsPage.prototype.receive = function () {
    var message = "";
    for (;;) {
        var head = this.take(2), b0 = head.charCodeAt(0), n = head.charCodeAt(1) & 0x7f;
        if (n === 126) {
            var l2 = this.take(2);
            n = l2.charCodeAt(0) * 256 + l2.charCodeAt(1);
        } else if (n === 127) {
            var l8 = this.take(8);
            n = 0;
            for (var i = 4; i < 8; i++) n = n * 256 + l8.charCodeAt(i);
        }
        var payload = this.take(n), opcode = b0 & 0x0f;
        if (opcode === 8) throw new Error("the browser closed the page connection");
        if (opcode === 0 || opcode === 1) message += payload;
        if ((b0 & 0x80) && opcode !== 9 && opcode !== 10) return decodeURIComponent(escape(message));
    }
};

DevToolsPage.prototype.sendText = function (text) {
    var data = unescape(encodeURIComponent(text)), n = data.length, head = "\x81";
    if (n < 126) head += String.fromCharCode(0x80 | n);
    else if (n < 65536) head += "\xfe" + String.fromCharCode(n >> 8, n & 255);
    else head += "\xff\0\0\0\0" + String.fromCharCode((n >>> 24) & 255, (n >> 16) & 255, (n >> 8) & 255, n & 255);
    var mask = [], masked = "";
    for (var i = 0; i < 4; i++) mask.push(Math.floor(Math.random() * 256));
    for (var j = 0; j < n; j++) masked += String.fromCharCode(data.charCodeAt(j) ^ mask[j & 3]);
    var frame = head + String.fromCharCode(mask[0], mask[1], mask[2], mask[3]) + masked;
    while (frame.length) {
        var sent = this.socket.send(frame);
        if (!(sent > 0)) throw new Error("DevTools send failed");
        frame = frame.substring(sent);
    }
};

// Calls a protocol method and returns its result (events in between are dropped).
DevToolsPage.prototype.call = function (method, params) {
    var id = ++this.nextId;
    this.sendText(JSON.stringify({id: id, method: method, params: params || {}}));
    for (;;) {
        var m = JSON.parse(this.receive());
        if (m.id !== id) continue;
        if (m.error) throw new Error(method + ": " + m.error.message);
        return m.result;
    }
};

// The value of an expression evaluated in the page (JSON-serialisable values only).
DevToolsPage.prototype.evaluate = function (expression) {
    var r = this.call("Runtime.evaluate", {expression: expression, returnByValue: true});
    if (r.exceptionDetails) throw new Error("in the page: " + r.exceptionDetails.text);
    return r.result.value;
};

DevToolsPage.prototype.close = function () {
    try { this.socket.close(); } catch (e) {}
};

DevTools.alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

DevTools.base64 = function (bytes) {
    var out = "", a = DevTools.alphabet;
    for (var i = 0; i < bytes.length; i += 3) {
        var n = (bytes.charCodeAt(i) << 16) | ((bytes.charCodeAt(i + 1) || 0) << 8) | (bytes.charCodeAt(i + 2) || 0);
        out += a.charAt(n >> 18) + a.charAt((n >> 12) & 63) +
               (i + 1 < bytes.length ? a.charAt((n >> 6) & 63) : "=") + (i + 2 < bytes.length ? a.charAt(n & 63) : "=");
    }
    return out;
};

DevTools.unbase64 = function (text) {
    var out = [], bits = 0, n = 0;
    for (var i = 0; i < text.length; i++) {
        var v = DevTools.alphabet.indexOf(text.charAt(i));
        if (v < 0) continue;
        n = (n << 6) | v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push(String.fromCharCode((n >> bits) & 255));
        }
    }
    return out.join("");
};
