// The HTTP benchmark's reference (see bench/socket_http.sh): node's built-in http server
// answering every request with the same page.   node http_node.js <page file> <port>
const http = require("http");
const page = require("fs").readFileSync(process.argv[2]);
http.createServer((req, res) => {
    res.writeHead(200, {"Content-Type": "text/html", "Content-Length": page.length});
    res.end(page);
}).listen(+process.argv[3], "127.0.0.1");
