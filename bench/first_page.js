// Time from start to the first served page, and peak memory, of the packed monitor and of
// a minimal node server serving the same page.
//   node bench/first_page.js [rounds]       (from the repository, after tools/build.sh)
// Each round starts the server on a free port, asks for / every millisecond until a
// complete 200 answer arrives, reads the process's peak resident size (VmHWM) then and
// one second later, and stops it with SIGINT.
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const net = require("net");
const http = require("http");
const os = require("os");
const path = require("path");

const root = path.resolve(__dirname, "..");
const rounds = +process.argv[2] || 10;
const page = path.join(root, "examples/monitor/web/index.html");
const data = fs.mkdtempSync(path.join(os.tmpdir(), "first-page-"));

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, "127.0.0.1", () => {
      const port = s.address().port;
      s.close(() => resolve(port));
    });
  });
}

function get(port) {
  return new Promise((resolve) => {
    const req = http.get({ host: "127.0.0.1", port, path: "/", agent: false }, (res) => {
      let n = 0;
      res.on("data", (d) => (n += d.length));
      res.on("end", () => resolve(res.statusCode === 200 && n > 0));
    });
    req.on("error", () => resolve(false));
  });
}

function peakKb(pid) {
  try {
    return +/VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"))[1];
  } catch (e) {
    return NaN;
  }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function round(command, args) {
  const port = await freePort();
  const t0 = process.hrtime.bigint();
  const child = spawn(command, args(port), { stdio: "ignore" });
  let ok = false;
  const deadline = Date.now() + 10000;
  while (!ok && Date.now() < deadline) {
    ok = await get(port);
    if (!ok) await sleep(1);
  }
  const ms = Number(process.hrtime.bigint() - t0) / 1e6;
  const peakAtFirst = peakKb(child.pid);
  await sleep(1000);
  const peakAfter = peakKb(child.pid);
  const ended = new Promise((r) => child.on("exit", r));
  child.kill("SIGINT");
  await Promise.race([ended, sleep(5000)]);
  if (child.exitCode === null && child.signalCode === null) child.kill("SIGKILL");
  if (!ok) throw new Error(command + " served no page");
  return { ms, peakAtFirst, peakAfter };
}

function median(values) {
  const v = values.slice().sort((a, b) => a - b);
  return v[Math.floor(v.length / 2)];
}

async function measure(name, command, args) {
  const results = [];
  for (let i = 0; i < rounds; i++) results.push(await round(command, args));
  const row = {
    name,
    firstPageMs: median(results.map((r) => r.ms)).toFixed(1),
    minMs: Math.min(...results.map((r) => r.ms)).toFixed(1),
    peakKbAtFirstPage: median(results.map((r) => r.peakAtFirst)),
    peakKbAfter1s: median(results.map((r) => r.peakAfter)),
  };
  console.log(JSON.stringify(row));
  return row;
}

(async () => {
  const monitor = path.join(root, "build/monitor");
  const env = { ...process.env, CAPSULE_REGISTRY: path.join(data, "registry") };
  process.env.CAPSULE_REGISTRY = env.CAPSULE_REGISTRY;
  // One run first, so that the module libraries are unpacked in the data folder.
  await round(monitor, (p) => ["--port", p, "--data", data]);
  const m = await measure("capsule monitor", monitor, (p) => ["--port", p, "--data", data]);
  const n = await measure("node http", process.execPath, (p) => [path.join(__dirname, "node_server.js"), p, page]);
  console.log(`monitor/node: time ${(m.firstPageMs / n.firstPageMs).toFixed(2)}, ` +
              `memory ${(m.peakKbAfter1s / n.peakKbAfter1s).toFixed(2)}`);
  fs.rmSync(data, { recursive: true, force: true });
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
