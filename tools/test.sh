#!/usr/bin/env bash
# Runs every test: the normal build, then the unit and script tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the script tests of threads,
# mutexes and the modules under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
tools/build.sh
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)
BUILD_DIR=build-asan tools/build.sh -DCAPSULE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs" --timeout 300)
# ThreadSanitizer: the packed test runner and the module libraries, with the script tests
# whose threads share data: the stress test, mutexes, threads, and each module's reads and
# waits outside the engine lock (a close from another thread meanwhile, the first TLS use
# from two threads at once, two SNMP sessions polled at once), the torture test's
# threads on one pool of objects, and a generator that one thread runs and another tries.
cmake -S . -B build-tsan -G Ninja -DCAPSULE_TSAN=ON >/dev/null
cmake --build build-tsan --target capsule_test msqlite mserial msocket msnmp musb snmp_endless_agent
for t in stress mutex threads sqlite serial socket socket_tls snmp torture generator_threads; do
    TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tools/tsan.supp" \
        build-tsan/capsule-test "$PWD/tests/scripts/${t}_test.js"
done
# The fuzz targets, a short fixed run each (tools/fuzz.sh; tests/fuzz/README.md for longer).
tools/fuzz.sh
# The Windows runtime: cross builds for i686 and x86-64, and the suite under Wine.
tools/test-windows.sh
