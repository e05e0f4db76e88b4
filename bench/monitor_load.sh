#!/usr/bin/env bash
# Holds a bounded wrk load on the packed monitor's status page and its JSON status for
# 30 s each (2 threads, 16 connections) and samples the monitor's resident memory every
# second: it should stay flat, and the monitor should still answer afterwards.
#   bench/monitor_load.sh [seconds]          (after tools/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
work="$(mktemp -d)"
port=$(( 20000 + RANDOM % 20000 ))
CAPSULE_REGISTRY="$work/registry" build/monitor --port "$port" --data "$work/data" > "$work/monitor.log" 2>&1 &
pid=$!
cleanup() {
    kill -INT "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do curl -sf "http://127.0.0.1:$port/" -o /dev/null && break; sleep 0.05; done

rss() { awk '/VmRSS/ {print $2}' "/proc/$pid/status"; }
for path in / /api/status; do
    echo "== wrk -t2 -c16 -d${seconds}s http://127.0.0.1:$port$path"
    samples=()
    ( for _ in $(seq "$seconds"); do rss; sleep 1; done ) > "$work/rss" &
    sampler=$!
    wrk -t2 -c16 -d"${seconds}s" --timeout 5s "http://127.0.0.1:$port$path" | grep -E 'Requests/sec|Latency|requests in|errors'
    wait "$sampler"
    mapfile -t samples < "$work/rss"
    n=${#samples[@]}
    echo "resident kB each second: ${samples[*]}"
    echo "resident kB: first ${samples[0]}, middle ${samples[$((n / 2))]}, last ${samples[$((n - 1))]}," \
         "min $(sort -n "$work/rss" | head -1), max $(sort -n "$work/rss" | tail -1)"
done
curl -sf "http://127.0.0.1:$port/api/status" -o /dev/null && echo "still answers: yes" || echo "still answers: NO"
