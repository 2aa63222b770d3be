#!/usr/bin/env bash
# A batch of 50 full-HD PNG (or JPEG) files through kavun-cli, against another build of it and
# against a plain two-process baseline (the same program, one file per run, two runs at once):
#   bench/batch.sh [BUILD_DIR] [OTHER_KAVUN_CLI] [png|jpg] [ROUNDS]
# Needs hyperfine (a Debian package). Works in /dev/shm so that the disk is out of the figures.
# Files per second = 50 / the mean time hyperfine reports.
set -euo pipefail
build=${1:-build}
other=${2:-}
ext=${3:-png}
rounds=${4:-3}
cli=$(realpath "$build/src/cli/kavun-cli")
dir=$(mktemp -d /dev/shm/kavun-batch-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$build/bench/bench_files" --write_batch="$dir/in"
if [ "$ext" = jpg ]; then
  mkdir "$dir/in-jpg"
  for f in "$dir"/in/*.png; do
    "$cli" shift "$f" "$dir/in-jpg/$(basename "$f" .png).jpg" --rect 0,0,1,1 --bits 1 2>/dev/null
  done
  in=$dir/in-jpg
else
  in=$dir/in
fi
mkdir -p "$dir/out"
# One file per run, for the two-process baseline.
printf '#!/bin/sh\nexec %s mosaic "$1" %s/out/"$(basename "$1")" 2>/dev/null\n' "$cli" "$dir" \
  >"$dir/one.sh"
commands=("$cli mosaic $in/*.$ext --out-dir $dir/out"
  "ls $in/*.$ext | xargs -P 2 -n 1 sh $dir/one.sh")
[ -n "$other" ] && commands+=("$(realpath "$other") mosaic $in/*.$ext --out-dir $dir/out")
hyperfine -w 1 -r "$rounds" --prepare "rm -f $dir/out/*" "${commands[@]}"
