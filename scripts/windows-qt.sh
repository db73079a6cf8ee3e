#!/usr/bin/env bash
# Builds a static Qt for 64-bit Windows from Debian's own qt6-base source, with Debian's MinGW-w64
# and the host tools of the installed qt6-base-dev-tools, once: the result is kept outside the
# tree, keyed on the Qt source, the compiler and this script, and reused. Prints the prefix.
# Usage: scripts/windows-qt.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows >&2

qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
compiler=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
recipe=$(cat "$0" cmake/mingw-w64.cmake | sha256sum | cut -c1-12)
cache=${QELVO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qelvo}
prefix="$cache/qt-windows-${qt_version//[^A-Za-z0-9.]/_}-gcc${compiler//[^A-Za-z0-9.]/_}-$recipe"
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
# apt-get source needs a deb-src line for the release the machine runs.
if ! grep -rqs '^\(Types: .*\)\?deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            "${sudo[@]}" tee /etc/apt/sources.list.d/qelvo-deb-src.sources >/dev/null
    else
        grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            "${sudo[@]}" tee /etc/apt/sources.list.d/qelvo-deb-src.list >/dev/null
    fi
    "${sudo[@]}" apt-get update -qq
fi

work="$prefix.work"
rm -rf "$work" "$prefix"
mkdir -p "$work"
(cd "$work" && apt-get source -qq "qt6-base=$qt_version" >&2)
source_dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*')
# Without OpenGL the windows plugin must still leave out its dynamic-GL paths.
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$source_dir/src/plugins/platforms/windows/qwindowswindow.cpp"

bundled=()
for library in zlib pcre2 png jpeg harfbuzz freetype doubleconversion md4c libb2 textmarkdownreader; do
    bundled+=("-DFEATURE_system_$library=OFF")
done
# Off: tabletevent (Debian leaves out wintab), sql (its sqlite is left out), vulkan (the host's
# headers would leak in), dbus, openssl, opengl; direct2d stays on for DirectWrite's sources.
cmake -G Ninja -S "$source_dir" -B "$work/build" -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_pkg_config=OFF "${bundled[@]}" \
    -DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_openssl=OFF -DFEATURE_opengl=OFF -DFEATURE_direct2d1_1=OFF >&2
cmake --build "$work/build" -j "$(nproc)" >&2
cmake --install "$work/build" >&2
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
