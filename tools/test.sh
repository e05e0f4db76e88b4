#!/usr/bin/env bash
# Runs every test: the normal build, then the unit and script tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the script tests of threads and
# mutexes (the stress test among them) under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
tools/build.sh
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)
BUILD_DIR=build-asan tools/build.sh -DCAPSULE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs" --timeout 300)
# ThreadSanitizer: only the packed test runner and the database module are built.
cmake -S . -B build-tsan -G Ninja -DCAPSULE_TSAN=ON >/dev/null
cmake --build build-tsan --target capsule_test msqlite
for t in stress mutex threads sqlite; do
    TSAN_OPTIONS="halt_on_error=1" build-tsan/capsule-test "$PWD/tests/scripts/${t}_test.js"
done
# The socket module: servers on script threads, a close from another thread, the first
# TLS use from two threads at once.
cmake --build build-tsan --target msocket
for t in socket socket_tls; do
    TSAN_OPTIONS="halt_on_error=1" build-tsan/capsule-test "$PWD/tests/scripts/${t}_test.js"
done

# The SNMP module's script threads under ThreadSanitizer too.
cmake --build build-tsan --target msnmp
TSAN_OPTIONS="halt_on_error=1" build-tsan/capsule-test "$PWD/tests/scripts/snmp_test.js"

# The serial module under ThreadSanitizer: a read waiting outside the lock, a close meanwhile.
cmake --build build-tsan --target mserial
TSAN_OPTIONS="halt_on_error=1" build-tsan/capsule-test "$PWD/tests/scripts/serial_test.js"
