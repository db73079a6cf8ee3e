#!/usr/bin/env bash
# Installs the Debian packages that building, running or testing the program needs, skipping
# those already present. Usage: scripts/install-deps.sh run|test
set -euo pipefail

run_packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n libgl-dev
              fonts-ipafont-gothic)
test_packages=(xvfb x11-utils openbox xdotool wmctrl imagemagick libx11-dev libxdamage-dev
               cups cups-client cups-bsd poppler-utils
               clang libclang-rt-14-dev clang-format clang-tidy libbenchmark-dev
               desktop-file-utils appstream util-linux procps)

packages=("${run_packages[@]}")
if [ "${1:-run}" = test ]; then
    packages+=("${test_packages[@]}")
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
