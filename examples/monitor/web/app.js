// The status page: polls the monitor's JSON interface every second, draws the chart of
// the last ten minutes itself (SVG), shows the event log and fills the settings form.
"use strict";

const chartMs = 10 * 60 * 1000;
let readings = [];
let lastTime = 0;

const $ = (id) => document.getElementById(id);

async function getJson(path) {
  const response = await fetch(path, { cache: "no-store" });
  if (response.status === 503) throw new Error("starting");
  if (!response.ok) throw new Error(path + ": " + response.status);
  return response.json();
}

function show(id, value) {
  $(id).textContent = value === null || value === undefined ? "–" : String(value);
}

function showStatus(status) {
  const r = status.reading || {};
  show("charge", r.charge);
  show("load", r.load);
  show("cpu", r.cpu);
  show("processes", r.processes);
  const power = $("power");
  if (status.deviceLost || r.charge === null || r.charge === undefined) {
    power.textContent = "UPS not responding"; power.className = "badge warn";
  } else if (status.onBattery) {
    power.textContent = status.batteryLow ? "On battery – low" : "On battery";
    power.className = "badge bad";
  } else {
    power.textContent = "On mains"; power.className = "badge ok";
  }
  show("device", status.device);
  const up = Math.round((status.now - status.started) / 1000);
  $("footer").textContent = "Process " + status.pid + " on " + status.system + ", up " + up + " s";
}

function drawChart() {
  const svg = $("chart");
  const ns = "http://www.w3.org/2000/svg";
  const now = Date.now(), from = now - chartMs;
  readings = readings.filter((r) => r.time >= from);
  while (svg.firstChild) svg.removeChild(svg.firstChild);
  const x = (t) => ((t - from) / chartMs) * 600;
  const y = (v) => 200 - v * 2;
  for (let v = 0; v <= 100; v += 25) {
    const line = document.createElementNS(ns, "line");
    line.setAttribute("class", "grid");
    line.setAttribute("x1", 0); line.setAttribute("x2", 600);
    line.setAttribute("y1", y(v)); line.setAttribute("y2", y(v));
    svg.appendChild(line);
  }
  // Shaded spans while the UPS ran on battery.
  let start = null;
  readings.forEach((r, i) => {
    const last = i === readings.length - 1;
    if (r.onBattery && start === null) start = r.time;
    if (start !== null && (!r.onBattery || last)) {
      const rect = document.createElementNS(ns, "rect");
      rect.setAttribute("class", "battery");
      rect.setAttribute("x", x(start)); rect.setAttribute("y", 0);
      rect.setAttribute("width", Math.max(1, x(r.time) - x(start))); rect.setAttribute("height", 200);
      svg.appendChild(rect);
      start = null;
    }
  });
  for (const key of ["charge", "load", "cpu"]) {
    const points = readings.filter((r) => r[key] !== null && r[key] !== undefined)
      .map((r) => x(r.time).toFixed(1) + "," + y(r[key]).toFixed(1));
    if (!points.length) continue;
    const line = document.createElementNS(ns, "polyline");
    line.setAttribute("class", key);
    line.setAttribute("points", points.join(" "));
    svg.appendChild(line);
  }
}

function showEvents(events) {
  const body = $("events").tBodies[0];
  body.textContent = "";
  for (const e of events) {
    const row = body.insertRow();
    row.className = e.kind;
    row.insertCell().textContent = new Date(e.time).toLocaleTimeString([], { hour12: false });
    row.insertCell().textContent = e.text;
  }
}

async function showSettings() {
  const s = await getJson("/api/settings");
  const form = $("settings-form");
  form.textContent = "";
  for (const name of Object.keys(s.fields)) {
    const label = document.createElement("label");
    label.htmlFor = "set-" + name;
    label.textContent = s.fields[name].label;
    const input = document.createElement("input");
    input.id = "set-" + name;
    input.name = name;
    input.value = s.values[name];
    input.placeholder = s.fields[name].def;
    input.maxLength = s.maxLength;
    form.append(label, input);
  }
  // The token that tells the monitor this form is its own page's.
  const token = document.createElement("input");
  token.type = "hidden";
  token.name = "token";
  token.value = s.token;
  form.append(token);
  const button = document.createElement("button");
  button.type = "submit";
  button.textContent = "Save";
  form.append(button);
  const query = new URLSearchParams(location.search);
  const status = $("settings-status");
  if (query.has("error")) { status.textContent = query.get("error"); status.className = "error"; }
  else if (query.has("saved")) { status.textContent = "Saved. Port, HTTPS and device apply after a restart."; status.className = "saved"; }
  else status.textContent = "Stored in the registry under " + s.key + ".";
}

async function poll() {
  try {
    const [status, fresh, events] = await Promise.all([
      getJson("/api/status"), getJson("/api/readings?since=" + lastTime), getJson("/api/events?limit=30")]);
    readings = readings.concat(fresh);
    if (fresh.length) lastTime = fresh[fresh.length - 1].time;
    showStatus(status);
    drawChart();
    showEvents(events);
  } catch (e) {
    $("power").textContent = e.message === "starting" ? "starting…" : "monitor unreachable";
    $("power").className = "badge";
  }
}

lastTime = Date.now() - chartMs;
showSettings().catch(() => setTimeout(showSettings, 1000));
poll();
setInterval(poll, 1000);
