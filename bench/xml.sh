#!/usr/bin/env bash
# E4X against rhino -version 170 (Debian's rhino, which implements E4X), each side a whole
# process: parse a 1 MB document of 10 000 records, select with a filter on an attribute
# and with a descendant query, rename 1 000 records, serialise; and build a document of
# 10 000 records from initialisers in a loop. Prints wall time and peak memory of each.
#   bench/xml.sh [records]        (after tools/build.sh; BUILD_DIR=<folder> for another build)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-10000}"
b=$PWD/${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v rhino >/dev/null || { echo "xml.sh: rhino is not installed (apt-get install rhino)"; exit 1; }

"$b/capsule-pack" bench/xml-app "$work/xml-app" >/dev/null
chmod +x "$work/xml-app"
# The document: <items><item id kind><name/><price/><note/></item>...</items>, about 100
# bytes a record.
awk -v n="$records" 'BEGIN {
    print "<items>"
    for (i = 0; i < n; i++)
        printf "  <item id=\"%d\" kind=\"%d\"><name>item %d</name><price>%d.%02d</price><note>n%07d &amp; more</note></item>\n", i, i % 7, i, i % 40, i % 100, i
    print "</items>" }' >"$work/items.xml"

# Runs a command; prints "<seconds> <peak kB>" and keeps its output in $work/out.
measure() {
    local start end
    start=$(date +%s%N)
    /usr/bin/time -o "$work/time" -f %M "$@" >"$work/out" 2>&1
    end=$(date +%s%N)
    echo "$(echo "scale=2; ($end - $start) / 1000000000" | bc) $(cat "$work/time")"
}
row() {
    local s kb
    read -r s kb <<<"$(measure "${@:2}")"
    printf "%-28s %8s %10s   %s\n" "$1" "$s" "$kb" "$(head -n 1 "$work/out")"
}

printf "%-28s %8s %10s   %s\n" "$records records, $(($(stat -c %s "$work/items.xml") / 1024)) kB" "wall s" "peak kB" "result"
row "capsule: parse and query" "$work/xml-app" query "$work/items.xml"
row "rhino: parse and query" rhino -version 170 bench/xml_rhino.js query "$work/items.xml"
row "capsule: build" "$work/xml-app" build "$records"
row "rhino: build" rhino -version 170 bench/xml_rhino.js build "$records"
