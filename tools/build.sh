#!/usr/bin/env bash
# Installs what is missing and builds into build/ (or the folder given as $BUILD_DIR,
# with extra CMake options after the command).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
dir="${BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir"
