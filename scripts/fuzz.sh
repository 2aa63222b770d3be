#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each decoder's fuzzer for a
# bounded time, seeded with the test pictures. Exits non-zero when a fuzzer finds a crash, a
# leak or undefined behaviour.
#   scripts/fuzz.sh [SECONDS per fuzzer, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAVUN_BUILD_GUI=OFF -DKAVUN_BUILD_TESTS=OFF -DKAVUN_BUILD_FUZZ=ON
cmake --build "$build" -j "$(nproc)" --target fuzz_png fuzz_jpeg fuzz_bmp

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run() {
  local kind=$1
  shift
  local corpus=$build/corpus-$kind
  local artifacts=$build/artifacts-$kind/
  mkdir -p "$corpus" "$artifacts"
  # Seeds go into a scratch corpus so that the test data is never changed.
  local seed
  for seed in "$@"; do cp -f "$seed" "$corpus/" 2>/dev/null || true; done
  echo "== fuzz_$kind for ${seconds}s"
  "$build/fuzz/fuzz_$kind" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts" -print_final_stats=1 2>&1 | tail -n 25
  local status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$kind found a problem (status $status); see $artifacts" >&2
    return 1
  fi
}

failed=0
run png tests/data/pngsuite/*.png tests/data/png-crashers/*.png || failed=1
run jpeg tests/data/jpeg/*.jpg || failed=1
run bmp tests/data/bmpsuite/*/*.bmp || failed=1
exit "$failed"
