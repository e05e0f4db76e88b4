#!/usr/bin/env bash
# Runs every test: the normal build, then the unit and script tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
tools/build.sh
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)
BUILD_DIR=build-asan tools/build.sh -DCAPSULE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs" --timeout 300)
