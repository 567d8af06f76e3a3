#!/usr/bin/env bash
# Installs the Debian packages vemlo needs (only those missing) and builds it.
#   scripts/setup.sh [build-dir] [extra cmake arguments...]
# Default build directory: build/ at the project root. VEMLO_EXTRA_PACKAGES names further Debian
# packages to install (the test command adds the ones only its tests need).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

packages=(cmake g++ make pkg-config libgtest-dev libmseed-dev libfftw3-dev libopencv-imgproc-dev wget python3
          python3-matplotlib)
packages+=(parallel)  # vemlo-batch's default engine
# shellcheck disable=SC2206
packages+=(${VEMLO_EXTRA_PACKAGES:-})
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
