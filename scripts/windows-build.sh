#!/usr/bin/env bash
# Builds Kavun for 64-bit Windows with Debian's mingw-w64 compiler: kavun.exe and kavun-cli.exe,
# linked statically (they import Windows' own DLLs only), and dist/kavun-<version>-windows-x64.zip.
#
# The libraries come from Debian's source packages (qt6-base, libpng1.6, libjpeg-turbo, zlib),
# fetched with apt-get source through a private apt configuration that adds deb-src entries for
# the system's own package sources; nothing else is fetched. They are built once into a cache
# outside the checkout named after their versions and build options
# (${KAVUN_CACHE:-~/.cache/kavun}/win64-...), together with GoogleTest for the test programs, and
# reused from there. The wine prefix that runs the tests lives in the same cache.
#
#   scripts/windows-build.sh          libraries (if not cached), programs, zip
#   scripts/windows-build.sh --libs   the libraries only
#   scripts/windows-build.sh --tests  also the test programs (scripts/wine-test.sh runs them), and the zip
#   scripts/windows-build.sh --cached succeeds when the libraries are in the cache (builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=all
case "${1:-}" in
--libs) mode=libs ;;
--tests) mode=tests ;;
--cached) mode=cached ;;
"") ;;
*)
  echo "usage: $0 [--libs|--tests|--cached]" >&2
  exit 2
  ;;
esac

# The upstream versions Debian 12 ships; the fetched sources are checked against them.
QT_VERSION=6.4.2
PNG_VERSION=1.6.39
JPEG_VERSION=2.1.5
ZLIB_VERSION=1.2.13
GTEST_VERSION=1.12.1

# Qt: static; Core, Gui, Widgets, Concurrent and Test with the windows and offscreen platform
# plugins. Qt 6.4's windows plugin needs OpenGL; Debian's source has no wintab (tablet events);
# zlib, libpng, libjpeg, pcre2, harfbuzz and freetype are Qt's bundled copies.
QT_OPTIONS=(
  -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_vulkan=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF
  -DFEATURE_opengl=ON -DINPUT_opengl=desktop
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF
)
LIB_OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=OFF)

cache_root=${KAVUN_CACHE:-$HOME/.cache/kavun}
# wine's prefix (made on its first run, which takes a while) lives with the cache.
export WINEPREFIX=$cache_root/wine64-prefix WINEDEBUG=-all

# --- Debian packages -----------------------------------------------------------------------------
SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
export DEBIAN_FRONTEND=noninteractive
need=()
for p in g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 \
  nasm dpkg-dev zip unzip cmake ninja-build qt6-base-dev-tools qt6-base-dev qt6-translations-l10n \
  googletest xvfb xdotool; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing missing packages: ${need[*]}"
  "${SUDO[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi
toolchain=$root/cmake/mingw-w64.cmake
jobs=$(nproc)
# The cache's name: the versions, and a digest of the options and of the compiler's version
# (the key needs the compiler, which the packages above bring on a fresh machine).
compiler_version() { dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null || echo none; }
key=$(printf '%s\n' "${QT_OPTIONS[@]}" "${LIB_OPTIONS[@]}" "$(compiler_version)" |
  sha256sum | cut -c1-10)
libs=$cache_root/win64-qt$QT_VERSION-png$PNG_VERSION-jpeg$JPEG_VERSION-zlib$ZLIB_VERSION-gtest$GTEST_VERSION-$key

# --- the libraries -------------------------------------------------------------------------------
# apt-get source with a private configuration: deb-src twins of the system's deb entries, lists
# of their own; the system's sources and lists stay as they are.
fetch_sources() { # dest package...
  local dest=$1
  shift
  local conf=$dest/apt
  mkdir -p "$conf/sources.list.d" "$conf/lists/partial"
  : >"$conf/sources.list"
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$conf/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$conf/sources.list.d/$(basename "$f")"
  done
  local apt=(-o Dir::Etc::sourcelist="$conf/sources.list" -o Dir::Etc::sourceparts="$conf/sources.list.d"
    -o Dir::State::Lists="$conf/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
    -o APT::Sandbox::User=root)
  bash scripts/apt-update.sh "${apt[@]}" -qq
  # The newest version whose files can be fetched (a security suite may list sources that the
  # package host does not serve).
  local p v
  for p in "$@"; do
    for v in $(apt-cache "${apt[@]}" showsrc "$p" | sed -n 's/^Version: //p' | sort -u |
      sort -r -V); do
      if (cd "$dest" && apt-get "${apt[@]}" source -qq "$p=$v" >/dev/null 2>&1); then
        echo "  $p $v"
        continue 2
      fi
    done
    echo "Could not fetch Debian's source of $p" >&2
    exit 1
  done
}

