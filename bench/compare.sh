#!/usr/bin/env bash
# Two builds of the runtime side by side in one run: the ~900-file application of
# bench/startup.sh to its first statement, and each script of bench/engine/ as a packed
# application behind each build's runtime, run alternately, so that a change in the
# machine's load hits both alike. Prints the start-up's mean wall time and
# each script's median CPU time (perf's task-clock) with the ratio of this build to the
# other; with --callgrind, the instructions of one run of each instead.
#   bench/compare.sh <other build folder> [rounds]     (e.g. a worktree of an earlier commit,
#   bench/compare.sh <other build folder> --callgrind    built with tools/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
other=$(cd "$1" && pwd)
this=$PWD/${BUILD_DIR:-build}
rounds="${2:-15}"
mode=perf
if [ "$rounds" = --callgrind ]; then mode=callgrind rounds=1; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. bench/measure.sh
[ -d "$this/bench/startup-app-src" ] || bench/make_startup_app.sh "$this/bench/startup-app-src"
# Each application behind each build's runtime, packed by this build's packer.
pack() { # pack <side> <folder> <name>
    "$this/capsule-pack" --runtime "${!1}/capsule" "$2" "$work/$1-$3" >/dev/null
    chmod +x "$work/$1-$3"
}
for s in bench/engine/*.js; do
    mkdir -p "$work/src-$(basename "$s" .js)/scripts"
    cp "$s" "$work/src-$(basename "$s" .js)/scripts/autorun.js"
done
for side in other this; do
    pack $side "$this/bench/startup-app-src" startup
    for s in bench/engine/*.js; do pack $side "$work/src-$(basename "$s" .js)" "$(basename "$s" .js)"; done
done

unit=$([ $mode = perf ] && echo "CPU ms, median of $rounds" || echo "instructions")
printf "%-10s %16s %16s %8s   (%s)\n" "" other this ratio "$unit"
for name in startup $(for s in bench/engine/*.js; do basename "$s" .js; done); do
    : >"$work/o" && : >"$work/t"
    for ((r = 0; r < rounds; r++)); do
        if [ $name = startup ] && [ $mode = perf ]; then
            mean_ms 200 "$work/other-$name" >>"$work/o"
            mean_ms 200 "$work/this-$name" >>"$work/t"
        else
            cost $mode "$work/other-$name" >>"$work/o"
            cost $mode "$work/this-$name" >>"$work/t"
        fi
    done
    format=$([ $mode = callgrind ] && echo "%.0f" || echo "%.1f")
    label=$name
    if [ $name = startup ] && [ $mode = perf ]; then label="startup ms" format="%.3f"; fi
    o=$(median "$format" <"$work/o") t=$(median "$format" <"$work/t")
    printf "%-10s %16s %16s %8.3f\n" "$label" "$o" "$t" "$(echo "$t / $o" | bc -l)"
done
