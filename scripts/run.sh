#!/usr/bin/env bash
# Installs what is missing, builds the program, installs it into ~/.local/opt/qelvo (or FOLDER)
# and starts it from there, so its history qelvo.ini lives outside the build folder.
# Usage: scripts/run.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-$HOME/.local/opt/qelvo}
scripts/install-program.sh "$prefix"
exec "$prefix/qelvo"
