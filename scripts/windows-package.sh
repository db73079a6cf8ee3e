#!/usr/bin/env bash
# Builds the Windows program and packs it for Windows users: qelvo-windows.zip, a folder qelvo
# with the stripped qelvo.exe and the Japanese and English read-me, as Notepad reads them (UTF-8
# with a byte order mark, CRLF). Builds the Windows Qt first when the cache has none. Prints the
# zip's path.
# Usage: scripts/windows-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
QELVO_WINDOWS_QT=$(scripts/windows-qt.sh)
export QELVO_WINDOWS_QT
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target qelvo >&2

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/qelvo"
x86_64-w64-mingw32-strip -o "$stage/qelvo/qelvo.exe" build/windows/app/qelvo.exe
for readme in readme-ja readme-en; do
    { printf '\xef\xbb\xbf'; sed 's/$/\r/' "packaging/windows/$readme.txt"; } >"$stage/qelvo/$readme.txt"
done
zip="$PWD/build/windows/qelvo-windows.zip"
rm -f "$zip"
(cd "$stage" && zip -q -X -r "$zip" qelvo)
echo "$zip"
