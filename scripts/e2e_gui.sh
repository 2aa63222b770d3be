#!/usr/bin/env bash
# End-to-end test of the installed desktop program on a real X server (Xvfb) driven by real
# input (xdotool). Two ways through the same job:
#   by mouse (the default): open the sample picture through "ファイル" > "開く", drag a
#   selection on the image, press "実行" (default reversible mosaic 16x16, keys 3,7, encode),
#   "上書き保存" answered with Yes, "ファイル" > "終了";
#   by keyboard (--keys): Ctrl+O, the path typed and Return; Ctrl+A, then Shift+arrows to
#   shrink the selection and arrows to move it; Ctrl+Return; Ctrl+S answered with Return;
#   Ctrl+Q;
# then checks that the program has ended, that the saved picture is exactly the original
# scrambled inside the selection (compared with kavun-cli's result and pixel by pixel), that
# kavun-cli restores the original pixels, and that the settings file beside the executable was
# written at exit. The steps and checks are in scripts/lib/e2e.sh.
#
#   bash scripts/e2e_gui.sh [--keys]
# The traps call some functions below.
# shellcheck disable=SC2317
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

BUILD=${KAVUN_E2E_BUILD_DIR:-build}
LIMIT_SECONDS=${KAVUN_E2E_LIMIT:-180}

MODE=mouse
case "${1:-}" in
  --keys) MODE=keys ;;
  --gui-phase) MODE=$3 ;; # the second run of this script, under the time limit
esac

# The selection, in image pixels (left/top inclusive, right/bottom exclusive). By mouse: whole
# 16x16 blocks over the coloured panel of the sample picture, dragged. By keyboard: the whole
# 240x160 picture shrunk by 32 pixels each way, then moved 16 right and 16 down.
if [ "$MODE" = keys ]; then
  SEL_L=16 SEL_T=16 SEL_R=224 SEL_B=144
else
  SEL_L=96 SEL_T=16 SEL_R=224 SEL_B=112
fi

# ----------------------------------------------------------------------------------------------
# The two ways through the job.

by_mouse() {
  # --- Open through the menu ---
  run_menu_item 1 # "開く": the first item
  type_path_into_open_dialog

  # --- Find the image on the screen and drag the selection ---
  locate_image
  local x0=$((IMG_SX + SEL_L)) y0=$((IMG_SY + SEL_T)) x1=$((IMG_SX + SEL_R)) y1=$((IMG_SY + SEL_B))
  move_to "$x0" "$y0"
  sleep 0.2
  xdo mousedown 1
  local i
  for i in 1 2 3 4 5 6 7; do
    move_to $((x0 + (x1 - x0) * i / 8)) $((y0 + (y1 - y0) * i / 8))
    sleep 0.05
  done
  move_to "$x1" "$y1"
  sleep 0.2
  xdo mouseup 1
  sleep 0.3
  log "dragged ($x0,$y0) -> ($x1,$y1) on the screen: image rect $SEL_L,$SEL_T,$SEL_R,$SEL_B"

  # --- "実行": the button sits in the left column; its place follows from the view's corner ---
  local screen_before
  screen_before=$(screen_pixels_in_selection)
  move_to "$EXEC_X" "$EXEC_Y"
  xdo click 1
  wait_for_execute "$screen_before"

  # --- "上書き保存", answered with Yes ---
  cp "$PIC" "$WORK/before-save.png"
  run_menu_item 4 # 開く, 閉じる, 同じファイルを開きなおす, 上書き保存
  answer_overwrite_question

  # --- "終了" ---
  run_menu_item 6
  wait_for_exit
}

by_keyboard() {
  focus_window "$WIN"
  xdo key ctrl+o
  type_path_into_open_dialog

  # The view has the focus once a picture is open: the arrows act on the selection there.
  locate_image
  focus_window "$WIN"
  xdo key ctrl+a
  local keys=() i
  for ((i = 0; i < 32; i++)); do keys+=(shift+Left shift+Up); done
  for ((i = 0; i < 16; i++)); do keys+=(Right Down); done
  xdo key --delay 20 "${keys[@]}"
  sleep 0.3
  log "selected by keys: image rect $SEL_L,$SEL_T,$SEL_R,$SEL_B"

  local screen_before
  screen_before=$(screen_pixels_in_selection)
  xdo key ctrl+Return
  wait_for_execute "$screen_before"

  cp "$PIC" "$WORK/before-save.png"
  focus_window "$WIN"
  xdo key ctrl+s
  answer_overwrite_question

  focus_window "$WIN"
  xdo key ctrl+q
  wait_for_exit
}

