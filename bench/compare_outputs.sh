#!/usr/bin/env bash
# Checks that two builds of vemlo give the same results files and console text (standard output
# and standard error), byte for byte, on the example and on the workload (bench/workload.sh), at
# 1, 2 and 4 threads and with a memory budget of 500 MB: just above what one event of the workload
# needs, so that the traces are conditioned one at a time and the workload's events are scanned
# in several batches. The console's "Run time" line is left out of the comparison.
#
#   bench/compare_outputs.sh reference-build-dir new-build-dir [events] [days]
#
# Each build directory holds vemlo and make_example. events (default 20) and days (default 2)
# are passed to the workload. WORK (default build-bench/compare) is where the archive and the
# runs go. Exits 1 when anything differs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ref=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
events=${3:-20}
days=${4:-2}
work=${WORK:-$root/build-bench/compare}
bash "$root/bench/example_archive.sh" "$work" "$ref/make_example"

# Runs one case with one build into $work/name: run_case name build threads budget(or "").
# Both builds run in the same directory, whose path the run record names.
run_case() {
    local name=$1 build=$2 threads=$3 budget=$4 dir
    dir="$work/run"
    rm -rf "$dir" "${work:?}/$name"
    mkdir -p "$dir"
    ln -s "$work/archive" "$dir/archive"
    local env=(OMP_NUM_THREADS="$threads")
    [ -n "$budget" ] && env+=(VEMLO_MEMORY_MB="$budget")
    if [[ $name == example* ]]; then
        cp "$root/examples/example.txt" "$dir/"
        (cd "$dir" && env "${env[@]}" "$build/vemlo" example.txt >console.txt 2>stderr.txt) || true
    else
        env "${env[@]}" WORKLOAD_DIR="$dir" bash "$root/bench/workload.sh" "$events" "$days" \
            "$build/vemlo" >/dev/null
    fi
    grep -v 'Run time' "$dir/console.txt" >"$dir/console.cmp"
    mv "$dir" "$work/$name"
}

# A reference build from before the channels files were written is compared on the rest.
same_results() {
    local skip=()
    compgen -G "$1/*.channels.csv" >/dev/null || skip=(-x '*.channels.csv')
    diff -rq "${skip[@]}" "$1" "$2"
}

status=0
for input in example workload; do
    for setting in 1: 2: 4: 2:500; do
        threads=${setting%%:*}
        budget=${setting#*:}
        label="$input threads=$threads${budget:+ budget=${budget}MB}"
        run_case "$input-ref" "$ref" "$threads" "$budget"
        run_case "$input-new" "$new" "$threads" "$budget"
        if diff -q "$work/$input-ref/console.cmp" "$work/$input-new/console.cmp" >/dev/null &&
            diff -q "$work/$input-ref/stderr.txt" "$work/$input-new/stderr.txt" >/dev/null &&
            same_results "$work/$input-ref/results" "$work/$input-new/results" >/dev/null; then
            echo "same: $label ($(ls "$work/$input-new/results" | wc -l) results files)"
        else
            echo "DIFFERENT: $label"
            diff "$work/$input-ref/console.cmp" "$work/$input-new/console.cmp" | head -5 || true
            diff "$work/$input-ref/stderr.txt" "$work/$input-new/stderr.txt" | head -5 || true
            same_results "$work/$input-ref/results" "$work/$input-new/results" | head -5 || true
            status=1
        fi
    done
done
exit $status
