#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, if any is missing.
# Safe to run again: it installs nothing when everything is there.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config patch duktape-dev libgtest-dev libgmock-dev zlib1g-dev procps
          libsqlite3-dev sqlite3
          libexpat1-dev # E4X: the XML parser
          rhino # E4X: the peer of bench/xml.sh
          libusb-dev # the USB module: the libusb 0.1 interface
          socat  # pseudo-terminal pairs for the serial module's tests
          tmux # a real terminal for the development shell's prompt tests
          libssl-dev openssl curl wrk # socket module: OpenSSL; its tests' peers; its benchmark's load
          libsnmp-dev snmpd snmp # SNMP module; the tests run an snmpd of their own
          prometheus # the monitor's /metrics: promtool, and a Prometheus of the test's own
          mingw-w64 libz-mingw-w64-dev wine64 # the Windows runtime: cross compilers, zlib, Wine
          desktop-file-utils # checks the launchers that System.createLink writes (tests)
          chromium nodejs # the monitor's browser test; node for the start-up benchmark
          clang libclang-rt-14-dev # the fuzz targets (libFuzzer, tools/fuzz.sh)
          )
# npm fetches the pinned SQLite source for the Windows module library. Debian ships it apart
# from nodejs; a Node.js build that carries its own npm needs nothing more.
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Debian starts a system snmpd and Prometheus (with its node exporter) on install; the
# tests run their own, so keep them off.
for unit in snmpd prometheus prometheus-node-exporter; do
    if command -v systemctl >/dev/null && systemctl is-enabled "$unit" >/dev/null 2>&1; then
        $([ "$(id -u)" -ne 0 ] && echo sudo) systemctl disable --now "$unit" >/dev/null 2>&1 || true
    fi
done
