#!/usr/bin/env bash
# Installs the Debian packages that building and running the program (run) or also testing it
# (test) needs, skipping those already present. --list prints the packages of a set instead;
# test-only is the set that only the test command installs, runtime what the built program
# alone needs (the .tar.gz package), windows what building the Windows program and trying it
# under Wine needs.
# Usage: scripts/install-deps.sh [--list] run|test|test-only|runtime|windows
set -euo pipefail

# Debian 13 renamed the CUPS library's package in its 64-bit time move; both releases are served.
cups_library=libcups2t64
. /etc/os-release
[ "${VERSION_ID:-13}" = 12 ] && cups_library=libcups2
run_packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n libgl-dev libcups2-dev
              fonts-ipafont-gothic)
runtime_packages=(libqt6widgets6 "$cups_library" fonts-ipafont-gothic)
test_only_packages=(xvfb x11-utils x11-xserver-utils openbox xdotool wmctrl imagemagick libx11-dev
                    libxdamage-dev acl attr e2fsprogs
                    cups cups-client cups-bsd poppler-utils
                    clang libclang-rt-dev clang-format clang-tidy libbenchmark-dev
                    desktop-file-utils appstream util-linux procps
                    sway wtype qt6-wayland libwayland-dev wayland-protocols pkgconf passwd
                    openssh-server openssh-client sshfs bindfs fuse3)
# The host tools and host description of the same Qt; Wine prints through the system's CUPS
# library.
windows_packages=(cmake ninja-build g++-mingw-w64-x86-64-posix dpkg-dev qt6-base-dev qt6-base-dev-tools
                  qt6-translations-l10n
                  wine wine64 "$cups_library" zip unzip)

list=false
if [ "${1:-}" = --list ]; then
    list=true
    shift
fi
case "${1:-run}" in
    run) packages=("${run_packages[@]}") ;;
    test) packages=("${run_packages[@]}" "${test_only_packages[@]}" "${windows_packages[@]}") ;;
    test-only) packages=("${test_only_packages[@]}" "${windows_packages[@]}") ;;
    windows) packages=("${windows_packages[@]}") ;;
    runtime) packages=("${runtime_packages[@]}") ;;
    *) echo "usage: $0 [--list] run|test|test-only|runtime|windows" >&2; exit 2 ;;
esac
if $list; then
    printf '%s\n' "${packages[@]}"
    exit 0
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
