#!/usr/bin/env bash
# How well and how fast the window's 範囲を自動検出 (kavun-cli detect) finds a scrambled
# rectangle on real photographs: installs Debian's lomiri-wallpapers-16.04 (fifteen JPEG
# photographs, 16 MB), builds bench_detect in build/ and runs it on them.
#   bench/detect_photos.sh [--trials N] [--seed S] [--verbose]
# N trials of every transform (default 150); a few minutes on one core.
set -euo pipefail
cd "$(dirname "$0")/.."

package=lomiri-wallpapers-16.04
if ! dpkg -s "$package" >/dev/null 2>&1; then
  bash scripts/apt-update.sh -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package"
fi
mapfile -t photos < <(dpkg -L "$package" | grep -iE '\.jpe?g$' | sort)

cmake -S . -B build -G Ninja -DKAVUN_BUILD_BENCH=ON >/dev/null
cmake --build build --target bench_detect
build/bench/bench_detect "$@" "${photos[@]}"