# ----------------------------------------------------------------------------------------------
# Phase 2 (under a time limit): the X server, the program, the job and the checks.

gui_phase() {
  TMP=$1
  INST=$TMP/inst
  WORK=$TMP/work
  FAILDIR=$ROOT/$BUILD/e2e-failure
  KAVUN_PID=
  XVFB_PID=
  WIN=
  PIC=$WORK/pic.png
  CLI=$INST/bin/kavun-cli
  # shellcheck source=scripts/lib/e2e.sh
  source "$ROOT/scripts/lib/e2e.sh"

  on_exit() {
    local rc=$?
    if [ "$rc" -ne 0 ]; then
      echo "e2e: FAILED (exit $rc)" >&2
      show_state >&2 || true
    fi
    stop_pid "$KAVUN_PID"
    stop_pid "$XVFB_PID"
    rm -f "$TMP/kavun.pid" "$TMP/xvfb.pid"
    exit "$rc"
  }
  trap on_exit EXIT
  trap 'exit 143' TERM INT

  mkdir -p "$WORK" "$TMP/fb" "$TMP/home" "$TMP/runtime"
  chmod 700 "$TMP/runtime"
  export HOME=$TMP/home XDG_CONFIG_HOME=$TMP/home/.config XDG_RUNTIME_DIR=$TMP/runtime
  export NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0 LC_ALL=C.UTF-8

  # The test picture: the committed 240x160 24-bit sample.
  cp "$ROOT/samples/kavun-sample.png" "$PIC"
  cp "$PIC" "$WORK/orig.png"
  log "picture $PIC: $(pixels --size "$PIC" | tr ' ' x)"

  start_xvfb
  start_kavun

  if [ "$MODE" = keys ]; then by_keyboard; else by_mouse; fi

  check_results
  rm -rf "$FAILDIR" # what an earlier failed run kept
  log "PASS ($MODE)"
}

if [ "${1:-}" = "--gui-phase" ]; then
  gui_phase "$2"
  exit 0
fi

# ----------------------------------------------------------------------------------------------
# Phase 1: build and install, then phase 2 under the time limit.

for tool in Xvfb xdotool cmake timeout cmp; do
  command -v "$tool" >/dev/null || {
    echo "e2e: $tool is missing (bash scripts/deps.sh installs it)" >&2
    exit 1
  }
done

TMP=$(mktemp -d "${TMPDIR:-/tmp}/kavun-e2e.XXXXXX")
cleanup() {
  local f
  # Processes left behind if the time limit had to kill phase 2 outright.
  for f in "$TMP/kavun.pid" "$TMP/xvfb.pid"; do
    if [ -f "$f" ]; then kill -9 "$(cat "$f")" 2>/dev/null || true; fi
  done
  rm -rf "$TMP"
}
trap cleanup EXIT

started=$SECONDS
cmake -S . -B "$BUILD" -G Ninja >/dev/null
# kavun_screenshot, the tests' own tool, reads the pixels of the pictures and of the screen.
cmake --build "$BUILD" -j "${KAVUN_E2E_JOBS:-$(nproc)}" --target kavun kavun-cli kavun_data \
  kavun_screenshot
cmake --install "$BUILD" --prefix "$TMP/inst" >/dev/null
echo "e2e: built and installed in $((SECONDS - started)) s"

started=$SECONDS
status=0
timeout --kill-after=10 "$LIMIT_SECONDS" bash "$0" --gui-phase "$TMP" "$MODE" || status=$?
[ "$status" -ne 124 ] || echo "e2e: FAILED: time limit of $LIMIT_SECONDS s reached" >&2
echo "e2e: GUI phase took $((SECONDS - started)) s"
exit "$status"
