#!/usr/bin/env bash
# HTTP on the socket module against node's built-in http server, both answering every
# request with bench/http_page.html, both loaded by wrk on 127.0.0.1 for the same time and
# connection count. Prints requests per second and memory (resident size at the first
# and last second of the load, and the peak) of each server, then the TLS handshakes per
# second of the script server (wrk with "Connection: close" over HTTPS: one handshake per
# request).
#   bench/socket_http.sh [seconds] [connections]   (10 and 8 by default; after tools/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
connections="${2:-8}"
b=$PWD/${BUILD_DIR:-build}
page=$PWD/bench/http_page.html
work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$b/capsule-pack" bench/http-app "$work/http-app" >/dev/null
chmod +x "$work/http-app"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/key.pem" 2>/dev/null

# Starts a server in the background on a free port ($port) and waits until it listens.
start() {
    port=$((20000 + RANDOM % 20000))
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    local args=("$@")
    "${args[@]//@PORT@/$port}" >"$work/server.out" 2>&1 &
    server=$!
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return
        sleep 0.1
    done
    echo "server did not start: $(cat "$work/server.out")" >&2
    exit 1
}

stop() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null || true
    server=""
}

# Loads the running server with wrk (extra wrk options after the URL scheme) while
# sampling its resident size every second; prints "<req/s> <first kB> <last kB> <peak kB>
# <errors>".
load() {
    local scheme=$1
    shift
    wrk -t2 -c"$connections" -d"${seconds}s" "$@" "$scheme://127.0.0.1:$port/" >"$work/wrk.out" &
    local wrk=$! samples=()
    sleep 1
    while kill -0 "$wrk" 2>/dev/null; do
        samples+=("$(awk '/VmRSS/ { print $2 }' "/proc/$server/status")")
        sleep 1
    done
    wait "$wrk"
    local rps errors peak
    rps=$(awk '/Requests\/sec/ { printf "%.0f", $2 }' "$work/wrk.out")
    errors=$(awk '/Socket errors|Non-2xx/ { sub(/^ +/, ""); printf "%s; ", $0 }' "$work/wrk.out")
    peak=$(awk '/VmHWM/ { print $2 }' "/proc/$server/status")
    echo "$rps ${samples[0]} ${samples[${#samples[@]} - 1]} $peak ${errors:-none}"
}

row() {
    local name=$1 rps first last peak errors
    shift
    read -r rps first last peak errors <<<"$(load "$@")"
    printf "%-40s %10s %12s %12s %10s   %s\n" "$name" "$rps" "$first" "$last" "$peak" "$errors"
}

echo "wrk -t2 -c$connections -d${seconds}s on 127.0.0.1, page of $(wc -c <"$page") bytes"
printf "%-40s %10s %12s %12s %10s   %s\n" "server" "req/s" "RSS 1st s kB" "RSS last kB" \
    "peak kB" "errors"
start "$work/http-app" "$b/bin/msocket.so" "$page" @PORT@ "$connections"
row "script server (msocket, $connections threads)" http
stop
start node bench/http_node.js "$page" @PORT@
row "node http" http
stop
start "$work/http-app" "$b/bin/msocket.so" "$page" @PORT@ "$connections" tls "$work/key.pem"
row "script server over TLS, a handshake/request" https -H "Connection: close"
stop
