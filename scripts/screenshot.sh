#!/usr/bin/env bash
# Writes the pictures of the desktop program in docs/, under Xvfb with Qt's Japanese texts:
#   docs/screenshot.png       the main window with a picture open at 300 %, a selection scrambled
#   docs/selection-edge.png   a selection frame dragged past the edge of a small picture
#   docs/open-dialog.png      the open-picture dialog with its preview
#   scripts/screenshot.sh [BUILD_DIR] [PICTURE]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
picture=${2:-samples/kavun-sample.png}
cmake --build "$build" --target kavun_screenshot
shot() { LANG=ja_JP.UTF-8 xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/app/kavun_screenshot" "$@"; }
shot "$picture" docs/screenshot.png 3
shot --edge "$picture" docs/selection-edge.png
shot --open-dialog "$picture" docs/open-dialog.png
echo "wrote docs/screenshot.png, docs/selection-edge.png and docs/open-dialog.png"
