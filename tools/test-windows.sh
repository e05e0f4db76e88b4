#!/usr/bin/env bash
# The Windows runtime: cross builds for x86-64 and i686 (i686 is built and linked only:
# this kind of machine cannot run 32-bit code), then the x86-64 build under Wine in a fresh
# prefix: the example application packed by the Linux packer behind the Windows runtime
# must print what the Linux one prints, and the script tests run in the Windows test runner.
# Needs the Linux build (build/capsule-pack, build/test-runner-app).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
for target in x86_64:build-win64 i686:build-win32; do
    dir=${target#*:}
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/mingw-${target%%:*}.cmake" \
        -DCAPSULE_TESTS=OFF >/dev/null
    cmake --build "$dir" --target capsule
done

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
cleanup() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# A fresh prefix says that it was created, and that its 32-bit rundll32 cannot start.
"$wine" wineboot --init >/dev/null 2>&1
/usr/lib/wine/wineserver -w

# Runs a Windows program for at most a minute; its lines end in CR LF, taken off here.
run() {
    timeout -k 5 60 "$wine" "$@" | tr -d '\r'
}

failed=0
build/capsule-pack --runtime build-win64/capsule.exe examples/hello "$work/hello.exe" >/dev/null
build/capsule-pack examples/hello "$work/hello" >/dev/null
# Only the system's name and the process id differ.
same() { sed 's/^Running on .* as process [0-9]*$/Running on <system> as process <pid>/'; }
if diff <("$work/hello" | same) <(run "$work/hello.exe" | same); then
    echo "windows: hello.exe prints what hello prints"
else
    echo "windows: FAIL hello.exe differs from hello"
    failed=1
fi

build/capsule-pack --runtime build-win64/capsule.exe build/test-runner-app "$work/capsule-test.exe" >/dev/null
for t in "${WINDOWS_SCRIPT_TESTS[@]:-}"; do :; done
exit $failed
