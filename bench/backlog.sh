#!/usr/bin/env bash
# The listen queue under bursts of clients: the packed monitor's JSON status loaded by wrk
# with 20, 100 and 500 connections, first with its listener's queue cut to 10 connections
# (the length the socket module listened with before: bench/listen_cap.so, preloaded),
# then with the module's own (the system's maximum). Each row gives the latency
# percentiles, requests per second, wrk's errors and how many connections the kernel
# dropped from the full queue (TcpExtListenOverflows, from nstat). wrk times a request from
# its write, so a client whose connection waits for the kernel to take it again counts
# nothing of that wait; a probe alongside does: one curl after another on a new connection
# each (connect included, at most 10 s), its median and slowest time.
#   bench/backlog.sh [seconds]              (after tools/build.sh; 10 s a row by default)
# wrk and nstat come from Debian's packages wrk and iproute2 (tools/setup.sh installs wrk).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
work="$(mktemp -d)"
pid=
stop() {
    [ -n "$pid" ] || return 0
    kill -INT "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}
trap 'stop; rm -rf "$work"' EXIT

overflows() { nstat -az TcpExtListenOverflows | awk '/ListenOverflows/ {print $2}'; }

# One monitor (queue cut to $1 connections, or the module's own for ""), then the rows.
run() {
    local cap="$1" port=$(( 20000 + RANDOM % 20000 ))
    rm -rf "$work/data" "$work/registry"
    CAPSULE_BENCH_BACKLOG="$cap" LD_PRELOAD="$PWD/build/bench/listen_cap.so" \
        CAPSULE_REGISTRY="$work/registry" build/monitor --port "$port" --data "$work/data" \
        > "$work/monitor.log" 2>&1 &
    pid=$!
    local url="http://127.0.0.1:$port/api/status"
    for _ in $(seq 200); do curl -sf "$url" -o /dev/null && break; sleep 0.05; done
    for c in 20 100 500; do
        local before after
        before=$(overflows)
        wrk -t2 -c"$c" -d"${seconds}s" --timeout 5s --latency "$url" > "$work/wrk.out" &
        local wrk=$!
        : > "$work/probe"
        sleep 1
        while kill -0 "$wrk" 2>/dev/null; do
            curl -s -o /dev/null -m 10 -w '%{time_total}\n' "$url" >> "$work/probe" || true
        done
        wait "$wrk" || true
        after=$(overflows)
        local probe
        probe=$(sort -n "$work/probe" | awk '{t[NR] = $1 * 1000}
            END {if (NR) printf "probe %d: median %.1f ms, slowest %.0f ms", NR, t[int((NR + 1) / 2)], t[NR]}')
        awk -v label="queue ${cap:-system}, -c$c" -v dropped=$((after - before)) -v probe="$probe" '
            /^ +50%/ {p50 = $2} /^ +90%/ {p90 = $2} /^ +99%/ {p99 = $2}
            /Requests\/sec/ {rps = $2}
            /Socket errors/ {sub(/^ *Socket errors: */, ""); errors = $0}
            /Non-2xx/ {non2xx = $NF}
            END {printf "%-22s p50 %8s  p90 %8s  p99 %8s  %9s req/s  dropped %5d  %s%s%s\n",
                        label, p50, p90, p99, rps, dropped, probe,
                        errors ? "  errors: " errors : "", non2xx ? "  non-2xx " non2xx : ""}
        ' "$work/wrk.out"
    done
    stop
}

echo "wrk -t2 -d${seconds}s --latency on /api/status of build/monitor"
run 10
run ""
