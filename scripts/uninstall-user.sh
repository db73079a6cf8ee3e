#!/usr/bin/env bash
# Removes the program installed by install-user.sh and its menu entry. The history file
# qelvo.ini stays in the folder unless --remove-history is given, and so do the journals that
# hold lines a run drew and did not save. While the program runs, its lock, history and journals
# stay whatever is asked: removed, they would let a second start run beside it.
# Usage: scripts/uninstall-user.sh [--remove-history] [FOLDER]
set -euo pipefail
remove_history=false
if [ "${1:-}" = --remove-history ]; then
    remove_history=true
    shift
fi
prefix=${1:-$HOME/.local/opt/qelvo}
lock="$prefix/.qelvo.ini.lock"

# Whether a running program holds the lock: a POSIX lock on the lock file, as /proc/locks lists
# it by device and inode.
held() {
    [ -f "$lock" ] || return 1
    local device inode
    read -r device inode < <(stat -c '%d %i' "$lock")
    awk -v file="$(printf '%02x:%02x:%s' $(((device >> 8) & 0xfff)) \
        $(((device & 0xff) | ((device >> 12) & 0xfff00))) "$inode")" \
        '$2 == "POSIX" && $6 == file { found = 1 } END { exit !found }' /proc/locks
}

[ -x "$prefix/remove-desktop-entry" ] && "$prefix/remove-desktop-entry"
rm -rf "$prefix/share"
rm -f "$prefix/qelvo" "$prefix/install-desktop-entry" "$prefix/remove-desktop-entry"
if held; then
    echo "The program is running from $prefix: its lock, its history and what it has drawn stay."
    echo "Close its window, then run this again to remove them."
    exit 0
fi
rm -f "$lock"
if $remove_history; then
    rm -f "$prefix/qelvo.ini" "$prefix"/.qelvo.ini.*.journal
    # What saves that were ended left: their lock and its writer's name.
    find "$prefix" -maxdepth 1 -type f -name '.qelvo.ini.saving*' -delete
fi
rmdir "$prefix" 2>/dev/null || echo "Kept $prefix/qelvo.ini (the history)"
