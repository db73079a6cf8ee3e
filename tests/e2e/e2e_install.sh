#!/usr/bin/env bash
# Installs into a temporary folder and from the .tar.gz package, starts the installed program,
# and checks that it keeps its history beside itself; the menu entry and the AppStream file
# pass their validators; removal keeps the history unless asked. Usage: e2e_install.sh BUILD SOURCE
source "$(dirname "$0")/lib.sh"
build=$1
source_dir=$2
export HOME="$WORK/home"
unset XDG_DATA_HOME
mkdir -p "$HOME"
start_x

# run_and_close FOLDER: starts FOLDER/qelvo, waits for its window and closes it.
run_and_close() {
    (cd / && exec "$1/qelvo") &
    local pid=$!
    E2E_PIDS+=($pid)
    local win
    win=$(window_of "$pid") || fail "no window from $1"
    wmctrl -i -c "$win"
    wait_gone "$pid" || fail "$1/qelvo did not end"
    grep -q $'^Data=0\r$' "$1/qelvo.ini" || fail "no history file beside $1/qelvo"
}

prefix="$WORK/opt/qelvo"
cmake --install "$build" --prefix "$prefix" >/dev/null
"$prefix/install-desktop-entry" >/dev/null
entry="$HOME/.local/share/applications/qelvo.desktop"
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qx "Exec=\"$prefix/qelvo\"" "$entry" || fail "Exec is not the installed program"
grep -q '^Name\[ja\]=' "$entry" || fail "no Japanese name"
grep -q '^Keywords\[ja\]=宝くじ;' "$entry" || fail "a desktop search for 宝くじ finds nothing"
[ -s "$HOME/.local/share/icons/hicolor/32x32/apps/qelvo.png" ] || fail "no 32 x 32 icon"
[ -s "$HOME/.local/share/icons/hicolor/128x128/apps/qelvo.png" ] || fail "no larger icon"
appstreamcli validate --no-net \
    "$HOME/.local/share/metainfo/org.qelvo.SixRandomNumbers.metainfo.xml" >/dev/null ||
    fail "metainfo does not validate"
run_and_close "$prefix"

# Removal while the program runs leaves its lock alone and says so: a start from a new install
# brings the running window forward instead of opening a second one.
start_window "$prefix/qelvo"
first=$PID
draw "$WIN"
"$source_dir/scripts/uninstall-user.sh" "$prefix" >"$WORK/uninstall.log"
grep -q "is running" "$WORK/uninstall.log" || fail "removal did not say that the program runs"
[ -f "$prefix/.qelvo.ini.lock" ] || fail "removal took the running program's lock"
cmake --install "$build" --prefix "$prefix" >/dev/null
start_app "$prefix/qelvo"
wait_gone "$PID" || fail "a start after the reinstall did not end"
[ "$(wmctrl -l | grep -c 'Six Random Numbers$')" = 1 ] || fail "a second window after the reinstall"
PID=$first
wmctrl -i -c "$WIN"
wait_gone "$PID" || fail "the first program did not end"
grep -q $'^Data=1\r$' "$prefix/qelvo.ini" || fail "the line drawn before the removal was lost"

# The package, unpacked anywhere writable, runs and keeps its history beside itself.
(cd "$build" && cpack -B "$WORK/package" >/dev/null)
mkdir -p "$WORK/unpacked"
tar -xzf "$WORK/package"/qelvo-*.tar.gz -C "$WORK/unpacked"
run_and_close "$(ls -d "$WORK/unpacked"/qelvo-*)"

# Removal takes the menu entry and the program, and keeps the history unless asked, with the
# journal of lines that a run drew and did not save.
printf 'qelvo journal 1\n' >"$prefix/.qelvo.ini.0-0-1-1-0.journal"
"$source_dir/scripts/uninstall-user.sh" "$prefix" >/dev/null
[ -e "$entry" ] && fail "the menu entry stayed"
[ -e "$prefix/qelvo" ] && fail "the program stayed"
[ -f "$prefix/qelvo.ini" ] || fail "the history went"
[ -f "$prefix/.qelvo.ini.0-0-1-1-0.journal" ] || fail "the journal went"
"$source_dir/scripts/uninstall-user.sh" --remove-history "$prefix" >/dev/null
[ -e "$prefix" ] && fail "the folder stayed"

echo "e2e_install: 1 passed, 0 failed"
