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
# written at exit.
#
#   bash scripts/e2e_gui.sh [--keys]
#
# Many functions below run only through wait_until, traps or command substitution.
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
# Phase 2 (under a time limit): the X server, the program and the checks.

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
  to_bmp "$PIC" "$WORK/orig.bmp"
  read -r IMG_W IMG_H < <(bmp_size "$WORK/orig.bmp")
  log "picture $PIC: ${IMG_W}x${IMG_H}"

  start_xvfb
  start_kavun

  if [ "$MODE" = keys ]; then by_keyboard; else by_mouse; fi

  check_results
  rm -rf "$FAILDIR" # what an earlier failed run kept
  log "PASS ($MODE)"
}

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

# Waits for the open dialog, types the picture's path into it and waits for the caption.
type_path_into_open_dialog() {
  local dialog
  # Qt's own texts are Japanese (開く); "Open" where its translation is not installed.
  dialog=$(wait_for_window '^(開く|Open)$' 10) || fail "the open dialog did not appear"
  focus_window "$dialog"
  xdo type --delay 15 "$PIC"
  local expected="Kavun  \"$PIC\""
  local tries=0
  until [ "$(window_name "$WIN")" = "$expected" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 5 ] || fail "caption did not become $expected"
    # A completion list may take the first Return; press it again while the dialog is there.
    if window_exists "$dialog"; then
      focus_window "$dialog"
      xdo key Return
    fi
    sleep 1
  done
  log "opened: $(window_name "$WIN")"
}

wait_for_execute() {
  wait_until 10 screen_changed_from "$1" || fail "the image on the screen did not change after 実行"
  log "executed"
}

# The overwrite question ("確認"), answered with Return: Yes is its default button.
answer_overwrite_question() {
  local question
  question=$(wait_for_window '^確認$' 10) || fail "the overwrite question did not appear"
  focus_window "$question"
  xdo key Return
  wait_until 10 file_differs "$PIC" "$WORK/before-save.png" || fail "the picture was not saved"
  wait_until 5 window_gone "$question" || fail "the question stayed open"
  log "saved"
}

wait_for_exit() {
  wait_until 10 process_gone "$KAVUN_PID" || fail "the program did not end"
  local status=0
  wait "$KAVUN_PID" || status=$?
  KAVUN_PID=
  rm -f "$TMP/kavun.pid"
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
  log "exited"
}

# ----------------------------------------------------------------------------------------------
# Checks after the program has ended.

