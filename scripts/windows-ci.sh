#!/usr/bin/env bash
# CI's Windows steps: the libraries (from the cache, or built), the programs, the test programs
# and the zip; the tests under wine; kavun.exe driven from the zip; kavun-cli.exe against the
# Linux kavun-cli.
#
# A fresh machine builds the libraries first (Qt is the long part). With KAVUN_CI_START (the
# run's start, seconds since the epoch, set by .ci/run) that build may take the run only up to
# KAVUN_CI_LIBS_MINUTES (default 66) minutes from its start: a build that is not done by then is
# stopped, the Windows steps are skipped with a message saying so, and the next run goes on with
# the stopped build from where it was (scripts/windows-build.sh keeps its stages).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -n "${KAVUN_CI_START:-}" ] && ! bash scripts/windows-build.sh --cached; then
  deadline=$((KAVUN_CI_START + ${KAVUN_CI_LIBS_MINUTES:-66} * 60))
  left=$((deadline - $(date +%s)))
  rc=0
  if [ "$left" -lt 120 ]; then
    rc=124
  else
    echo "windows-ci: building the Windows libraries, for at most $((left / 60)) min"
    timeout --kill-after=30 "$left" bash scripts/windows-build.sh --libs || rc=$?
  fi
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    echo "windows-ci: the Windows libraries were not done ${KAVUN_CI_LIBS_MINUTES:-66} min into" \
      "this run; their build goes on in the next run. The Windows steps are skipped this time."
    exit 0
  fi
  [ "$rc" -eq 0 ] || exit "$rc"
fi

bash scripts/windows-build.sh --tests
bash scripts/wine-test.sh
bash scripts/wine-gui.sh
ARCHS=win64 NO_TESTS=1 bash scripts/cross-check.sh 60