check_version() { # directory version
  [ -d "$1" ] || {
    echo "Debian's source is not the expected version: no $1 (want $2)" >&2
    exit 1
  }
}

# Each stage of the library build leaves a mark in the work folder: a build that was stopped
# (a time limit, a reboot) goes on from the stage it was in, and Qt's build from the file it was at.
build_libs() {
  local start=$SECONDS
  local work=$libs.work
  local prefix=$libs.partial
  if [ ! -f "$work/.stage-sources" ]; then
    rm -rf "$work" "$prefix"
  elif [ -d "$work/b-qt" ]; then
    echo "Going on with the stopped build in $work"
  fi
  mkdir -p "$work" "$prefix"
  done_stage() { touch "$work/.stage-$1"; }
  stage_left() { [ ! -f "$work/.stage-$1" ]; }
  if stage_left sources; then
    echo "Fetching Debian's sources of qt6-base, libpng1.6, libjpeg-turbo, zlib, googletest"
    fetch_sources "$work" qt6-base libpng1.6 libjpeg-turbo zlib googletest
  fi
  check_version "$work/qt6-base-$QT_VERSION+dfsg" $QT_VERSION
  check_version "$work/libpng1.6-$PNG_VERSION" $PNG_VERSION
  check_version "$work/libjpeg-turbo-$JPEG_VERSION" $JPEG_VERSION
  check_version "$work/zlib-$ZLIB_VERSION.dfsg" $ZLIB_VERSION
  check_version "$work/googletest-$GTEST_VERSION" $GTEST_VERSION
  # The licences of what the programs link in, for the zip.
  local lic=$prefix/licenses
  mkdir -p "$lic"
  cp "$work/qt6-base-$QT_VERSION+dfsg/LICENSES/LGPL-3.0-only.txt" "$lic/Qt-LGPL-3.0.txt"
  cp "$work/qt6-base-$QT_VERSION+dfsg/LICENSES/GPL-3.0-only.txt" "$lic/Qt-GPL-3.0.txt"
  cp "$work/qt6-base-$QT_VERSION+dfsg/debian/copyright" "$lic/Qt-debian-copyright.txt"
  cp "$work/libpng1.6-$PNG_VERSION/LICENSE" "$lic/libpng-LICENSE.txt"
  cp "$work/libjpeg-turbo-$JPEG_VERSION/LICENSE.md" "$lic/libjpeg-turbo-LICENSE.md"
  cp "$work/libjpeg-turbo-$JPEG_VERSION/README.ijg" "$lic/libjpeg-turbo-README.ijg"
  cp "$work/zlib-$ZLIB_VERSION.dfsg/LICENSE" "$lic/zlib-LICENSE.txt"
  # Qt's bundled libraries that a Windows build links in, each with its licence and the
  # attribution file naming its version.
  local d f
  for d in zlib libpng libjpeg pcre2 harfbuzz-ng freetype md4c double-conversion tinycbor sha3 \
    blake2 rfc6234 md5 md4 sha1 easing icc; do
    [ -d "$work/qt6-base-$QT_VERSION+dfsg/src/3rdparty/$d" ] || continue
    while read -r f; do
      cp "$f" "$lic/Qt-3rdparty-$d-$(basename "$f")"
    done < <(find "$work/qt6-base-$QT_VERSION+dfsg/src/3rdparty/$d" -maxdepth 2 -type f \
      \( -iname 'LICEN[CS]E*' -o -iname 'COPYING*' -o -iname 'FTL.TXT' -o -name 'qt_attribution.json' \))
  done
  grep -h '^Version:' "$work"/*.dsc | paste -sd' ' >"$prefix/debian-source-versions.txt"
  (cd "$work" && ls ./*.dsc) | sed 's|^\./||' >>"$prefix/debian-source-versions.txt"
  done_stage sources

  local launcher=()
  if command -v ccache >/dev/null; then
    export CCACHE_DIR=$cache_root/win64-ccache CCACHE_MAXSIZE=3G
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  local common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix"
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" "${launcher[@]}" "${LIB_OPTIONS[@]}")

  if stage_left zlib; then
    echo "zlib $ZLIB_VERSION"
    cmake -S "$work/zlib-$ZLIB_VERSION.dfsg" -B "$work/b-zlib" "${common[@]}" >/dev/null
    cmake --build "$work/b-zlib" -j "$jobs" --target zlibstatic >/dev/null
    install -D -m644 "$work/b-zlib/libzlibstatic.a" "$prefix/lib/libz.a"
    install -D -m644 -t "$prefix/include" "$work/zlib-$ZLIB_VERSION.dfsg/zlib.h" "$work/b-zlib/zconf.h"
    done_stage zlib
  fi

  # A library built and installed with CMake as one stage.
  cmake_stage() { # stage title source-folder cmake-option...
    local stage=$1 title=$2 source=$3
    shift 3
    stage_left "$stage" || return 0
    echo "$title"
    cmake -S "$source" -B "$work/b-$stage" "${common[@]}" "$@" >/dev/null
    cmake --build "$work/b-$stage" -j "$jobs" >/dev/null
    cmake --install "$work/b-$stage" >/dev/null
    done_stage "$stage"
  }
  cmake_stage png "libpng $PNG_VERSION" "$work/libpng1.6-$PNG_VERSION" -DPNG_SHARED=OFF \
    -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON \
    -DZLIB_ROOT="$prefix" -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"
  cmake_stage jpeg "libjpeg-turbo $JPEG_VERSION (with its SIMD)" "$work/libjpeg-turbo-$JPEG_VERSION" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=ON -DWITH_TURBOJPEG=OFF \
    -DCMAKE_ASM_NASM_COMPILER=nasm
  cmake_stage gtest "GoogleTest $GTEST_VERSION" "$work/googletest-$GTEST_VERSION" -DBUILD_GMOCK=OFF \
    -Dgtest_disable_pthreads=OFF

  echo "Qt $QT_VERSION (static; the long part)"
  local qtstart=$SECONDS
  if stage_left qt-configure; then
    cmake -S "$work/qt6-base-$QT_VERSION+dfsg" -B "$work/b-qt" "${common[@]}" "${QT_OPTIONS[@]}" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      >"$work/qt-configure.log" 2>&1 || {
      tail -40 "$work/qt-configure.log" >&2
      exit 1
    }
    done_stage qt-configure
  fi
  cmake --build "$work/b-qt" -j "$jobs" >>"$work/qt-build.log" 2>&1 || {
    grep -m5 -B2 -A10 'error' "$work/qt-build.log" >&2
    exit 1
  }
  cmake --install "$work/b-qt" >/dev/null
  echo "Qt built in $(((SECONDS - qtstart) / 60)) min $(((SECONDS - qtstart) % 60)) s (this run)"

  rm -rf "$work"
  mv "$libs.partial" "$libs"
  local t=$((SECONDS - start))
  echo "$t" >"$libs/build-seconds"
  echo "Libraries built into $libs in $((t / 60)) min $((t % 60)) s"
}

if [ "$mode" = cached ]; then
  [ -f "$libs/build-seconds" ]
  exit
fi

# One build of the libraries at a time: a second run waits for the first and then uses its result.
mkdir -p "$cache_root"
exec 9>"$cache_root/win64.lock"
if ! flock -n 9; then
  echo "Another run is building the libraries into $cache_root; waiting for it"
  flock 9
fi
if [ -f "$libs/build-seconds" ]; then
  echo "Using the cached libraries in $libs (their last build run took $(($(cat "$libs/build-seconds") / 60)) min)"
else
  echo "No cached libraries in $libs: building them (about half an hour on two cores)"
  build_libs
fi
flock -u 9
[ "$mode" = libs ] && exit 0

# --- the programs --------------------------------------------------------------------------------
version=$(sed -n 's/^project(Kavun VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build=$root/build-win64
tests=OFF
[ "$mode" = tests ] && tests=ON
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
start=$SECONDS
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKAVUN_MINGW_PREFIX="$libs" \
  -DCMAKE_BUILD_TYPE=Release -DKAVUN_WERROR=ON -DKAVUN_BUILD_GUI=ON -DKAVUN_BUILD_TESTS=$tests \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQt6_DIR="$libs/lib/cmake/Qt6" -DGTest_DIR="$libs/lib/cmake/GTest" "${launcher[@]}" >/dev/null
targets=(kavun kavun-cli)
[ "$tests" = ON ] && targets+=(engine_tests imagefile_tests applogic_tests windows_tests kavun_app_test)
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
echo "Programs built in $((SECONDS - start)) s"

# Only Windows' own DLLs: no compiler runtime, no Qt, no picture library beside the programs.
system_dlls='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|shlwapi|ole32|oleaut32|comdlg32|'\
'comctl32|imm32|winmm|uxtheme|dwmapi|version|opengl32|msvcrt|ws2_32|d3d9|d3d11|d3d12|dxgi|'\
'dwrite|d2d1|setupapi|netapi32|userenv|wtsapi32|mpr|authz|rpcrt4|cfgmgr32|shcore|'\
'api-ms-win-[a-z0-9-]+)\.dll$'
for exe in kavun.exe kavun-cli.exe; do
  file=$(find "$build/src" -name "$exe" | head -1)
  dlls=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  foreign=$(grep -Ev "$system_dlls" <<<"$dlls" || true)
  if [ -n "$foreign" ]; then
    echo "$exe imports DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
  echo "$exe imports only Windows' DLLs: $(paste -sd' ' <<<"$dlls")"
done

# --- the zip -------------------------------------------------------------------------------------
name=kavun-$version-windows-x64
stage=$build/$name
rm -rf "$stage"
mkdir -p "$stage/licenses" dist
cp "$(find "$build/src" -name kavun.exe | head -1)" "$(find "$build/src" -name kavun-cli.exe | head -1)" "$stage/"
x86_64-w64-mingw32-strip "$stage"/*.exe
# Text files with Windows' line ends; the readme with a byte-order mark, so that every editor
# reads its Japanese as UTF-8.
crlf() { sed 's/\r*$/\r/' "$1"; }
{
  printf '\xef\xbb\xbf'
  crlf "$build/src/app/Readme.txt"
} >"$stage/Readme.txt"
crlf LICENSE >"$stage/LICENSE.txt"
for f in "$libs/licenses/"*; do crlf "$f" >"$stage/licenses/$(basename "$f")"; done
{
  cat <<NOTE
Kavun $version for Windows (x64): what the programs contain
=========================================================

kavun.exe and kavun-cli.exe are Kavun's own code (MIT licence, LICENSE.txt)
linked statically with these libraries. Their licences are in this folder.

- Qt $QT_VERSION (Qt Core, Gui, Widgets, Concurrent), under the GNU Lesser General
  Public License version 3 (Qt-LGPL-3.0.txt, which refers to Qt-GPL-3.0.txt).
  It was built from Debian's source package qt6-base, without changes to its
  code. Qt's bundled libraries that it links in are listed with their licences
  in the files named Qt-3rdparty-*; Qt-debian-copyright.txt lists every
  copyright holder of that source. Qt's Japanese texts (qtbase_ja.qm, from
  Qt's translations, Debian's package qt6-translations-l10n) are built into
  kavun.exe under the same licence.
- libpng $PNG_VERSION (libpng-LICENSE.txt), from Debian's source package libpng1.6.
- libjpeg-turbo $JPEG_VERSION (libjpeg-turbo-LICENSE.md, libjpeg-turbo-README.ijg):
  "this software is based in part on the work of the Independent JPEG Group".
- zlib $ZLIB_VERSION (zlib-LICENSE.txt), from Debian's source package zlib.

The exact Debian source packages: $(paste -sd' ' "$libs/debian-source-versions.txt" 2>/dev/null)

Where the source is
-------------------
- Qt, libpng, libjpeg-turbo and zlib: Debian 12's source packages of the
  versions above, from any Debian archive ("apt-get source qt6-base" and so on),
  or from the projects themselves. On request we send you the same source on a
  medium of your choice.
- Kavun: the source of this release, with the script that built this zip
  (scripts/windows-build.sh), is published with it.

Relinking Qt (LGPL-3, section 4d0)
----------------------------------
The programs are linked statically. To use a changed Qt, build Qt from the source
above with the same options (scripts/windows-build.sh lists them), then build
Kavun against it with that same script: the result replaces these programs.
NOTE
} | sed 's/\r*$/\r/' >"$stage/licenses/README.txt"
rm -f "dist/$name.zip"
(cd "$build" && zip -qr9 "$root/dist/$name.zip" "$name")
echo "Made dist/$name.zip ($(du -k "dist/$name.zip" | cut -f1) KiB): $(cd "$stage" && find . -type f | sort | sed 's|^\./||' | paste -sd' ')"
