#!/usr/bin/env bash
# Installs the run packages, builds the release program and installs it as one folder of its
# own (default ~/.local/opt/qelvo), where it keeps its history. Nothing in the build folder
# holds the history, so deleting the build loses nothing. A history that an earlier version of
# scripts/run.sh left in the build folder is copied over when the folder has none yet.
# QELVO_BUILD_DIR names another build folder (the run-path check uses it).
# Usage: scripts/install-program.sh [FOLDER [CMAKE-OPTION...]]
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-$HOME/.local/opt/qelvo}
build=${QELVO_BUILD_DIR:-build/release}
scripts/install-deps.sh run
cmake --preset release -B "$build" "${@:2}" >/dev/null
cmake --build "$build" --target qelvo qelvo_icon
cmake --install "$build" --prefix "$prefix" >/dev/null
old=build/release/app/qelvo.ini
if [ ! -e "$prefix/qelvo.ini" ] && [ -f "$old" ]; then
    cp -p "$old" "$prefix/qelvo.ini"
    echo "Copied the history from $old"
fi
echo "The program and its history: $prefix"
