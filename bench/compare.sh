#!/usr/bin/env bash
# Two builds of the runtime side by side in one run: the ~900-file application of
# bench/startup.sh to its first statement, and each script of bench/engine/ as a packed
# application, each packed by its own build's packer and run alternately, so that a
# change in the machine's load hits both alike. Prints the start-up's mean wall time and
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

[ -d "$this/bench/startup-app-src" ] || bench/make_startup_app.sh "$this/bench/startup-app-src"
pack() { # pack <build> <folder> <out>
    "$1/capsule-pack" "$2" "$3" >/dev/null
    chmod +x "$3"
}
for side in other this; do
    pack "${!side}" "$this/bench/startup-app-src" "$work/$side-startup"
    for s in bench/engine/*.js; do
        name=$(basename "$s" .js)
        mkdir -p "$work/src-$name/scripts"
        cp "$s" "$work/src-$name/scripts/autorun.js"
        pack "${!side}" "$work/src-$name" "$work/$side-$name"
    done
done

cost() {
    if [ $mode = perf ]; then
        perf stat -x, -e task-clock "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ { printf "%.1f\n", $1 }'
    else
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
            awk '/Collected/ { print $4 }'
    fi
}
median() { # median <printf format>
    sort -n | awk -v f="$1" '{ v[++n] = $1 } END { printf f, (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'
}
# Mean wall time in milliseconds of 200 starts.
starts() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < 200; i++)); do "$1" >/dev/null 2>&1 || true; done
    end=$(date +%s%N)
    echo "scale=3; ($end - $start) / 200 / 1000000" | bc
}

unit=$([ $mode = perf ] && echo "CPU ms, median of $rounds" || echo "instructions")
printf "%-10s %16s %16s %8s   (%s)\n" "" other this ratio "$unit"
for name in startup $(for s in bench/engine/*.js; do basename "$s" .js; done); do
    : >"$work/o" && : >"$work/t"
    for ((r = 0; r < rounds; r++)); do
        if [ $name = startup ] && [ $mode = perf ]; then
            starts "$work/other-$name" >>"$work/o"
            starts "$work/this-$name" >>"$work/t"
        else
            cost "$work/other-$name" >>"$work/o"
            cost "$work/this-$name" >>"$work/t"
        fi
    done
    format=$([ $mode = callgrind ] && echo "%.0f" || echo "%.1f")
    label=$name
    if [ $name = startup ] && [ $mode = perf ]; then label="startup ms" format="%.3f"; fi
    o=$(median "$format" <"$work/o") t=$(median "$format" <"$work/t")
    printf "%-10s %16s %16s %8.3f\n" "$label" "$o" "$t" "$(echo "$t / $o" | bc -l)"
done
