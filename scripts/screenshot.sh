#!/usr/bin/env bash
# Writes the pictures of the desktop program in docs/, under Xvfb with Qt's Japanese texts:
#   docs/screenshot.png       the main window with a picture open at 300 %, a selection scrambled
#   docs/selection-edge.png   a selection frame dragged past the edge of a small picture
#   docs/open-dialog.png      the open-picture dialog with its preview
#   docs/frame-on-noise-100.png, docs/frame-on-noise-1000.png
#                             the selection frame on a scrambled part of PHOTO at 100 % and 1000 %
#   docs/mosaic-clear-strips.png  the strips of a selection that no whole mosaic block covers
#   docs/about-box.png        the About box over the main window under openbox (Debian package
#                             openbox), after the main window was raised
#   scripts/screenshot.sh [BUILD_DIR] [PICTURE] [PHOTO]
# PHOTO is a photograph (noise shows on one as it does for a user); default: PICTURE. The
# pictures are reduced to 256 colours with pngquant when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
picture=${2:-samples/kavun-sample.png}
photo=${3:-$picture}
cmake --build "$build" --target kavun_screenshot
shot() { LANG=ja_JP.UTF-8 xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/app/kavun_screenshot" "$@"; }
shot "$picture" docs/screenshot.png 3
shot --edge "$picture" docs/selection-edge.png
shot --open-dialog "$picture" docs/open-dialog.png
shot --frame "$photo" docs/frame-on-noise-100.png 1
shot --frame "$photo" docs/frame-on-noise-1000.png 10
shot --mosaic-strips "$photo" docs/mosaic-clear-strips.png
LANG=ja_JP.UTF-8 xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
  'openbox >/dev/null 2>&1 & sleep 2; exec "$0" --about "$1" docs/about-box.png' \
  "$build/tests/app/kavun_screenshot" "$photo"
if command -v pngquant >/dev/null; then
  for f in docs/frame-on-noise-100.png docs/frame-on-noise-1000.png docs/mosaic-clear-strips.png \
    docs/about-box.png; do
    pngquant --force --skip-if-larger --output "$f" 256 -- "$f" || true
  done
fi
echo "wrote the pictures in docs/"
