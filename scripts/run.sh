#!/usr/bin/env bash
# Installs what is missing, builds Kavun, installs it under out/kavun and starts the desktop
# program there. It keeps its settings in kavun.ini beside the program; "Readme.txt" in the help
# menu opens out/kavun/share/doc/kavun/Readme.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja
cmake --build build -j "$(nproc)" --target kavun kavun-cli kavun_data
cmake --install build --prefix "$PWD/out/kavun" > /dev/null

echo "Kavun is installed in $PWD/out/kavun (bin/kavun, bin/kavun-cli)."
echo "A picture to try: $PWD/samples/kavun-sample.png"
exec out/kavun/bin/kavun
