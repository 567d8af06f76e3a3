#!/usr/bin/env bash
# Times two builds of vemlo side by side on the workload (bench/workload.sh), alternating them
# run by run so that both see the same load, and prints each run and the medians of the wall
# time and of the user + system CPU time.
#
#   bench/compare_times.sh reference-build-dir new-build-dir [runs] [events] [days]
#
# runs defaults to 5, events to 20, days to 2. OMP_NUM_THREADS and VEMLO_MEMORY_MB are passed
# on. WORK (default build-bench/times) holds the runs and their archive. Needs GNU time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ref=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
runs=${3:-5}
events=${4:-20}
days=${5:-2}
work=${WORK:-$root/build-bench/times}
mkdir -p "$work/run"
: >"$work/ref.txt"
: >"$work/new.txt"
for ((k = 1; k <= runs; ++k)); do
    for which in ref new; do
        build=$ref
        [ $which = new ] && build=$new
        MAKE_EXAMPLE="$ref/make_example" WORKLOAD_DIR="$work/run" \
            bash "$root/bench/workload.sh" "$events" "$days" "$build/vemlo" >/dev/null
        awk '{ print $1, $3 + $4 }' "$work/run/time.txt" >>"$work/$which.txt"
        echo "$which run $k: $(tail -1 "$work/$which.txt") (wall, user+sys seconds)"
    done
done
for which in ref new; do
    sort -n -k1,1 "$work/$which.txt" | awk -v w="$which" '{ wall[NR] = $1 } END {
        printf "%s: median wall %.2f s", w, wall[int((NR + 1) / 2)] }'
    sort -n -k2,2 "$work/$which.txt" | awk '{ cpu[NR] = $2 } END {
        printf ", median user+sys %.2f s\n", cpu[int((NR + 1) / 2)] }'
done
