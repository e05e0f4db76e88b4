#!/usr/bin/env bash
# Installs what is missing, builds the runtime and packs the demo application
# (examples/monitor, with its web pages and module libraries) into one file, build/monitor,
# and runs it in the console: it starts its UPS simulator, polls the host and the UPS and
# serves its page on 127.0.0.1. Ctrl-C stops it. Arguments go to the monitor, e.g.
#   tools/demo.sh --port 8090      tools/demo.sh --https
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
ls -l build/monitor
exec build/monitor "$@"
