#!/usr/bin/env bash
# Builds the engine, the file layer, kavun-cli and their tests for another processor with
# Debian's cross compilers and runs the tests under qemu-user.
#   scripts/cross-build.sh ARCH [--no-tests]     ARCH: i386, arm64 or s390x
# The build is in build-cross-ARCH/; kavun-cli is build-cross-ARCH/src/cli/kavun-cli, run with
# the emulator the script prints. The GUI is not built (no Qt for these processors here).
# The processor's -dev packages (libpng, libjpeg, zlib, GoogleTest) are downloaded with apt and
# unpacked into build-cross-ARCH/sysroot rather than installed: multiarch cannot always install
# them beside the machine's own (their versions must match exactly, and not every processor's
# packages are updated together), and unpacked they touch nothing outside the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:?usage: scripts/cross-build.sh i386|arm64|s390x [--no-tests]}
run_tests=1
[ "${2:-}" = "--no-tests" ] && run_tests=0
case "$arch" in
  i386) triplet=i686-linux-gnu multiarch=i386-linux-gnu processor=i686 emulator=qemu-i386 ;;
  arm64) triplet=aarch64-linux-gnu multiarch=aarch64-linux-gnu processor=aarch64 \
    emulator=qemu-aarch64 ;;
  s390x) triplet=s390x-linux-gnu multiarch=s390x-linux-gnu processor=s390x emulator=qemu-s390x ;;
  *) echo "unknown processor '$arch' (i386, arm64 or s390x)" >&2; exit 2 ;;
esac
build=build-cross-$arch
sysroot=$PWD/$build/sysroot
libs=(libpng-dev libjpeg62-turbo-dev zlib1g-dev libgtest-dev)

SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
export DEBIAN_FRONTEND=noninteractive
need=()
for p in "g++-$triplet" qemu-user cmake ninja-build; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  "${SUDO[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

# A 32-bit x86 program could run natively, but many kernels (this one too) lack 32-bit
# support; qemu runs it everywhere. The emulator also runs kavun-cli for the CLI tests.
if [ ! -f "$sysroot/.complete" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx "$arch" &&
    [ "$arch" != "$(dpkg --print-architecture)" ]; then
    "${SUDO[@]}" dpkg --add-architecture "$arch"
    "${SUDO[@]}" bash scripts/apt-update.sh -qq
  fi
  rm -rf "$sysroot" && mkdir -p "$sysroot/debs"
  (cd "$sysroot/debs" && apt-get download "${libs[@]/%/:$arch}")
  for deb in "$sysroot"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  # Static libraries only: the shared ones' links point at packages not unpacked.
  find "$sysroot/usr/lib" -name '*.so' -delete
  touch "$sysroot/.complete"
fi

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/cross-linux.cmake" -DKAVUN_CROSS_TRIPLET="$triplet" \
  -DKAVUN_CROSS_MULTIARCH="$multiarch" -DKAVUN_CROSS_PROCESSOR="$processor" \
  -DKAVUN_CROSS_SYSROOT="$sysroot" -DKAVUN_CROSS_EMULATOR="$emulator" \
  -DKAVUN_BUILD_GUI=OFF -DKAVUN_BUILD_BENCH=OFF -DKAVUN_BUILD_FUZZ=OFF -DKAVUN_WERROR=ON \
  "${launcher[@]}" >/dev/null
targets=(kavun-cli)
[ "$run_tests" -eq 1 ] && targets+=(engine_tests imagefile_tests cli_tests)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
echo "$arch: built $build/src/cli/kavun-cli; run it with $emulator"

[ "$run_tests" -eq 1 ] || exit 0
# Each test program runs once, whole (ctest would start the emulator once per test case).
status=0
for t in tests/engine/engine_tests tests/imagefile/imagefile_tests tests/cli/cli_tests; do
  echo "== $arch: $t"
  (cd "$build/$(dirname "$t")" && "$emulator" "./$(basename "$t")" --gtest_brief=1) || status=1
done
exit "$status"
