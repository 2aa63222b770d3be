#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Kavun need, if any is missing.
set -euo pipefail

PACKAGES=(
  # compilers and build tools
  build-essential cmake ninja-build pkg-config clang clang-format clang-tidy libclang-rt-14-dev
  # libraries
  qt6-base-dev libpng-dev libjpeg62-turbo-dev zlib1g-dev
  # Qt's own texts (dialog buttons, file dialogs, context menus) in Japanese
  qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  # GUI tests, screenshots and file checks
  xvfb xauth xdotool pngcheck fonts-noto-cjk
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" bash "$(dirname "$0")/apt-update.sh"
"${SUDO[@]}" apt-get install -y "${missing[@]}"
