#!/usr/bin/env bash
# The runtime against the bare engine: each script of bench/engine/ run as a packed
# application (whole process, start to exit) and by bench_bare_engine (the same Duktape
# build with its default allocator, heap destroyed at exit). Prints the median CPU time of
# both over alternating runs and their ratio; with --callgrind, the instructions each
# executes instead (one run, repeatable on a busy machine).
#   bench/engine.sh [runs]          (after tools/build.sh; 10 runs by default)
#   bench/engine.sh --callgrind
set -euo pipefail
cd "$(dirname "$0")/.."
b=$PWD/${BUILD_DIR:-build}
mode=perf
runs="${1:-10}"
if [ "${1:-}" = "--callgrind" ]; then mode=callgrind runs=1; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. bench/measure.sh

unit=$([ $mode = perf ] && echo "CPU ms" || echo "instructions")
printf "%-10s %16s %16s %8s   (%s)\n" script bare runtime ratio "$unit"
for s in bench/engine/*.js; do
    name=$(basename "$s" .js)
    mkdir -p "$work/$name/scripts"
    cp "$s" "$work/$name/scripts/autorun.js"
    "$b/capsule-pack" "$work/$name" "$work/$name.app" >/dev/null
    chmod +x "$work/$name.app"
    # The two alternate, so that a change in the machine's load hits both alike.
    : >"$work/bare" && : >"$work/runtime"
    for ((i = 0; i < runs; i++)); do
        cost $mode "$b/bench/bench_bare_engine" "$s" >>"$work/bare"
        cost $mode "$work/$name.app" >>"$work/runtime"
    done
    bare=$(median <"$work/bare")
    runtime=$(median <"$work/runtime")
    printf "%-10s %16s %16s %8.3f\n" "$name" "$bare" "$runtime" "$(echo "$runtime / $bare" | bc -l)"
done
