#!/usr/bin/env bash
# SQLite through the module against Debian's sqlite3 program doing the same work: one
# transaction inserting N rows, then selecting them all back, each side in a process of
# its own. Prints rows per second (whole process, start-up included) and peak memory.
#   bench/sqlite.sh [rows]        (after tools/build.sh; BUILD_DIR=<folder> for another build)
set -euo pipefail
cd "$(dirname "$0")/.."
rows="${1:-100000}"
b=$PWD/${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$b/capsule-pack" bench/sqlite-app "$work/sqlite-app" >/dev/null
chmod +x "$work/sqlite-app"
{
    echo "CREATE TABLE t(id INTEGER, name TEXT);"
    echo "BEGIN;"
    seq 1 "$rows" | awk '{ printf "INSERT INTO t VALUES(%d, '"'"'row %d'"'"');\n", $1, $1 }'
    echo "COMMIT;"
} >"$work/script.sql"
select="SELECT id, name FROM t"

# Runs a command with standard input from $input (default /dev/null), standard output to
# $work/out (read for the row counts, then dropped); prints "<seconds> <peak kB>".
measure() {
    local start end kb
    start=$(date +%s%N)
    /usr/bin/time -o "$work/time" -f %M "$@" <"${input:-/dev/null}" >"$work/out"
    kb=$(cat "$work/time")
    end=$(date +%s%N)
    echo "$(echo "scale=3; ($end - $start) / 1000000000" | bc) $kb"
}
# One line: rows per second of the whole process (start-up included), its peak memory and,
# for the module, rows per second of the query call alone (as the application timed it).
row() {
    local s kb query=""
    read -r s kb <<<"$(measure "${@:2}")"
    if grep -q '^query' "$work/out"; then
        query=$(awk -v n="$rows" '/^query/ { printf "%.0f", n * 1000 / ($2 > 0 ? $2 : 1) }' \
            "$work/out")
    fi
    printf "%-34s %12.0f %12s %14s\n" "$1" "$(echo "$rows / $s" | bc -l)" "$kb" "$query"
}

printf "%-34s %12s %12s %14s\n" "$rows rows" "rows/s" "peak kB" "query rows/s"
app=("$work/sqlite-app" "$b/bin/msqlite.so" "$work/m.db")
row "module: insert (one transaction)" "${app[@]}" insert "$work/script.sql"
input="$work/script.sql" row "sqlite3: insert (one transaction)" sqlite3 "$work/s.db"
row "module: select into row objects" "${app[@]}" select "$select"
grep -q ", $rows rows" "$work/out" || { echo "module: wrong rows: $(cat "$work/out")"; exit 1; }
row "script: the same objects built" "${app[@]}" objects "$rows"
grep -q ", $rows rows" "$work/out" || { echo "script: wrong rows: $(cat "$work/out")"; exit 1; }
row "sqlite3: select (output discarded)" sqlite3 "$work/s.db" "$select"
[ "$(wc -l <"$work/out")" -eq "$rows" ] || { echo "sqlite3: wrong row count"; exit 1; }
