#!/usr/bin/env bash
# Builds the Debian package kavun_<version>_<arch>.deb in the repository's folder, then checks
# it with lintian, appstreamcli and desktop-file-validate:
#
#   bash scripts/package.sh
#   sudo apt-get install ./kavun_*.deb
#
# Installs what is missing, makes a Release build in build-pkg/ with Debian's hardening flags,
# installs it with cmake --install (prefix /usr) into build-pkg/deb/debian/kavun, strips the
# programs and adds the Debian files: the copyright file, the changelog and DEBIAN/control,
# whose Depends come from dpkg-shlibdeps. Exits non-zero when the build fails, lintian reports
# an error or a validator fails.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/deps.sh
# The tools of packaging and its checks; rsvg-convert renders the PNG icons.
tools=(dpkg-dev lintian appstream desktop-file-utils librsvg2-bin)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  SUDO=()
  [ "$(id -u)" -eq 0 ] || SUDO=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" bash scripts/apt-update.sh
  "${SUDO[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

version=$(sed -n 's/^project(Kavun VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt's project()" >&2; exit 1; }
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
deb=kavun_${version}_${arch}.deb
build="build-pkg"
# The package's tree, in the place dpkg-shlibdeps expects it (debian/PACKAGE beside a
# debian/control).
debdir=$ROOT/$build/deb
stage=$debdir/debian/kavun
# File times and the changelog's date come from the last commit: the same commit gives the
# same package.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH

# Debian's compiler and linker flags with every hardening feature (stack protector, fortify,
# relro, bind now), given
# on every configure: CMake reads the environment's CFLAGS only when it creates its cache.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# A tree without the KAVUN_WERROR switch turns every warning into an error; GCC 12's false
# -Wrestrict alarm at -O3 must not stop a packager's build there.
grep -q KAVUN_WERROR CMakeLists.txt || cxxflags+=" -Wno-error=restrict"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVUN_BUILD_GUI=ON \
  -DKAVUN_BUILD_TESTS=OFF -DKAVUN_BUILD_BENCH=OFF -DKAVUN_WERROR=OFF \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -rf "$debdir"
umask 022
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
# Stripped as Debian's own packages are: no symbols, no compiler notes.
strip --remove-section=.comment --remove-section=.note --strip-unneeded \
  "$stage/usr/bin/kavun" "$stage/usr/bin/kavun-cli"

# The Debian files: copyright and changelog in the documentation folder. The copyright file
# carries the licence, so the LICENSE of a plain installation is left out.
doc=$stage/usr/share/doc/kavun
rm -f "$doc/LICENSE"
install -m 644 packaging/copyright "$doc/copyright"
{
  echo "kavun ($version) unstable; urgency=medium"
  echo
  echo "  * Kavun $version, packaged from the project's own build."
  echo
  echo " -- Kavun Project <kavun@example.org>  $(date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"
chmod 644 "$doc/changelog.gz"

for f in usr/bin/kavun usr/bin/kavun-cli usr/share/man/man1/kavun-cli.1.gz \
  usr/share/icons/hicolor/256x256/apps/kavun.png usr/share/metainfo/org.example.Kavun.metainfo.xml; do
  [ -e "$stage/$f" ] || { echo "package: $f is missing from the installation" >&2; exit 1; }
done

# Depends: the shared libraries of both programs, as dpkg-shlibdeps finds them. It only needs
# a debian/control to exist; an empty one serves.
: >"$debdir/debian/control"
depends=$(cd "$debdir" && dpkg-shlibdeps -O debian/kavun/usr/bin/kavun debian/kavun/usr/bin/kavun-cli |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "package: dpkg-shlibdeps found no dependency" >&2; exit 1; }

mkdir -p "$stage/DEBIAN"
installed_size=$(du -s -k --apparent-size "$stage/usr" | cut -f1)
cat >"$stage/DEBIAN/control" <<EOF
Package: kavun
Version: $version
Architecture: $arch
Maintainer: Kavun Project <kavun@example.org>
Installed-Size: $installed_size
Depends: $depends
Recommends: qt6-translations-l10n, fonts-noto-cjk
Section: graphics
Priority: optional
Homepage: https://kavun.example.org/
Description: reversible scrambling of a rectangle of a picture
 Kavun hides part of a PNG, JPEG or BMP picture in a way that can be undone
 bit for bit. Drag a rectangle over the part to hide, choose one of three
 transforms and run it; the same settings on the same rectangle give back the
 original pixels:
  - reversible mosaic: the pixels of every block are shuffled by a keyed order;
  - bit shift: every row of the selection is rotated by 1 to 23 bits;
  - XOR with a key stream made from a password.
 .
 The package holds the desktop program kavun, whose interface is Japanese, and
 the command-line program kavun-cli, which runs the same transforms from
 scripts and batch jobs.
EOF
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

rm -f "$deb"
dpkg-deb --root-owner-group --build "$stage" "$deb" >/dev/null
echo "package: built $ROOT/$deb"

# The checks. lintian's errors fail the build; its warnings are shown.
status=0
echo "--- lintian $deb"
lintian --fail-on error --display-info "$deb" || status=1
echo "--- appstreamcli validate (no network: the screenshot's address is not fetched)"
appstreamcli validate --no-net --pedantic "$stage/usr/share/metainfo/org.example.Kavun.metainfo.xml" ||
  status=1
echo "--- desktop-file-validate"
if desktop-file-validate "$stage/usr/share/applications/org.example.Kavun.desktop"; then
  echo "OK"
else
  status=1
fi
[ "$status" -eq 0 ] || { echo "package: a check failed" >&2; exit "$status"; }
echo "package: $deb passed lintian, appstreamcli and desktop-file-validate"
