#!/usr/bin/env bash
# Sets up and builds vemlo, writes the example's synthetic archive if it is not there yet, runs
# vemlo on the example control file, shows the detections and draws them with vemlo-report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$root/build"

cd "$root/examples"
if [ ! -d archive ]; then
    echo "Writing the example archive (three stations, two days at 100 samples per second)..."
    rm -rf archive.tmp
    "$root/build/make_example" archive.tmp
    mv archive.tmp archive
fi
"$root/build/vemlo" example.txt
echo
echo "Detections in examples/results/example_quake.txt (epoch time, mean correlation, MAD, templates):"
cat results/example_quake.txt
echo
"$root/build/vemlo-report" results --mad-multiple 9
echo "vemlo-report wrote examples/results/detections.csv, example_quake.png and overview.png"
