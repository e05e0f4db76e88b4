#!/usr/bin/env bash
# expat's source for the Windows runtime (the Linux build links Debian's libexpat1-dev):
# Debian's source package of expat 2.5.0, fetched with apt from the archive the machine
# already uses (its deb lines turned into deb-src in a list of our own), the upstream
# tarball checked against its pinned SHA-256 and Debian's patch series (the security fixes)
# applied. Cached in the folder given (default third_party/expat); prints the folder.
# Never part of the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
version=2.5.0
sha256=ab00ee05c7067fd10a35c5d2a4922ebba746ddd50ff83b79c828da17bbdf1757
dir=${1:-third_party/expat}
if [ -f "$dir/lib/xmlparse.c" ] && [ "$(cat "$dir/version" 2>/dev/null)" = "$version" ]; then
    echo "$dir"
    exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/parts" "$tmp/lists/partial" "$tmp/src"
for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$tmp/parts/$(basename "$f")"
done
[ -f /etc/apt/sources.list ] && sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$tmp/parts/main.list"
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$tmp/parts"
          -o Dir::State::Lists="$tmp/lists" -o APT::Sandbox::User=root -qq)
apt-get "${apt_opts[@]}" update >/dev/null
# The newest Debian revision of the version that the archive can hand out.
got=
for v in $(apt-cache "${apt_opts[@]}" showsrc expat | sed -n "s/^Version: \($version-.*\)/\1/p" | sort -rV); do
    if (cd "$tmp/src" && apt-get "${apt_opts[@]}" source --download-only "expat=$v" >/dev/null 2>&1); then
        got=$v
        break
    fi
    rm -f "$tmp"/src/*
done
[ -n "$got" ] || { echo "fetch-expat-source: no expat $version source to be had" >&2; exit 1; }
orig="$tmp/src/expat_$version.orig.tar.gz"
echo "$sha256  $orig" | sha256sum -c --quiet -
tar -xzf "$orig" -C "$tmp"
tar -xJf "$tmp"/src/expat_*.debian.tar.xz -C "$tmp"
top=$(find "$tmp" -maxdepth 1 -type d -name 'libexpat-*' | head -n 1)
while read -r p; do
    [ -n "$p" ] && [ "${p#\#}" = "$p" ] || continue
    patch -d "$top" -p1 --batch --silent -i "$tmp/debian/patches/$p" >/dev/null
done <"$tmp/debian/patches/series"
mkdir -p "$dir"
rm -rf "$dir/lib"
cp -r "$top/expat/lib" "$dir/lib"
cp "$top/expat/COPYING" "$dir/"
echo "$version" >"$dir/version"
echo "$dir"
