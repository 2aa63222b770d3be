#!/usr/bin/env bash
# Installs what is missing, builds Kavun with its tests and runs every test. Warnings are errors.
#   scripts/test.sh             normal build (GCC, RelWithDebInfo) in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --clang     clang build (MinSizeRel) in build-clang/
#   scripts/test.sh --release   GCC Release build in build-release/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build
flags=(-DKAVUN_BUILD_GUI=ON -DKAVUN_BUILD_BENCH=ON)
case "${1:-}" in
  "") ;;
  --sanitize)
    build=build-asan
    flags=(-DKAVUN_BUILD_GUI=ON -DKAVUN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}
    ;;
  --clang)
    # MinSizeRel: the one build type no other CI step builds.
    build=build-clang
    flags+=(-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    ;;
  --release)
    build=build-release
    flags+=(-DCMAKE_BUILD_TYPE=Release)
    ;;
  *)
    echo "usage: $0 [--sanitize | --clang | --release]" >&2
    exit 2
    ;;
esac

jobs=$(nproc)
cmake -S . -B "$build" -G Ninja -DKAVUN_WERROR=ON "${flags[@]}"
cmake --build "$build" -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j "$jobs"
