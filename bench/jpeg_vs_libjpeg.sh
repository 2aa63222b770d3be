#!/usr/bin/env bash
# JPEG save and open of kavun-cli against libjpeg-turbo's own cjpeg and djpeg, in one hyperfine
# run each (commands interleaved by rounds, medians compared), on the 7680 x 4320 photo-like
# picture of bench_files:
#   bench/jpeg_vs_libjpeg.sh [BUILD_DIR] [ROUNDS]
# Needs hyperfine and libjpeg-turbo-progs (Debian packages). Works in /dev/shm so that the disk
# is out of the figures.
# - save: kavun-cli reads the BMP, changes one pixel and writes the JPEG (quality 100, float
#   DCT, 4:2:0, the colour conversion of libjpeg); cjpeg reads the same BMP and writes the same
#   JPEG (-quality 100 -dct float). The two files differ only in the JFIF density, which cjpeg
#   copies from the BMP.
# - open: kavun-cli info decodes the JPEG into a bitmap; djpeg decodes it with the same settings
#   (islow IDCT, fancy upsampling) and writes the pixels to /dev/null.
set -euo pipefail
build=${1:-build}
rounds=${2:-7}
cli=$(realpath "$build/src/cli/kavun-cli")
dir=$(mktemp -d /dev/shm/kavun-jpeg-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$build/bench/bench_files" --write_photo="$dir/photo.png"
"$cli" shift "$dir/photo.png" "$dir/photo.bmp" --rect 0,0,1,1 --bits 1
"$cli" shift "$dir/photo.bmp" "$dir/photo.jpg" --rect 0,0,1,1 --bits 1 2>/dev/null
cd "$dir"
cjpeg -quality 100 -dct float -outfile cjpeg.jpg photo.bmp
echo "bytes that differ from cjpeg's file (the JFIF density only): $(cmp -l photo.jpg cjpeg.jpg | wc -l)"
hyperfine -N -w 1 -r "$rounds" --export-markdown save.md \
  "$cli shift photo.bmp out.jpg --rect 0,0,1,1 --bits 1" \
  "cjpeg -quality 100 -dct float -outfile cjpeg.jpg photo.bmp"
hyperfine -N -w 1 -r "$rounds" --export-markdown open.md \
  "$cli info photo.jpg" \
  "djpeg -outfile /dev/null photo.jpg"
cat save.md open.md
