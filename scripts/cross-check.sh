#!/usr/bin/env bash
# Checks that Kavun gives the same pictures on other processors: builds the engine, the file
# layer and kavun-cli for aarch64 and s390x (big-endian) with Debian's cross compilers, runs
# their tests under qemu-user (scripts/cross-build.sh), then runs the native and each foreign
# kavun-cli on the same random cases and compares.
#   scripts/cross-check.sh [CASES]      CASES random cases per processor (default 100)
# Environment: ARCHS (default "arm64 s390x"; i386 works too, and win64: kavun-cli.exe of
# scripts/windows-build.sh under wine, on files with Japanese names), SEED (default: random, printed),
# NO_TESTS=1 to skip the unit tests of the foreign builds.
# Each case makes a random picture (PNG or BMP, 24-bit colour or 8-bit palette), picks a
# transform with random parameters (mosaic, bit shift, XOR in its three modes with passwords of
# Japanese and ASCII characters) and a rectangle (the whole picture, one pixel at a corner, a row
# or a column along an edge, or at random), and then:
#   1. both programs scramble the picture: the two output files must be identical, byte for byte;
#   2. each program restores the other's output: both must give the original pixels.
# Only lossless outputs are compared: JPEG bytes may differ between processors
# (docs/compatibility.md).
set -euo pipefail
cd "$(dirname "$0")/.."

cases=${1:-100}
archs=${ARCHS:-arm64 s390x}
seed=${SEED:-$RANDOM$RANDOM}
command -v python3 >/dev/null || {
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends python3-minimal
}

native=${KAVUN_NATIVE_CLI:-build/src/cli/kavun-cli}
if [ ! -x "$native" ]; then
  native=build-native-cli/src/cli/kavun-cli
  cmake -S . -B build-native-cli -G Ninja -DKAVUN_BUILD_GUI=OFF -DKAVUN_BUILD_TESTS=OFF >/dev/null
  cmake --build build-native-cli -j "$(nproc)" --target kavun-cli
fi
native=$(realpath "$native")

status=0
for arch in $archs; do
  if [ "$arch" = win64 ]; then
    # The Windows build's own tests run in scripts/wine-test.sh.
    exe=build-win64/src/cli/kavun-cli.exe
    [ -f "$exe" ] || bash scripts/windows-build.sh
    export WINEPREFIX=${WINEPREFIX:-${KAVUN_CACHE:-$HOME/.cache/kavun}/wine64-prefix} WINEDEBUG=-all
    wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
    wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    "$wineserver" -p 2>/dev/null || true # one server for all the cases
    "$wine" "$exe" --version >/dev/null # wine's first start may update its prefix
    work=$(mktemp -d)
    echo "== win64: $cases random cases, SEED=$seed"
    python3 scripts/cross_cases.py --cases "$cases" --seed "$seed" --work "$work" \
      --prefix "写真_テスト" --native "$native" --foreign "$wine" "$(realpath "$exe")" || status=1
    rm -rf "$work"
    "$wineserver" -k 2>/dev/null || true
    continue
  fi
  if [ "${NO_TESTS:-0}" = 1 ]; then
    bash scripts/cross-build.sh "$arch" --no-tests
  else
    bash scripts/cross-build.sh "$arch" || status=1
  fi
  case "$arch" in
    i386) emulator=qemu-i386 ;; arm64) emulator=qemu-aarch64 ;; s390x) emulator=qemu-s390x ;;
  esac
  work=$(mktemp -d)
  echo "== $arch: $cases random cases, SEED=$seed"
  python3 scripts/cross_cases.py --cases "$cases" --seed "$seed" --work "$work" \
    --native "$native" --foreign "$emulator" "$(realpath "build-cross-$arch/src/cli/kavun-cli")" ||
    status=1
  rm -rf "$work"
done
exit "$status"
