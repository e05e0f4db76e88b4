#!/usr/bin/env bash
# Makes the start-up benchmark's application: about 900 files in a few folders, about
# 5.5 MB packed, with an entry script that ends the process at its first statement.
#   bench/make_startup_app.sh <dir>
set -euo pipefail
dir="$1"
rm -rf "$dir"
mkdir -p "$dir/scripts"
echo 'System.exit(0);' > "$dir/scripts/autorun.js"
for group in libs html configs bin; do
    mkdir -p "$dir/$group"
    for i in $(seq 1 225); do
        # Base64 text compresses to about three quarters: 225 * 4 * ~8 KB raw. It stands in
        # a comment, so that the packer's compile check takes every file.
        { echo '/*'; head -c 6000 /dev/urandom | base64; echo '*/'; } > "$dir/$group/file$i.js"
    done
done
