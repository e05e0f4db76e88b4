#!/usr/bin/env bash
# Start-up time and peak memory: the bare runtime to the end of its bootstrap, a packed
# application to its first statement, and `node -e 0` for comparison, in one run.
#   bench/startup.sh [runs]        (after tools/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-200}"
b=build
# Packed anew each run, so that it carries the runtime just built.
[ -d $b/bench/startup-app-src ] || bench/make_startup_app.sh $b/bench/startup-app-src
$b/capsule-pack "$PWD/$b/bench/startup-app-src" "$PWD/$b/bench/startup-app" >/dev/null

. bench/measure.sh

peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

printf "%-52s %10s %12s\n" "command" "mean ms" "peak RSS kB"
row() { printf "%-52s %10s %12s\n" "$1" "$(mean_ms $runs "${@:2}")" "$(peak_kb "${@:2}")"; }
row "bare runtime (no package)" $b/capsule
row "packed app of ~900 files, to its first statement" $b/bench/startup-app
if command -v node >/dev/null; then
    app=$(mean_ms $runs $b/bench/startup-app)
    node=$(mean_ms $runs node -e 0)
    printf "%-52s %10s\n" "node -e 0" "$node"
    printf "%-52s %10.3f\n" "packed app / node (same run)" "$(echo "$app / $node" | bc -l)"
fi
