#!/usr/bin/env bash
# Builds the program and installs it for the current user as one folder of its own (default
# ~/.local/opt/qelvo), where it keeps its history, and adds it to the desktop's menu.
# Usage: scripts/install-user.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-$HOME/.local/opt/qelvo}
scripts/install-deps.sh run
cmake --preset release >/dev/null
cmake --build --preset release --target qelvo qelvo_icon
cmake --install build/release --prefix "$prefix"
"$prefix/install-desktop-entry"
echo "Installed in $prefix"
