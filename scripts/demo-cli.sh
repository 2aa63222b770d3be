#!/usr/bin/env bash
# Installs what is missing, builds kavun-cli in build/ and shows it at work: the sample
# picture's framed panel is scrambled with each transform and restored, and the restored
# pictures are checked against the original pixel for pixel.
#
#   bash scripts/demo-cli.sh                     the kavun-cli of build/
#   bash scripts/demo-cli.sh /usr/bin/kavun-cli  a kavun-cli already there (nothing is built)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then
  cli=$1
  [ -x "$cli" ] || { echo "demo: $cli is not an executable program" >&2; exit 1; }
else
  bash scripts/deps.sh
  cmake -S . -B build -G Ninja
  cmake --build build -j "$(nproc)" --target kavun-cli
  cli=build/src/cli/kavun-cli
fi
sample=samples/kavun-sample.png
out=out/demo
mkdir -p "$out"
rect=110,10,230,70   # the framed panel of the sample, in image pixels
printf 'kavun demo\n' > "$out/password.txt"

echo "Sample picture: $sample"
"$cli" info "$sample"
echo

echo "Reversible mosaic (blocks 16x16, keys 3,7):"
"$cli" mosaic "$sample" "$out/mosaic-scrambled.png" --rect "$rect"
"$cli" mosaic "$out/mosaic-scrambled.png" "$out/mosaic-restored.png" --rect "$rect" --decode

echo "Bit shift (7 bits right, restored with 7 left):"
"$cli" shift "$sample" "$out/shift-scrambled.bmp" --rect "$rect" --bits 7
"$cli" shift "$out/shift-scrambled.bmp" "$out/shift-restored.png" --rect "$rect" --bits -7

echo "XOR (MTwister, password from a file; the same command restores):"
"$cli" xor "$sample" "$out/xor-scrambled.png" --rect "$rect" --password-file "$out/password.txt"
"$cli" xor "$out/xor-scrambled.png" "$out/xor-restored.png" --rect "$rect" \
  --password-file "$out/password.txt"

# Restored pictures must match the sample pixel for pixel. The sample and each restored picture
# are written once more through an identity mosaic (keys 1,0) and the files compared: the PNG
# writer is deterministic, so equal pixels give equal files and the check needs only cmp.
"$cli" mosaic "$sample" "$out/reference.png"  --block 2x2 --keys 1,0
status=0
for t in mosaic shift xor; do
  "$cli" mosaic "$out/$t-restored.png" "$out/$t-check.png" --block 2x2 --keys 1,0
  if cmp -s "$out/$t-check.png" "$out/reference.png"; then
    echo "  $t: restored picture is identical to the sample"
  else
    echo "  $t: restored picture DIFFERS from the sample" >&2
    status=1
  fi
  rm -f "$out/$t-check.png"
done
rm -f "$out/reference.png"

echo
echo "Results in $PWD/$out:"
ls -1 "$out"
exit "$status"
