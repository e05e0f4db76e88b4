// The minimal node counterpart of the monitor's first page: serves one file on
// 127.0.0.1:<port>.   node bench/node_server.js <port> <file>
"use strict";
const http = require("http");
const fs = require("fs");
const page = fs.readFileSync(process.argv[3]);
http.createServer((req, res) => {
  res.writeHead(200, { "Content-Type": "text/html; charset=utf-8", "Content-Length": page.length });
  res.end(page);
}).listen(+process.argv[2], "127.0.0.1");
