#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs each on its corpus
# (tests/fuzz/corpus/<name>). Options go to libFuzzer; the default is a short fixed run:
#   tools/fuzz.sh                          # 20000 inputs per target
#   tools/fuzz.sh -max_total_time=600      # ten minutes per target
# New inputs collect in build-fuzz/found/<name>, failing ones in build-fuzz/failures/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCAPSULE_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzzers
[ $# -gt 0 ] || set -- -runs=20000
mkdir -p build-fuzz/failures
for name in afs_reader literal package_directory uneval command_line hid_descriptor registry_store xml translator regexp \
    script_store; do
    mkdir -p "build-fuzz/found/$name"
    echo "fuzz: $name $*"
    # The engine heap lives through the run: what it keeps between inputs is no leak.
    log="build-fuzz/$name.log"
    if ! UBSAN_OPTIONS=print_stacktrace=1 build-fuzz/fuzz/${name}_fuzz "$@" -max_len=4096 \
        -detect_leaks=0 -artifact_prefix=build-fuzz/failures/${name}- -print_final_stats=1 \
        "build-fuzz/found/$name" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
        tail -n 60 "$log"
        exit 1
    fi
    grep -h "number_of_executed_units" "$log"
done
