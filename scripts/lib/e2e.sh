# shellcheck shell=bash
# The steps of the end-to-end test of the desktop program (scripts/e2e_gui.sh): the X server,
# the program, its windows, the waits, and the checks of the pictures and of the screen, whose
# pixels the test's own tool reads (kavun_screenshot, tests/app/tools/screen_pixels.h).
#
# The caller sets ROOT, BUILD, TMP, INST, WORK, PIC, CLI and the selection SEL_L, SEL_T, SEL_R,
# SEL_B (image pixels, right and bottom exclusive) before it calls them.

# Many functions below run only through wait_until, traps or command substitution.
# shellcheck disable=SC2317

# shellcheck source=scripts/lib/wait_until.sh
source "$ROOT/scripts/lib/wait_until.sh"

log() { echo "e2e: $*"; }
fail() {
  echo "e2e: $*" >&2
  exit 1
}
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
# The pixel reader: kavun_screenshot --size | --find-on-screen | --screen-digest |
# --changes-inside ...
pixels() { "$ROOT/$BUILD/tests/app/kavun_screenshot" "$@"; }

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
  log "Xvfb on $DISPLAY"
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
  local attempt
  for attempt in 1 2; do
    rm -f "$INST/bin/kavun.ini"
    QT_QPA_PLATFORM=xcb "$INST/bin/kavun" >"$TMP/kavun.log" 2>&1 &
    KAVUN_PID=$!
    echo "$KAVUN_PID" >"$TMP/kavun.pid"
    WIN=$(wait_for_window '^Kavun$' 15) && break
    # A server just started has once refused the program's first connection (while xdotool's
    # had been taken): that is the X server's, not the program's, so it gets a second start.
    if [ "$attempt" = 1 ] && grep -q 'could not connect to display' "$TMP/kavun.log"; then
      log "the program could not reach $DISPLAY; starting it again"
      wait "$KAVUN_PID" 2>/dev/null || true
      sleep 1
      continue
    fi
    fail "the main window did not appear"
  done
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

# ----------------------------------------------------------------------------------------------
# Steps both ways through the job take.

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
# The picture on the screen.

# Finds the image's top-left corner on the screen by its pixels. Sets IMG_SX, IMG_SY and the
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
  local at
  at=$(pixels --find-on-screen "$FB" "$WORK/orig.png") || return 1
  read -r IMG_SX IMG_SY <<<"$at"
}

# A digest of the screen pixels of the selection's inner part (the outline and the 10x10
# corner handles are drawn on its edge).
screen_pixels_in_selection() {
  pixels --screen-digest "$FB" $((IMG_SX + SEL_L + 12)) $((IMG_SY + SEL_T + 12)) \
    $((IMG_SX + SEL_R - 12)) $((IMG_SY + SEL_B - 12))
}

screen_changed_from() { [ "$(screen_pixels_in_selection)" != "$1" ]; }

# ----------------------------------------------------------------------------------------------
# Checks after the program has ended.

to_bmp() {
  # The identity mosaic (keys 1,0) changes no pixel: the picture is only read and written as a
  # 24-bit BMP. (An empty rectangle is refused: a mosaic without a whole block hides nothing.)
  "$CLI" mosaic "$1" "$2" --block 2x2 --keys 1,0
}

check_results() {
  local rect=$SEL_L,$SEL_T,$SEL_R,$SEL_B why
  # The saved picture changed, and only inside the selection.
  why=$(pixels --changes-inside "$WORK/orig.png" "$PIC" "$rect") || fail "saved picture: $why"
  log "changes lie inside $rect"

  # The same transform by kavun-cli gives the same picture.
  to_bmp "$WORK/orig.png" "$WORK/orig.bmp"
  to_bmp "$PIC" "$WORK/saved.bmp"
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
# Windows, processes and waiting.

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
