#!/usr/bin/env bash
# for each and for-in over a million values (bench/enumeration/enumeration.js) in Capsule and
# in rhino -version 170, whole process each: the loop times the script prints, the wall
# time and the peak memory.
#   bench/enumeration.sh [runs]          (after tools/build.sh; 3 runs by default)
set -euo pipefail
cd "$(dirname "$0")/.."
b=$PWD/${BUILD_DIR:-build}
runs="${1:-3}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app/scripts"
cp bench/enumeration/enumeration.js "$work/app/scripts/autorun.js"
"$b/capsule-pack" "$work/app" "$work/capsule-app" >/dev/null
chmod +x "$work/capsule-app"
sed 's/for (var \([a-z]*\) in __lang.each(\([a-z]*\)))/for each (var \1 in \2)/' \
    bench/enumeration/enumeration.js >"$work/rhino.js"
for ((i = 0; i < runs; i++)); do
    printf "capsule  %s\n" "$(/usr/bin/time -f "(ms); %e s, %M kB" "$work/capsule-app" 2>&1 | paste -sd' ')"
    printf "rhino    %s\n" "$(/usr/bin/time -f "(ms); %e s, %M kB" rhino -version 170 "$work/rhino.js" 2>&1 | paste -sd' ')"
done
