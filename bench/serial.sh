#!/usr/bin/env bash
# Request and answer over a pseudo-terminal: write 8 bytes, read the 8-byte answer, N
# rounds, against socat echoing everything back. Once through Serial in a small packed
# application, once in plain C waiting as the module does (1 ms pauses) and once in plain
# C waiting in poll(2). Prints rounds per second and bytes per second (16 per round).
#   bench/serial.sh [rounds]       (after tools/build.sh; BUILD_DIR=<folder> for another build)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-2000}"
b=$PWD/${BUILD_DIR:-build}
work=$(mktemp -d)
socat_pid=""
trap '[ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null; rm -rf "$work"' EXIT

"$b/capsule-pack" bench/serial-app "$work/serial-app" >/dev/null
chmod +x "$work/serial-app"
timeout 600 socat PTY,link="$work/dev",raw,echo=0 PIPE &
socat_pid=$!
for _ in $(seq 50); do [ -e "$work/dev" ] && break; sleep 0.1; done

# One line: the loop's time as the program printed it turned into rates.
row() {
    local out ms wrong
    out=$("${@:2}")
    ms=$(sed -n 's/^loop \([0-9]*\) ms.*/\1/p' <<<"$out")
    wrong=$(sed -n 's/.*, \([0-9]*\) wrong/\1/p' <<<"$out")
    [ "$ms" -gt 0 ] || ms=1
    printf "%-36s %10.0f %12.0f %8s\n" "$1" "$(echo "$rounds * 1000 / $ms" | bc -l)" \
        "$(echo "$rounds * 16000 / $ms" | bc -l)" "$wrong"
}

printf "%-36s %10s %12s %8s\n" "$rounds rounds of 8+8 bytes" "rounds/s" "bytes/s" "wrong"
row "module: Serial.write + Serial.read" "$work/serial-app" "$b/bin/mserial.so" "$work/dev" "$rounds"
row "C: same wait (1 ms pauses)" "$b/bench/bench_serial_loop" "$work/dev" "$rounds" pause
row "C: wait in poll(2)" "$b/bench/bench_serial_loop" "$work/dev" "$rounds" poll
