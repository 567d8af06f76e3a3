#!/usr/bin/env bash
# Whole-program workload: writes the example generator's archive (three stations, two days at
# 100 samples per second) once, then runs vemlo on a control file of 10-second templates and
# prints the wall-clock seconds per template-day, the CPU seconds (user + system) and the peak
# resident memory.
#
#   bench/workload.sh [events] [days] [vemlo-binary]
#
# events (default 20) template events of three picks each: the example's six earthquakes, then
# picks at other times of day 100 (noise). days (default 2) is 1 or 2. The binary defaults to
# build-bench/vemlo (configure with -DVEMLO_BUILD_BENCH=ON). OMP_NUM_THREADS and
# VEMLO_MEMORY_MB are passed on; WORKLOAD_DIR (default build-bench/workload) is where the archive,
# control file, console text and results go; MAKE_EXAMPLE (default build-bench/make_example)
# writes the archive when it is not there yet. Needs GNU time (/usr/bin/time).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
events=${1:-20}
days=${2:-2}
vemlo=${3:-$root/build-bench/vemlo}
work=${WORKLOAD_DIR:-$root/build-bench/workload}
bash "$root/bench/example_archive.sh" "$work" "${MAKE_EXAMPLE:-$root/build-bench/make_example}"
rm -rf "$work/results"

# First arrivals at VM01 (day, seconds); VM02 and VM03 follow 1.25 s and 2.80 s later.
picks=("100 11720.00" "100 34867.50" "100 61365.25" "101 5400.00" "101 43932.12" "101 82113.70")
for ((k = 0; ${#picks[@]} < events; ++k)); do
    picks+=("100 $((1000 + 4000 * k)).00")
done
{
    printf 'results\nresults/\n\nfirst day\n2024 100 0\n\nlast day\n2024 %d 0\n\n' $((99 + days))
    printf 'length\n10\n\nband\n2 10\n\nmad\n9\n\nrate\n100\n\nreserved\n0\n\n'
    printf 'archive\narchive/\n\nreserved\n\n\nreserved\n0\n\ndownload keep\n0 1\n\nevents\n'
    for ((e = 0; e < events; ++e)); do
        read -r doy t <<<"${picks[e]}"
        printf 'event%02d\n' $((e + 1))
        awk -v d="$doy" -v t="$t" 'BEGIN {
            printf "2024 %d %.2f VM VM01 00 HHZ 0\n2024 %d %.2f VM VM02 00 HHZ 0\n", d, t, d, t + 1.25
            printf "2024 %d %.2f VM VM03 00 HHZ 0\n", d, t + 2.80 }'
        [ $((e + 1)) -lt "$events" ] && printf '\n'
    done
} >"$work/control.txt"

cd "$work"
/usr/bin/time -f '%e %M %U %S' -o time.txt "$vemlo" control.txt >console.txt 2>stderr.txt
read -r seconds kb user sys <time.txt
template_days=$((events * 3 * days))
awk -v s="$seconds" -v kb="$kb" -v td="$template_days" -v e="$events" -v d="$days" \
    -v cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" 'BEGIN {
    printf "%d events x 3 stations x %d day(s) = %d template-days: %.2f s, %.3f s per template-day, %.2f s of CPU, peak %.0f MB\n",
           e, d, td, s, s / td, cpu, kb / 1024 }'
