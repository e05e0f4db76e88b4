#!/usr/bin/env bash
# The SQLite amalgamation (sqlite3.c, sqlite3.h) for the Windows module library, taken
# from the pinned better-sqlite3 package of the npm registry, which ships it under
# deps/sqlite3/. Cached in the folder given (default third_party/sqlite); prints the
# folder. Never part of the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
version=13.2.0
dir=${1:-third_party/sqlite}
if [ -f "$dir/sqlite3.c" ] && [ -f "$dir/sqlite3.h" ] && [ "$(cat "$dir/version" 2>/dev/null)" = "$version" ]; then
    echo "$dir"
    exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm pack --silent "better-sqlite3@$version" >/dev/null)
tar -xzf "$tmp"/better-sqlite3-*.tgz -C "$tmp" package/deps/sqlite3
mkdir -p "$dir"
cp "$tmp"/package/deps/sqlite3/sqlite3.c "$tmp"/package/deps/sqlite3/sqlite3.h "$dir"/
echo "$version" >"$dir/version"
echo "$dir"