check_results() {
  local rect=$SEL_L,$SEL_T,$SEL_R,$SEL_B
  to_bmp "$PIC" "$WORK/saved.bmp"
  if cmp -s "$WORK/saved.bmp" "$WORK/orig.bmp"; then fail "the saved picture is unchanged"; fi

  # Every changed byte lies inside the selection.
  local offset stride
  read -r offset stride < <(bmp_layout "$WORK/saved.bmp")
  local outside
  # (cmp -l fails when the files differ, which they do.)
  outside=$(cmp -l "$WORK/orig.bmp" "$WORK/saved.bmp" | awk -v off="$offset" -v stride="$stride" \
    -v h="$IMG_H" -v l="$SEL_L" -v t="$SEL_T" -v r="$SEL_R" -v b="$SEL_B" '
      { p = $1 - 1 - off
        if (p < 0) { print "header byte " $1; next }
        row = int(p / stride); x = int((p % stride) / 3); y = h - 1 - row
        if (x < l || x >= r || y < t || y >= b) print "pixel " x "," y }' | head -5 || true)
  [ -z "$outside" ] || fail "pixels outside the selection changed: $outside"
  log "changes lie inside $rect"

  # The same transform by kavun-cli gives the same picture.
  "$CLI" mosaic "$WORK/orig.bmp" "$WORK/expected.bmp" --rect "$rect" --block 16x16 --keys 3,7
  cmp "$WORK/expected.bmp" "$WORK/saved.bmp" || fail "the saved picture differs from kavun-cli's"

  # Restoring gives back the original pixels.
  "$CLI" mosaic "$PIC" "$WORK/restored.bmp" --rect "$rect" --decode
  cmp "$WORK/restored.bmp" "$WORK/orig.bmp" || fail "the restored picture differs from the original"
  log "kavun-cli restores the original"

  # The settings written at exit, beside the installed executable, with CR LF line ends.
  local ini=$INST/bin/kavun.ini
  [ -f "$ini" ] || fail "$ini is missing"
  # [Setup] as designed, then the rectangle of the last Execute in its own section.
  printf '[Setup]\r\nisScrollTrack=0\r\nisShowSaveChkDlg=1\r\nisShowJpgSaveChkDlg=1\r\nFormWidth=594\r\nFormHeight=477\r\n\r\n[LastSelection]\r\nLeft=%d\r\nTop=%d\r\nRight=%d\r\nBottom=%d\r\n\r\n' \
    "$SEL_L" "$SEL_T" "$SEL_R" "$SEL_B" >"$WORK/expected.ini"
  if ! cmp -s "$ini" "$WORK/expected.ini"; then
    echo "--- $ini (od -c):" >&2
    od -c "$ini" >&2
    fail "the settings file is not as expected"
  fi
  log "settings file as expected"
}

# ----------------------------------------------------------------------------------------------
# The X server and the program.

start_xvfb() {
  # -fbdir keeps the screen in an XWD file: the test reads pixels from it to find the image.
  local args=(-screen 0 1024x768x24 -nolisten tcp -fbdir "$TMP/fb")
  if [ -n "${KAVUN_E2E_DISPLAY:-}" ]; then
    echo "$KAVUN_E2E_DISPLAY" >"$TMP/display"
    Xvfb ":$KAVUN_E2E_DISPLAY" "${args[@]}" >"$TMP/xvfb.log" 2>&1 &
  else
    # The server picks a free display itself and writes its number to descriptor 5: no race
    # with other X servers starting at the same time.
    Xvfb -displayfd 5 "${args[@]}" 5>"$TMP/display" >"$TMP/xvfb.log" 2>&1 &
  fi
  XVFB_PID=$!
  echo "$XVFB_PID" >"$TMP/xvfb.pid"
  wait_until 10 display_up || fail "Xvfb did not start: $(cat "$TMP/xvfb.log")"
  FB=$TMP/fb/Xvfb_screen0
  read_fb_header
  log "Xvfb on $DISPLAY ($FB_W x $FB_H)"
}

display_up() {
  kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb ended: $(cat "$TMP/xvfb.log")"
  local n
  n=$(head -n 1 "$TMP/display" 2>/dev/null || true)
  [ -n "$n" ] || return 1
  export DISPLAY=:$n
  xdo getdisplaygeometry >/dev/null 2>&1 && [ -s "$TMP/fb/Xvfb_screen0" ]
}

start_kavun() {
  rm -f "$INST/bin/kavun.ini"
  QT_QPA_PLATFORM=xcb "$INST/bin/kavun" >"$TMP/kavun.log" 2>&1 &
  KAVUN_PID=$!
  echo "$KAVUN_PID" >"$TMP/kavun.pid"
  WIN=$(wait_for_window '^Kavun$' 15) || fail "the main window did not appear"
  # The settings file is created (empty) at start.
  wait_until 5 test -f "$INST/bin/kavun.ini" || fail "no settings file at start"
  log "kavun (pid $KAVUN_PID) window $WIN: $(xdo getwindowgeometry "$WIN" | tr '\n' ' ')"
}

# Clicks "ファイル" on the menu bar and picks its n-th enabled item with the cursor keys.
run_menu_item() {
  local n=$1 x y
  read -r x y < <(window_position "$WIN")
  focus_window "$WIN"
  # The menu bar is the window's top row; "ファイル" is its first entry.
  move_to $((x + 20)) $((y + 10))
  xdo click 1
  wait_until 5 popup_shown || fail "the ファイル menu did not open"
  local keys=() i
  for ((i = 0; i < n; i++)); do keys+=(Down); done
  xdo key --delay 50 "${keys[@]}" Return
}

# The menu is a window of its own beside the main window.
popup_shown() { xdo search --onlyvisible --pid "$KAVUN_PID" 2>/dev/null | grep -vqx "$WIN"; }

# Finds the image's top-left corner on the screen by its pixels: the first screen pixel with the
# colour of image pixel (0,0), confirmed by the other three corners. Sets IMG_SX, IMG_SY and the
# centre of "実行" (EXEC_X, EXEC_Y).
locate_image() {
  wait_until 10 find_image || fail "the picture is not shown on the screen"
  local wx
  read -r wx _ < <(window_position "$WIN")
  # Layout: the 105-pixel column on the left, then the view's frame, then the image. "実行"
  # (89x32 at 6,72 in the column's upper panel, inside a 1-pixel frame and 1-pixel margin)
  # starts at the same height as the view's frame.
  local frame=$((IMG_SX - wx - 105))
  EXEC_X=$((wx + 2 + 6 + 44))
  EXEC_Y=$((IMG_SY - frame + 2 + 72 + 16))
  log "image at screen ($IMG_SX,$IMG_SY), view frame $frame px, 実行 at ($EXEC_X,$EXEC_Y)"
}

find_image() {
  local c0 line idx
  c0=$(bmp_pixel "$WORK/orig.bmp" 0 0)
  # (grep stops at the first hit, which ends od with SIGPIPE: the pipeline's status is ignored.)
  line=$(od -An -v -tx1 -w4 -j "$FB_DATA" "$FB" | grep -n -m1 "^ ${c0:4:2} ${c0:2:2} ${c0:0:2}" |
    cut -d: -f1 || true)
  [ -n "$line" ] || return 1
  idx=$((line - 1))
  IMG_SX=$((idx % (FB_STRIDE / 4)))
  IMG_SY=$((idx / (FB_STRIDE / 4)))
  local x y
  for x in 0 $((IMG_W - 1)); do
    for y in 0 $((IMG_H - 1)); do
      [ "$(fb_pixel $((IMG_SX + x)) $((IMG_SY + y)))" = "$(bmp_pixel "$WORK/orig.bmp" "$x" "$y")" ] ||
        return 1
    done
  done
}

# The screen pixels of the selection's inner part (the outline and the 10x10 corner handles
# are drawn on its edge).
screen_pixels_in_selection() {
  local y
  for ((y = IMG_SY + SEL_T + 12; y < IMG_SY + SEL_B - 12; y += 4)); do
    od -An -v -tx1 -j $((FB_DATA + y * FB_STRIDE + (IMG_SX + SEL_L + 12) * 4)) \
      -N $(((SEL_R - SEL_L - 24) * 4)) "$FB"
  done | md5sum
}

screen_changed_from() { [ "$(screen_pixels_in_selection)" != "$1" ]; }

# ----------------------------------------------------------------------------------------------
# Pixels: the Xvfb screen file (XWD: a big-endian header, a colour map, then 32-bit pixels) and
# BMP files written by kavun-cli (24 bits, bottom-up).

be32() { od -An -tu1 -j "$2" -N4 "$1" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'; }
le32() { od -An -tu1 -j "$2" -N4 "$1" | awk '{ v = (($4 * 256 + $3) * 256 + $2) * 256 + $1; if (v >= 2147483648) v -= 4294967296; print v }'; }

read_fb_header() {
  local header_size ncolors
  header_size=$(be32 "$FB" 0)
  FB_W=$(be32 "$FB" 16)
  FB_H=$(be32 "$FB" 20)
  [ "$(be32 "$FB" 44)" -eq 32 ] || fail "the screen file is not 32 bits per pixel"
  [ "$(be32 "$FB" 28)" -eq 0 ] || fail "the screen file is not LSB first"
  FB_STRIDE=$(be32 "$FB" 48)
  ncolors=$(be32 "$FB" 76)
  FB_DATA=$((header_size + ncolors * 12))
}

# fb_pixel X Y -> rrggbb
fb_pixel() {
  od -An -tx1 -j $((FB_DATA + $2 * FB_STRIDE + $1 * 4)) -N3 "$FB" | awk '{ print $3 $2 $1 }'
}

to_bmp() {
  # The identity mosaic (keys 1,0) changes no pixel: the picture is only read and written as a
  # 24-bit BMP. (An empty rectangle is refused: a mosaic without a whole block hides nothing.)
  "$CLI" mosaic "$1" "$2" --block 2x2 --keys 1,0
}

bmp_size() { echo "$(le32 "$1" 18) $(le32 "$1" 22)"; }

# bmp_layout FILE -> pixel data offset and row stride (24-bit, bottom-up only)
bmp_layout() {
  local bits height
  bits=$(od -An -tu2 -j 28 -N2 "$1" | tr -d ' ')
  height=$(le32 "$1" 22)
  if [ "$bits" -ne 24 ] || [ "$height" -le 0 ]; then fail "$1: expected a bottom-up 24-bit BMP"; fi
  echo "$(le32 "$1" 10) $((($(le32 "$1" 18) * 3 + 3) / 4 * 4))"
}

# bmp_pixel FILE X Y -> rrggbb
bmp_pixel() {
  local offset stride height
  read -r offset stride < <(bmp_layout "$1")
  height=$(le32 "$1" 22)
  od -An -tx1 -j $((offset + (height - 1 - $3) * stride + $2 * 3)) -N3 "$1" |
    awk '{ print $3 $2 $1 }'
}

# ----------------------------------------------------------------------------------------------
# Windows, processes and waiting.

log() { echo "e2e: $*"; }
# xdotool with a time limit, in case it waits for an X server that no longer answers.
xdo() {
  local rc=0
  timeout 10 xdotool "$@" || rc=$?
  [ "$rc" -ne 124 ] || fail "xdotool $* did not finish"
  return "$rc"
}
# Moves the pointer and gives the program time to see it (mousemove --sync waits forever when
# the pointer is already there).
move_to() {
  xdo mousemove "$1" "$2"
  sleep 0.1
}
fail() {
  echo "e2e: $*" >&2
  exit 1
}

# shellcheck source=scripts/lib/wait_until.sh
source "$ROOT/scripts/lib/wait_until.sh"

# wait_for_window REGEX SECONDS: prints the id of the program's visible window with that name.
wait_for_window() {
  local regex=$1 deadline=$((SECONDS + $2)) w
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$KAVUN_PID" 2>/dev/null || return 1
    for w in $(xdo search --onlyvisible --pid "$KAVUN_PID" 2>/dev/null); do
      if window_name "$w" | grep -Eq "$regex"; then
        echo "$w"
        return 0
      fi
    done
    sleep 0.2
  done
  return 1
}

window_name() { xdo getwindowname "$1" 2>/dev/null || true; }
window_exists() { xdo search --onlyvisible --pid "$KAVUN_PID" 2>/dev/null | grep -qx "$1"; }
window_gone() { ! window_exists "$1"; }
focus_window() {
  xdo windowfocus "$1" 2>/dev/null || true
  sleep 0.1
}
window_position() {
  xdo getwindowgeometry --shell "$1" | awk -F= '$1 == "X" { x = $2 } $1 == "Y" { y = $2 }
    END { print x, y }'
}
# Ended, or ended and not yet reaped (a zombie: state Z in /proc).
process_gone() {
  ! kill -0 "$1" 2>/dev/null || [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = Z ]
}
file_differs() { ! cmp -s "$1" "$2"; }

stop_pid() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  local i
  for i in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.2
  done
  kill -9 "$1" 2>/dev/null || true
}

# What the test saw, for a failed run.
show_state() {
  echo "--- windows of the program:"
  if [ -n "${KAVUN_PID:-}" ] && [ -n "${DISPLAY:-}" ]; then
    local w
    for w in $(xdo search --onlyvisible --pid "$KAVUN_PID" 2>/dev/null); do
      echo "  $w \"$(window_name "$w")\" $(xdo getwindowgeometry "$w" 2>/dev/null | tail -n +2 |
        tr -s ' \n' ' ')"
    done
  fi
  echo "--- program output:"
  cat "$TMP/kavun.log" 2>/dev/null || true
  rm -rf "$FAILDIR"
  mkdir -p "$FAILDIR"
  [ -s "${FB:-}" ] && cp "$FB" "$FAILDIR/screen.xwd"
  cp "$WORK"/* "$TMP/kavun.log" "$FAILDIR/" 2>/dev/null || true
  cp "$INST/bin/kavun.ini" "$FAILDIR/" 2>/dev/null || true
  echo "--- screen (XWD), output and pictures kept in $FAILDIR"
}

# ----------------------------------------------------------------------------------------------
# Phase 1: build and install, then phase 2 under the time limit.

if [ "${1:-}" = "--gui-phase" ]; then
  gui_phase "$2"
  exit 0
fi

for tool in Xvfb xdotool cmake timeout od cmp; do
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
cmake --build "$BUILD" -j "${KAVUN_E2E_JOBS:-$(nproc)}" --target kavun kavun-cli kavun_data
cmake --install "$BUILD" --prefix "$TMP/inst" >/dev/null
echo "e2e: built and installed in $((SECONDS - started)) s"

started=$SECONDS
status=0
timeout --kill-after=10 "$LIMIT_SECONDS" bash "$0" --gui-phase "$TMP" "$MODE" || status=$?
[ "$status" -ne 124 ] || echo "e2e: FAILED: time limit of $LIMIT_SECONDS s reached" >&2
echo "e2e: GUI phase took $((SECONDS - started)) s"
exit "$status"
