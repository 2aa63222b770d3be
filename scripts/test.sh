#!/usr/bin/env bash
# Installs what is missing, builds Kavun with its tests and runs every test.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build
flags=(-DKAVUN_BUILD_GUI=ON -DKAVUN_BUILD_BENCH=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags=(-DKAVUN_BUILD_GUI=ON -DKAVUN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
fi

jobs=$(nproc)
cmake -S . -B "$build" -G Ninja "${flags[@]}"
cmake --build "$build" -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j "$jobs"
