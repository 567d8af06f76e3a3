#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: plain, and under AddressSanitizer and
# UndefinedBehaviorSanitizer. Fails on unformatted code when clang-format is available.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The vemlo-batch tests start a one-node Slurm cluster (scripts/slurm_test_cluster.sh); the
# vemlo-control tests check their QuakeML inputs against the schema with lxml; a small scan runs
# under valgrind.
export VEMLO_EXTRA_PACKAGES="slurm-wlm munge python3-lxml valgrind"
"$root/scripts/setup.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j 2)

"$root/scripts/setup.sh" "$root/build-sanitize" -DVEMLO_SANITIZE=ON
(cd "$root/build-sanitize" && ctest --output-on-failure -j 2)

if command -v clang-format >/dev/null 2>&1; then
    "$root/scripts/format.sh" --check
fi
