#!/usr/bin/env bash
# Builds the program and installs it for the current user as one folder of its own (default
# ~/.local/opt/qelvo), where it keeps its history, and adds it to the desktop's menu.
# Usage: scripts/install-user.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-$HOME/.local/opt/qelvo}
scripts/install-program.sh "$prefix"
"$prefix/install-desktop-entry"
