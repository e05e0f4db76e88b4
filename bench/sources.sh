#!/usr/bin/env bash
# Large generated sources, past the engine's 65535 constants a function: (a) a literal
# table of 1 000 000 strings, (b) 1 000 000 rows of objects {id, name}, (c) a function of
# 100 000 statements with a string constant each. Each runs as a packed application with
# an empty script cache twice: the first start compiles the source and keeps the compiled
# script, the second loads it from the cache. Wall time and peak RSS of each, and of
# rhino -version 170 running the same source. (a) and (b) need a heap that holds a
# million strings: under a heap limit below that they fail (and the packer with them).
#   bench/sources.sh          (after tools/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
b=$PWD/${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A script that prints the last value of what it built (print is the shell's, System.print
# the runtime's).
awk 'BEGIN { printf "var t = [\n"; for (i = 0; i < 1000000; i++) printf "%s\"s%d\"", (i ? ",\n" : ""), i;
             printf "];\nout(t[t.length - 1]);\n" }' >"$work/table.js"
awk 'BEGIN { printf "var t = [\n"; for (i = 0; i < 1000000; i++) printf "%s{id: %d, name: \"n%d\"}", (i ? ",\n" : ""), i, i;
             printf "];\nout(t[t.length - 1].name);\n" }' >"$work/rows.js"
awk 'BEGIN { printf "function f() {\n  var x;\n"; for (i = 0; i < 100000; i++) printf "  x = \"c%d\";\n", i;
             printf "  return x;\n}\nout(f());\n" }' >"$work/function.js"

# "seconds kB" of one whole-process run ("failed" after the numbers when it failed).
measure() {
    local status=0
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || status=$?
    tail -n 1 "$work/time" | awk -v s=$status '{ printf "%6.2f s %8d kB%s", $1, $2, s ? " failed" : "" }'
}

printf "%-10s %22s %22s %22s\n" source "capsule (compiles)" "capsule (cached)" "rhino -version 170"
for name in table rows function; do
    mkdir -p "$work/$name/scripts"
    { echo 'function out(v) { System.print(v); }'; cat "$work/$name.js"; } >"$work/$name/scripts/autorun.js"
    if ! "$b/capsule-pack" "$work/$name" "$work/$name.app" >/dev/null 2>&1; then
        printf "%-10s %22s\n" "$name" "(capsule-pack failed)"
        continue
    fi
    chmod +x "$work/$name.app"
    { echo 'function out(v) { print(v); }'; cat "$work/$name.js"; } >"$work/$name.rhino.js"
    export XDG_CACHE_HOME="$work/cache-$name"
    first=$(measure "$work/$name.app")
    second=$(measure "$work/$name.app")
    printf "%-10s %22s %22s %22s\n" "$name" "$first" "$second" \
        "$(measure rhino -version 170 "$work/$name.rhino.js")"
done
