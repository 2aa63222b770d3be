#!/usr/bin/env bash
# The Debian package as a user meets it (run as root, as CI does):
#   1. builds it (scripts/package.sh: lintian and the validators must pass) and installs it
#      with apt-get;
#   2. the installed kavun-cli scrambles and restores the sample picture (scripts/demo-cli.sh),
#      and its manual page is found;
#   3. the installed /usr/bin/kavun starts under Xvfb as an ordinary user (nobody, with a home
#      folder of its own): its settings go to that user's configuration folder, since
#      /usr/bin is not writable for it; "ヘルプ" > "Readme.txt" opens the installed readme
#      (xdg-open is replaced by a stand-in that records what it was given); "ファイル" >
#      "終了" ends it with status 0 and the settings written;
#   4. removes the package again (purge) and checks that its files are gone.
#
#   bash scripts/ci-package.sh
#
# Needs root (apt-get, setpriv), Xvfb and xdotool (scripts/deps.sh installs them).

# Functions below run through wait_until and traps.
# shellcheck disable=SC2317
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

log() { echo "ci-package: $*"; }
fail() {
  echo "ci-package: FAILED: $*" >&2
  exit 1
}
# shellcheck source=scripts/lib/wait_until.sh
source scripts/lib/wait_until.sh

[ "$(id -u)" -eq 0 ] || fail "run as root: it installs and removes the package"

# --- 1. Build and install ---------------------------------------------------------------------
bash scripts/package.sh
version=$(sed -n 's/^project(Kavun VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
deb=./kavun_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb
export DEBIAN_FRONTEND=noninteractive
apt-get install -y "$deb"
log "installed $deb: $(dpkg-query -W -f='${Package} ${Version} ${Status}' kavun)"

TMP=$(mktemp -d "${TMPDIR:-/tmp}/kavun-ci-package.XXXXXX")
KAVUN_PID=
XVFB_PID=
cleanup() {
  local rc=$? pid
  for pid in $KAVUN_PID $XVFB_PID; do
    kill "$pid" 2>/dev/null || true
  done
  if [ "$rc" -ne 0 ] && [ -f "$TMP/kavun.log" ]; then
    echo "--- the program's output:" >&2
    cat "$TMP/kavun.log" >&2
  fi
  rm -rf "$TMP"
  # The package goes again whatever happened.
  if dpkg-query -W -f='${Status}' kavun 2>/dev/null | grep -q 'install ok installed'; then
    apt-get remove --purge -y kavun >/dev/null || true
  fi
  exit "$rc"
}
trap cleanup EXIT

# --- 2. The command-line program --------------------------------------------------------------
[ "$(command -v kavun-cli)" = /usr/bin/kavun-cli ] || fail "kavun-cli is not /usr/bin/kavun-cli"
bash scripts/demo-cli.sh /usr/bin/kavun-cli
for page in kavun kavun-cli; do
  [ -f "/usr/share/man/man1/$page.1.gz" ] || fail "the manual page $page(1) is missing"
  if command -v man >/dev/null; then
    man -P cat "$page" 2>/dev/null | grep -q "^NAME" || fail "man $page shows no page"
  fi
done
log "kavun-cli demo passed; manual pages kavun(1) and kavun-cli(1) present"

# --- 3. The desktop program as an ordinary user -----------------------------------------------
chmod 755 "$TMP"
home=$TMP/home
mkdir -p "$home" "$TMP/runtime" "$TMP/bin"
chown nobody:nogroup "$home" "$TMP/runtime"
chmod 700 "$TMP/runtime"
# The stand-in for xdg-open, which Qt runs to open a document: it writes down its argument.
cat >"$TMP/bin/xdg-open" <<'EOF'
#!/bin/sh
printf '%s\n' "$1" >>"$HOME/opened.txt"
EOF
chmod 755 "$TMP/bin/xdg-open"

Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$TMP/display" >"$TMP/xvfb.log" 2>&1 &
XVFB_PID=$!
wait_until 10 test -s "$TMP/display" || fail "Xvfb did not start: $(cat "$TMP/xvfb.log")"
DISPLAY=:$(head -n 1 "$TMP/display")
export DISPLAY

# Started from the user's home folder, as a desktop menu starts it: no Readme.txt there.
(cd "$home" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -i HOME="$home" XDG_RUNTIME_DIR="$TMP/runtime" PATH="$TMP/bin:/usr/bin:/bin" \
  DISPLAY="$DISPLAY" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0 \
  /usr/bin/kavun) >"$TMP/kavun.log" 2>&1 &
KAVUN_PID=$!

main_window() { xdotool search --onlyvisible --pid "$KAVUN_PID" --name '^Kavun$' 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(main_window)" ]; }
wait_until 20 window_shown || fail "the main window of /usr/bin/kavun did not appear"
WIN=$(main_window)
ini=$home/.config/kavun/kavun.ini
wait_until 5 test -f "$ini" || fail "no settings file in the user's configuration folder ($ini)"
[ "$(stat -c %U "$ini")" = nobody ] || fail "$ini does not belong to the user"
[ ! -e /usr/bin/kavun.ini ] || fail "/usr/bin/kavun.ini was written"
log "kavun runs as $(ps -o user= -p "$KAVUN_PID"); settings file $ini"

# Opens the menu bar's first menu ("ファイル") with a click and types KEYS... in it.
menu_keys() {
  local X Y
  eval "$(xdotool getwindowgeometry --shell "$WIN" | grep -E '^[XY]=')"
  xdotool windowfocus "$WIN" 2>/dev/null || true
  xdotool mousemove $((X + 20)) $((Y + 10)) click 1
  sleep 0.5
  xdotool key --delay 100 "$@"
}
opened() { [ -s "$home/opened.txt" ]; }

# "ヘルプ" comes just before the last menu ("編集", added after the designed ones): Left twice
# from the first one wraps round to it and opens it with its first item, "Readme.txt", chosen.
menu_keys Left Left Return
wait_until 10 opened || fail "Readme.txt in the help menu opened nothing"
readme=$(head -n 1 "$home/opened.txt")
[ "$readme" = file:///usr/share/doc/kavun/Readme.txt ] ||
  fail "Readme.txt in the help menu opened $readme, not the installed readme"
log "ヘルプ > Readme.txt opened $readme"

# "終了" is the last item of "ファイル": Up from no item wraps round to it.
menu_keys Up Return
process_gone() { ! kill -0 "$KAVUN_PID" 2>/dev/null; }
wait_until 10 process_gone || fail "kavun did not end after ファイル > 終了"
status=0
wait "$KAVUN_PID" || status=$?
KAVUN_PID=
[ "$status" -eq 0 ] || fail "kavun ended with status $status"
grep -q '^FormWidth=' "$ini" || fail "the settings were not written at exit: $(cat "$ini")"
[ ! -e /usr/bin/kavun.ini ] || fail "/usr/bin/kavun.ini was written"
log "kavun ended with status 0 and wrote its settings to $ini"

# --- 4. Remove --------------------------------------------------------------------------------
apt-get remove --purge -y kavun
for f in /usr/bin/kavun /usr/bin/kavun-cli /usr/share/doc/kavun /usr/share/metainfo/org.example.Kavun.metainfo.xml; do
  [ ! -e "$f" ] || fail "$f is still there after the package was removed"
done
log "package removed"
log "PASS in $((SECONDS - started)) s"
