#!/usr/bin/env bash
# Installs what is missing, builds the runtime, packs the example application
# (examples/hello) and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
build/capsule-pack examples/hello build/hello
build/hello "$@"
