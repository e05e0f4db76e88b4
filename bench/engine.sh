#!/usr/bin/env bash
# The runtime against the pristine engine: each script of bench/engine/ run by
# bench_pristine_engine (Debian's duktape.c unpatched, the project's duk_config overrides
# but Duktape's own value layout, -O2 -DNDEBUG -fPIC, default allocator, heap destroyed at
# exit), by bench_bare_engine (the
# runtime's patched engine, otherwise the same) and as a packed application (whole process,
# start to exit). Prints the median CPU time of each over alternating runs and the ratios
# runtime/pristine and bare/pristine (what the engine's patches alone cost); with
# --callgrind, the instructions each executes instead (one run, repeatable on a busy machine).
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
printf "%-10s %14s %14s %14s %8s %8s   (%s)\n" script pristine bare runtime runtime/ bare/ "$unit"
for s in bench/engine/*.js; do
    name=$(basename "$s" .js)
    mkdir -p "$work/$name/scripts"
    cp "$s" "$work/$name/scripts/autorun.js"
    "$b/capsule-pack" "$work/$name" "$work/$name.app" >/dev/null
    chmod +x "$work/$name.app"
    # The two alternate, so that a change in the machine's load hits both alike.
    : >"$work/pristine" && : >"$work/bare" && : >"$work/runtime"
    for ((i = 0; i < runs; i++)); do
        cost $mode "$b/bench/bench_pristine_engine" "$s" >>"$work/pristine"
        cost $mode "$b/bench/bench_bare_engine" "$s" >>"$work/bare"
        cost $mode "$work/$name.app" >>"$work/runtime"
    done
    pristine=$(median <"$work/pristine")
    bare=$(median <"$work/bare")
    runtime=$(median <"$work/runtime")
    printf "%-10s %14s %14s %14s %8.3f %8.3f\n" "$name" "$pristine" "$bare" "$runtime" \
        "$(echo "$runtime / $pristine" | bc -l)" "$(echo "$bare / $pristine" | bc -l)"
done
