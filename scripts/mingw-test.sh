#!/usr/bin/env bash
# Builds the engine and its tests with the mingw-w64 cross compiler (64-bit Windows, where long
# has 32 bits) and runs them under wine. The file layer is not built: Debian has no Windows
# builds of libpng and libjpeg. GoogleTest is built from Debian's googletest source package with
# the same compiler, into build-mingw/gtest.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-mingw
SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
export DEBIAN_FRONTEND=noninteractive
need=()
for p in g++-mingw-w64-x86-64-posix wine64 googletest cmake ninja-build; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  "${SUDO[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  -DCMAKE_C_COMPILER_LAUNCHER=ccache)
toolchain=$PWD/cmake/mingw-w64.cmake
gtest=$PWD/$build/gtest

if [ ! -f "$gtest/.complete" ]; then
  cmake -S /usr/src/googletest -B "$build/gtest-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=OFF \
    -Dgtest_disable_pthreads=OFF "${launcher[@]}" >/dev/null
  cmake --build "$build/gtest-build" -j "$(nproc)"
  cmake --install "$build/gtest-build" >/dev/null
  touch "$gtest/.complete"
fi

cmake -S cmake/engine-only -B "$build/engine" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKAVUN_MINGW_GTEST="$gtest" -DGTest_DIR="$gtest/lib/cmake/GTest" \
  "${launcher[@]}" >/dev/null
cmake --build "$build/engine" -j "$(nproc)" --target engine_tests

# wine makes its prefix on first use (half a minute); keep it beside the build.
export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
"$wine" "$build/engine/tests-engine/engine_tests.exe" --gtest_brief=1
