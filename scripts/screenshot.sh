#!/usr/bin/env bash
# Writes docs/screenshot.png: the main window under Xvfb with a picture open at 300 %.
#   scripts/screenshot.sh [BUILD_DIR] [PICTURE]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
picture=${2:-samples/kavun-sample.png}
cmake --build "$build" --target kavun_screenshot
xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/app/kavun_screenshot" "$picture" docs/screenshot.png 3
echo "wrote docs/screenshot.png"
