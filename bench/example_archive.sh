#!/usr/bin/env bash
# Writes the example generator's archive (three stations, two days at 100 samples per second,
# about 65 MB) to dir/archive unless it is there already; a run cut short leaves no half archive.
#
#   bench/example_archive.sh dir make_example-binary
set -euo pipefail
if [ ! -e "$1/archive" ]; then
    mkdir -p "$1"
    rm -rf "$1/archive.tmp"
    "$2" "$1/archive.tmp" >/dev/null
    mv "$1/archive.tmp" "$1/archive"
fi
