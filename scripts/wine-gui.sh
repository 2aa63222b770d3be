#!/usr/bin/env bash
# kavun.exe from the Windows zip, as a user would run it: unpacked into an empty folder and
# started under wine64 on an X server (Xvfb) with the windows platform. A picture named
# 写真_テスト.png is opened through the file dialog, saved as it is, scrambled over its whole
# area and saved, restored by the inverse and saved again: the restored file must equal the first
# save byte for byte. The program is then ended by 終了 (Ctrl+Q), which must write kavun.ini
# beside kavun.exe with its [Setup] keys.
#   scripts/wine-gui.sh [--screenshot FILE]   FILE: the main window with the scrambled picture
#                                             (needs ImageMagick's convert)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
# shellcheck source=scripts/lib/wait_until.sh
source scripts/lib/wait_until.sh

shot=
[ "${1:-}" = --screenshot ] && shot=$(realpath -m "$2")
zip=$(find dist -name 'kavun-*-windows-x64.zip' | sort | tail -1)
[ -n "$zip" ] || {
  echo "No Windows zip in dist/: run scripts/windows-build.sh first" >&2
  exit 1
}
for tool in Xvfb xdotool unzip; do
  command -v "$tool" >/dev/null || {
    echo "wine-gui: $tool is missing" >&2
    exit 1
  }
done
export WINEPREFIX=${WINEPREFIX:-${KAVUN_CACHE:-$HOME/.cache/kavun}/wine64-prefix} WINEDEBUG=-all
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# A server left from programs run without this X display would keep their desktop: a new one.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true

tmp=$(mktemp -d)
xvfb_pid=
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "wine-gui: $*" >&2
  if [ -n "${KAVUN_WINE_GUI_DEBUG:-}" ]; then
    for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
      xwd -id "$w" -silent >"$KAVUN_WINE_GUI_DEBUG-$w.xwd" 2>/dev/null || true
    done
  fi
  exit 1
}
log() { echo "wine-gui: $*"; }

Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp 5>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_until 10 test -s "$tmp/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$tmp/display")

(cd "$tmp" && unzip -q "$ROOT/$zip")
app=$(find "$tmp" -maxdepth 2 -name kavun.exe -printf '%h\n')
picture=$app/写真_テスト.png
cp tests/data/pngsuite/basn2c08.png "$picture"

# Started in its own folder, as Explorer starts a program: the file dialog opens there.
cd "$app"
"$wine" kavun.exe >"$tmp/kavun.log" 2>&1 &
kavun_pid=$!
cd "$ROOT"
window_named() { xdotool search --name "$1" 2>/dev/null | head -1; }
has_window() { [ -n "$(window_named "$1")" ]; }
# wine's first start in a fresh prefix takes a while.
wait_until 180 has_window '^Kavun$' || fail "no main window: $(cat "$tmp/kavun.log")"
main=$(window_named '^Kavun$')
log "main window shown"
key() {
  xdotool windowfocus --sync "$main" 2>/dev/null || true
  xdotool key "$@"
  sleep 0.5
}
# A dialog with the given title answered by Return (its default button).
answer() {
  wait_until 20 has_window "$1" || fail "no \"$1\" box"
  local w
  w=$(window_named "$1")
  xdotool windowfocus --sync "$w" 2>/dev/null || true
  xdotool key --window "$w" Return
  sleep 0.5
}
file_changed() { ! cmp -s "$1" "$2"; }

# Open through the dialog: from its name field back to the list of files, whose last entry is
# the picture (the folder of licences comes first; the filter hides the other files).
key ctrl+o
wait_until 20 has_window '^開く$' || fail "the open dialog did not come"
dialog=$(window_named '^開く$')
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
sleep 3 # the list is filled in the background
for k in shift+Tab End Return; do
  xdotool key "$k"
  sleep 0.5
done
wait_until 20 has_window '写真_テスト\.png' || fail "the picture did not open"
main=$(window_named '写真_テスト\.png')
log "opened: $(xdotool getwindowname "$main")"

cp "$picture" "$tmp/original.png"
save() { # the file it must differ from
  key ctrl+s
  answer '^確認$'
  wait_until 20 file_changed "$picture" "$1" || fail "上書き保存 wrote nothing"
}
save "$tmp/original.png"
cp "$picture" "$tmp/first-save.png"
key ctrl+a
key ctrl+Return
save "$tmp/first-save.png"
cp "$picture" "$tmp/scrambled.png"
log "scrambled and saved"
if [ -n "$shot" ]; then
  xwd -id "$main" -silent | convert xwd:- "$shot"
  log "screenshot: $shot"
fi
# 逆変換: the panel's lowest radio button (its place in the window as designed).
xdotool mousemove --window "$main" 14 354 click 1
sleep 0.5
key ctrl+Return
save "$tmp/scrambled.png"
cmp "$picture" "$tmp/first-save.png" || fail "the restored file differs from the first save"
log "restored bit for bit"

key ctrl+q
wait_until 30 bash -c "! kill -0 $kavun_pid 2>/dev/null" || fail "kavun.exe did not end"
grep -q '^\[Setup\]' "$app/kavun.ini" 2>/dev/null || fail "kavun.ini has no [Setup] beside kavun.exe"
log "kavun.ini written beside kavun.exe: $(grep -c '=' "$app/kavun.ini") keys"
echo "wine-gui: passed"
