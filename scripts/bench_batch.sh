#!/usr/bin/env bash
# Throughput of vemlo-batch (GNU parallel, 2 jobs, 1-day chunks) against one vemlo process on
# the bundled example; run scripts/run_example.sh once first (it builds and writes the archive).
#   scripts/bench_batch.sh [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
cd "$root/examples"
[ -d archive ] || { echo "run scripts/run_example.sh first" >&2; exit 1; }
scratch=$(mktemp -d bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
sed "2s#.*#$scratch/one/#" example.txt > "$scratch/one.txt"
sed "2s#.*#$scratch/batch/#" example.txt > "$scratch/batch.txt"
for _ in $(seq "$rounds"); do
    rm -rf "$scratch/one" "$scratch/batch"
    echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
    TIMEFORMAT="  one process:              %R s wall, %U s user, %S s system"
    time "$root/build/vemlo" "$scratch/one.txt" >/dev/null 2>&1
    TIMEFORMAT="  parallel, 2 jobs, 1 day:  %R s wall, %U s user, %S s system"
    time "$root/build/vemlo-batch" --days 1 --jobs 2 "$scratch/batch.txt" >/dev/null 2>&1
    cmp "$scratch/one/example_quake.txt" "$scratch/batch/example_quake.txt"
done
