#!/usr/bin/env bash
# The script language against rhino -version 170 (Debian's rhino package), whole process
# each, side by side: (a) a generator of 1 000 000 numbers summed with for each, (b)
# 1 000 000 destructuring swaps, (c) an array comprehension over 1 000 000 numbers; wall
# time and peak RSS, the median of the runs. Then (d) the start-up of the ~900-file
# application against a runtime built without the translator (BASE, a build folder of the
# commit before it), and the translator's time on a 1 MB source against the engine's
# compilation of the result (build/bench/bench_translate).
#   bench/language.sh [runs]                        (after tools/build.sh; 5 runs by default)
#   BASE=/path/to/old/build bench/language.sh       (adds the start-up comparison)
set -euo pipefail
cd "$(dirname "$0")/.."
b=$PWD/${BUILD_DIR:-build}
runs="${1:-5}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "seconds kB" of one whole-process run.
measure() { /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -n 1; }
# The median "seconds kB" of $runs runs.
median() {
    for ((i = 0; i < runs; i++)); do measure "$@"; done | sort -n |
        awk '{ t[NR] = $1; m[NR] = $2 } END { k = int((NR + 1) / 2); printf "%6.2f s %8d kB", t[k], m[k] }'
}

printf "%-16s %22s %22s\n" benchmark capsule "rhino -version 170"
for s in bench/language/*.js; do
    name=$(basename "$s" .js)
    mkdir -p "$work/$name/scripts"
    cp "$s" "$work/$name/scripts/autorun.js"
    "$b/capsule-pack" "$work/$name" "$work/$name.app" >/dev/null
    chmod +x "$work/$name.app"
    printf "%-16s %22s %22s\n" "$name" "$(median "$work/$name.app")" \
        "$(median rhino -version 170 "$s")"
done

if [ -n "${BASE:-}" ]; then
    # The same application packed behind each runtime; mean wall time over 100 starts.
    [ -d "$b/bench/startup-app-src" ] || bench/make_startup_app.sh "$b/bench/startup-app-src"
    "$b/capsule-pack" "$b/bench/startup-app-src" "$work/new.app" >/dev/null
    "$b/capsule-pack" --runtime "$BASE/capsule" "$b/bench/startup-app-src" "$work/old.app" >/dev/null
    . bench/measure.sh
    old=$(mean_ms 100 "$work/old.app") new=$(mean_ms 100 "$work/new.app")
    printf "%-16s %10s ms (before) %10s ms (now), ratio %s\n" "start-up" "$old" "$new" \
        "$(echo "scale=3; $new / $old" | bc)"
fi
"$b/bench/bench_translate"
