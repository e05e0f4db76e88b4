// The packed monitor under slow clients: 64 connections that send one byte of a request
// head every 5 s (each one is put back when the monitor closes it), while a normal client
// asks for / every 200 ms. Counts the normal client's answers (200, 503, a reset, a close
// without an answer, no answer within 5 s) and their times.
//   node bench/slow_clients.js [seconds] [--https]      (after tools/build.sh; 30 s default)
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const net = require("net");
const tls = require("tls");
const os = require("os");
const path = require("path");

const root = path.resolve(__dirname, "..");
const seconds = +process.argv.find((a) => /^\d+$/.test(a)) || 30;
const https = process.argv.includes("--https");
const work = fs.mkdtempSync(path.join(os.tmpdir(), "slow-clients-"));

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, "127.0.0.1", () => {
      const port = s.address().port;
      s.close(() => resolve(port));
    });
  });
}

function connect(port) {
  return https ? tls.connect({ host: "127.0.0.1", port, rejectUnauthorized: false })
               : net.connect({ host: "127.0.0.1", port });
}

// One request of the normal client: its outcome and time in ms.
function ask(port) {
  return new Promise((resolve) => {
    const start = process.hrtime.bigint(), s = connect(port);
    let got = "", done = false;
    const end = (what) => {
      if (done) return;
      done = true;
      s.destroy();
      resolve({ what, ms: Number(process.hrtime.bigint() - start) / 1e6 });
    };
    s.setTimeout(5000, () => end("no answer"));
    s.on("error", (e) => end(e.code === "ECONNRESET" ? "reset" : e.code));
    s.on("close", () => end("closed without an answer"));
    s.on("data", (d) => {
      got += d.toString("latin1");
      const m = /^HTTP\/1\.1 (\d+)/.exec(got);
      if (m) end(m[1]);
    });
    s.write(`GET / HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nConnection: close\r\n\r\n`);
  });
}

// A slow client: a byte of "GET / HTTP/1.1\r\nX-Slow: ..." every 5 s; started anew when
// the monitor closes it.
function slowClient(port, stats) {
  const s = connect(port), text = "GET / HTTP/1.1\r\nX-Slow: " + "a".repeat(1000);
  let i = 0;
  const timer = setInterval(() => s.write(text[i++ % text.length]), 5000);
  s.on("error", () => {});
  s.on("close", () => {
    clearInterval(timer);
    if (stats.stopping) return;
    stats.closed++;
    slowClient(port, stats);
  });
  s.write(text[i++]);
  stats.sockets.push(s);
}

async function main() {
  const port = await freePort();
  const monitor = spawn(path.join(root, "build/monitor"),
                        ["--port", String(port), "--data", path.join(work, "data")].concat(https ? ["--https"] : []),
                        { env: Object.assign({}, process.env, { CAPSULE_REGISTRY: path.join(work, "registry") }),
                          stdio: "ignore" });
  for (let i = 0; i < 200 && (await ask(port)).what !== "200"; i++) await new Promise((r) => setTimeout(r, 50));
  const stats = { closed: 0, stopping: false, sockets: [] };
  for (let i = 0; i < 64; i++) slowClient(port, stats);
  await new Promise((r) => setTimeout(r, 500));
  const outcomes = {}, times = [];
  const end = Date.now() + seconds * 1000;
  while (Date.now() < end) {
    const r = await ask(port);
    outcomes[r.what] = (outcomes[r.what] || 0) + 1;
    times.push(r.ms);
    await new Promise((res) => setTimeout(res, 200));
  }
  stats.stopping = true;
  stats.sockets.forEach((s) => s.destroy());
  monitor.kill("SIGINT");
  const killer = setTimeout(() => monitor.kill("SIGKILL"), 10000);
  const code = await new Promise((r) => monitor.on("exit", (c, signal) => r(signal || c)));
  clearTimeout(killer);
  fs.rmSync(work, { recursive: true, force: true });
  times.sort((a, b) => a - b);
  console.log(`${https ? "https" : "http"}, ${seconds} s, 64 slow clients (a byte every 5 s)`);
  console.log("normal client's answers:", JSON.stringify(outcomes));
  console.log(`answer time ms: median ${times[times.length >> 1].toFixed(1)}, ` +
              `max ${times[times.length - 1].toFixed(1)}`);
  console.log(`slow connections the monitor ended: ${stats.closed}; its exit after SIGINT: ${code}`);
}

main();
