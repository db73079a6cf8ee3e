#!/usr/bin/env bash
# Removes the program installed by install-user.sh and its menu entry. The history file
# qelvo.ini stays in the folder unless --remove-history is given.
# Usage: scripts/uninstall-user.sh [--remove-history] [FOLDER]
set -euo pipefail
remove_history=false
if [ "${1:-}" = --remove-history ]; then
    remove_history=true
    shift
fi
prefix=${1:-$HOME/.local/opt/qelvo}
[ -x "$prefix/remove-desktop-entry" ] && "$prefix/remove-desktop-entry"
rm -rf "$prefix/share"
rm -f "$prefix/qelvo" "$prefix/install-desktop-entry" "$prefix/remove-desktop-entry" \
    "$prefix/.qelvo.ini.lock"
if $remove_history; then
    rm -f "$prefix/qelvo.ini"
fi
rmdir "$prefix" 2>/dev/null || echo "Kept $prefix/qelvo.ini (the history)"
