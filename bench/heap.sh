#!/usr/bin/env bash
# The heap's workloads (bench/heap/*.js), each a whole process packed as an application,
# against rhino -version 170 running the same script: wall time and peak resident memory
# (/usr/bin/time -f %M), and the script's result line. Then the runaway allocation
# (bench/heap/runaway.js): where each one stops, and with which error text.
#   bench/heap.sh            (after tools/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
b=$PWD/${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "seconds kB | result" of one whole-process run.
run() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/out" 2>&1 || true
    printf "%6.2f s %8d kB | %s" $(cat "$work/time" | tail -n 1) "$(head -n 1 "$work/out" | cut -c1-60)"
}

printf "%-14s %-50s %s\n" workload capsule "rhino -version 170"
for s in bench/heap/*.js; do
    name=$(basename "$s" .js)
    [ "$name" = runaway ] && continue
    mkdir -p "$work/$name/scripts"
    cp "$s" "$work/$name/scripts/autorun.js"
    "$b/capsule-pack" "$work/$name" "$work/$name.app" >/dev/null
    chmod +x "$work/$name.app"
    printf "%-14s %-50s %s\n" "$name" "$(run "$work/$name.app" "$b/bin/msqlite.so")" \
        "$(run rhino -version 170 "$s")"
done

mkdir -p "$work/runaway/scripts"
cp bench/heap/runaway.js "$work/runaway/scripts/autorun.js"
"$b/capsule-pack" "$work/runaway" "$work/runaway.app" >/dev/null
chmod +x "$work/runaway.app"
echo "runaway allocation (objects pushed until allocation fails):"
echo "  capsule: $(run "$work/runaway.app")"
# Rhino's ceiling is the JVM's heap (a quarter of the machine's memory by default); its
# error is Java's, which a script cannot catch.
echo "  rhino:   $(run timeout 300 rhino -version 170 bench/heap/runaway.js)"
