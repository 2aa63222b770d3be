#!/usr/bin/env bash
# Runs the Windows build's test programs under wine64: the engine, the file layer and the
# window's logic as on Linux, and tests/windows (wide file names, the read-only attribute, files
# held open by another handle, ReplaceFileW). Then kavun-cli.exe on a file with a Japanese name.
# Builds them first when missing (scripts/windows-build.sh --tests).
#   scripts/wine-test.sh [BUILD_DIR]     default build-win64
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-win64}
programs=(engine imagefile applogic windows kavun_app)
for p in "${programs[@]}"; do
  [ -n "$(find "$build/tests" -name "${p}_test*.exe" 2>/dev/null)" ] || {
    bash scripts/windows-build.sh --tests
    break
  }
done
export WINEPREFIX=${WINEPREFIX:-${KAVUN_CACHE:-$HOME/.cache/kavun}/wine64-prefix} WINEDEBUG=-all
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
echo "$("$wine" --version)"
# Debian's wine64 keeps its programs in /usr/lib/wine when the wine package is not installed.
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -p 2>/dev/null || true # one server for every program
trap '"$wineserver" -k 2>/dev/null || true' EXIT

passed=0 failed=0
for p in "${programs[@]}"; do
  exe=$(find "$build/tests" -name "${p}_test*.exe" | head -1)
  log=$(mktemp)
  if QT_QPA_PLATFORM=offscreen "$wine" "$exe" --gtest_brief=1 >"$log" 2>&1; then :; fi
  n=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log")
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log")
  if [ -z "$n" ] && [ -z "$f" ]; then
    cat "$log"
    echo "$(basename "$exe") did not finish" >&2
    f=1
  fi
  [ -n "$f" ] && grep -E '^\[  FAILED  \]|Failure|error' "$log" | head -40
  echo "$(basename "$exe") under wine: ${n:-0} passed, ${f:-0} failed"
  passed=$((passed + ${n:-0}))
  failed=$((failed + ${f:-0}))
  rm -f "$log"
done

# kavun-cli.exe takes and names a Japanese file name (UTF-16 arguments, UTF-8 messages).
cli=$(realpath "$(find "$build/src/cli" -name kavun-cli.exe | head -1)")
work=$(mktemp -d)
cp tests/data/pngsuite/basn2c08.png "$work/写真_テスト.png"
cli_ok=1
(cd "$work" && "$wine" "$cli" mosaic 写真_テスト.png 出力.png --block 8x8 --keys 3,5 &&
  "$wine" "$cli" mosaic 出力.png 戻し.bmp --block 8x8 --keys 3,5 --decode) || cli_ok=0
[ -f "$work/出力.png" ] && [ -f "$work/戻し.bmp" ] || cli_ok=0
message=$(cd "$work" && "$wine" "$cli" shift テスト.png o.png --bits 1 2>&1 || true)
case "$message" in
*'"テスト.png" does not exist'*) ;;
*)
  echo "kavun-cli.exe's message does not name テスト.png: $message" >&2
  cli_ok=0
  ;;
esac
rm -rf "$work"
if [ "$cli_ok" = 1 ]; then
  passed=$((passed + 1))
  echo "kavun-cli.exe under wine: Japanese file names read, written and named"
else
  failed=$((failed + 1))
fi
echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
