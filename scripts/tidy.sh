#!/usr/bin/env bash
# Runs clang-tidy with the repo's .clang-tidy on every source file of src/ that the build
# compiles (its compile_commands.json), one clang-tidy per core; exits non-zero on any finding.
# The build folder is configured (not built) when it has no compile_commands.json yet.
#   scripts/tidy.sh [build-folder]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -G Ninja -DKAVUN_BUILD_GUI=ON -DKAVUN_BUILD_BENCH=OFF >/dev/null
fi

# Our own files under src/, once each (the generated Qt files of the build folder are not ours).
mapfile -t files < <(python3 - "$build/compile_commands.json" "$PWD/src/" <<'PY'
import json, os, sys
commands, src = sys.argv[1], sys.argv[2]
seen = set()
for entry in json.load(open(commands)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(src) and path not in seen:
        seen.add(path)
        print(path)
PY
)
[ "${#files[@]}" -gt 0 ] || { echo "tidy: no files of src/ in $build/compile_commands.json" >&2; exit 1; }

start=$SECONDS
jobs=$(nproc)
if printf '%s\0' "${files[@]}" |
  xargs -0 -n 4 -P "$jobs" clang-tidy -p "$build" --quiet 2> >(grep -v ' warnings\? generated\.$' >&2); then
  echo "tidy: ${#files[@]} files clean in $((SECONDS - start)) s"
else
  echo "tidy: findings above (checks and reasons: .clang-tidy)" >&2
  exit 1
fi
