#!/usr/bin/env bash
# Installs what is missing, builds the runtime and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
build/capsule "$@"
