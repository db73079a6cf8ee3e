#!/usr/bin/env bash
# The history is never lost, tried on the real program under Xvfb and openbox as a hostile user
# would: a full disk with a signal while its question is open, a kill -9, copies on one file, too
# few descriptors, the X server going away. Two programs without a lock are tried on real mounts
# by e2e_mounts; what a single save does with the file (special files, its attributes, its
# encoding, the read limit, what stands at its lock, each system call failing in turn) the unit
# tests of the file store and the history file show, and the temp and socket folders that block
# no start those of the desktop.
# Usage: e2e_safety.sh QELVO
source "$(dirname "$0")/lib.sh"
binary=$1
unset XDG_RUNTIME_DIR
app="$WORK/app"
install_program "$binary" "$app"
ini="$app/qelvo.ini"

# start_limited [ENV=VALUE...]: starts the program where no file may grow beyond 2,048 bytes, as
# on a full disk (SIGXFSZ ignored, so a write fails instead); sets PID.
start_limited() {
    (trap '' XFSZ && cd / && exec env "$@" prlimit --fsize=2048 -- "$app/qelvo") 2>"$WORK/err" &
    PID=$!
    E2E_PIDS+=($PID)
}
# kept_as_it_was WHAT: the history file is byte for byte the copy in $WORK/before.
kept_as_it_was() { cmp -s "$ini" "$WORK/before" || fail "$1: the history file changed"; }
# told_on_stderr WHAT: the run ended with a non-zero status and named the file on standard error.
told_on_stderr() {
    [ "$STATUS" != 0 ] || fail "$1: exit status 0"
    grep -q "$ini" "$WORK/err" || fail "$1: the file is not named: $(cat "$WORK/err")"
}
# close_window WHAT: closes the window through the window manager; the program ends.
close_window() {
    wmctrl -i -c "$WIN"
    wait_gone "$PID" || fail "$1: did not end"
}

# A full disk: the save fails as a whole, the old file stays byte for byte, and the question it
# asks is open when a signal ends the program at once: nothing new is saved, the failure is said,
# and the line drawn waits in the journal until the next start with room saves it.
full_disk() {
    history_of 100 >"$ini"
    cp "$ini" "$WORK/before"
    start_limited
    WIN=$(window_of "$PID") || fail "full disk: no window"
    draw "$WIN"
    wmctrl -i -c "$WIN"
    box_of "$PID" >/dev/null || fail "full disk: no question"
    ends_on_term "$PID" "full disk"
    told_on_stderr "full disk"
    kept_as_it_was "full disk"
    [ -z "$(ls -A "$app" | grep -v -x -e qelvo -e qelvo.ini -e .qelvo.ini.lock -e '.*\.journal')" ] ||
        fail "full disk: left $(ls -A "$app")"
    local kept
    kept=$(journalled "$app")
    [ "$(wc -l <<<"$kept")" = 1 ] || fail "full disk: the journal holds '$kept'"
    start_window "$app/qelvo"
    close_window "after the full disk"
    saved_once "after the full disk" "$app" "$kept"
}

# One program per history file, whatever the executable's name, link, temp folder, or the folder
# that a link to the history sits in.
one_program_per_file() {
    start_window "$app/qelvo" TMPDIR="$WORK"
    local first=$PID way setting program
    ln "$app/qelvo" "$app/hardlink"
    cp "$app/qelvo" "$app/copy"
    mkdir -p "$WORK/other-tmp"
    for way in "TMPDIR=$WORK/other-tmp ./qelvo" "TMPDIR=/tmp ./hardlink" "XDG_RUNTIME_DIR= ./copy"; do
        read -r setting program <<<"$way"
        (cd "$app" && exec env "$setting" "$program") &
        wait_gone $! || fail "$way: the second copy did not end"
        [ "$STATUS" = 0 ] || fail "$way: the second copy ended with $STATUS"
    done
    [ "$(wmctrl -l | grep -c 'Six Random Numbers$')" = 1 ] || fail "more than one window"
    PID=$first
    close_window "names"
    rm -f "$app/hardlink" "$app/copy"

    # Two folders whose qelvo.ini links lead to one file: one program, no line lost.
    mkdir -p "$WORK/A" "$WORK/B" "$WORK/S"
    history_of 1 >"$WORK/S/h.ini"
    ln -s "$WORK/S/h.ini" "$WORK/A/qelvo.ini"
    ln -s ../S/h.ini "$WORK/B/qelvo.ini"
    cp "$app/qelvo" "$WORK/A/"
    cp "$app/qelvo" "$WORK/B/"
    start_window "$WORK/A/qelvo"
    draw "$WIN" 3
    start_app "$WORK/B/qelvo"
    wait_gone "$PID" || fail "links: the second folder's copy did not end"
    [ "$STATUS" = 0 ] || fail "links: the second folder's copy ended with $STATUS"
    PID=$(pgrep -f "$WORK/A/qelvo")
    close_window "links"
    grep -q $'^Data=4\r$' "$WORK/S/h.ini" || fail "links: lines lost: $(head -2 "$WORK/S/h.ini")"
}

# Too few descriptors for the toolkit, which would hang: a clear word on standard error, an end.
few_descriptors() {
    (ulimit -n 12 && cd / && exec "$app/qelvo") 2>"$WORK/err" &
    PID=$!
    E2E_PIDS+=($PID)
    wait_gone "$PID" || fail "ulimit -n 12: the program did not end"
    [ "$STATUS" = 1 ] && grep -q 'ulimit -n' "$WORK/err" || fail "ulimit -n 12: $(cat "$WORK/err")"
}

# An end that the program cannot catch: the next start puts the lines back and saves them, once.
# Started with its standard streams closed, the program opens them on /dev/null before its lock.
killed() {
    history_of 2 >"$ini"
    (cd / && exec "$app/qelvo" 0<&- 1>&- 2>&-) &
    PID=$!
    E2E_PIDS+=($PID)
    WIN=$(window_of "$PID") || fail "kill -9: no window"
    local stream
    for stream in 0 1 2; do
        [ "$(readlink "/proc/$PID/fd/$stream")" = /dev/null ] ||
            fail "kill -9: standard stream $stream is $(readlink "/proc/$PID/fd/$stream")"
    done
    draw "$WIN" 3
    local kept
    kept=$(journalled "$app")
    [ "$(wc -l <<<"$kept")" = 3 ] || fail "kill -9: the journal holds '$kept'"
    kill -KILL "$PID"
    wait_gone "$PID" || fail "kill -9: did not end"
    [ "$(kept_lines "$ini")" = 2 ] || fail "kill -9: the history changed"
    start_window "$app/qelvo"
    grep -q $'^Data=5\r$' "$ini" || fail "kill -9: the lines were not saved at the start"
    draw "$WIN"
    close_window "after kill -9"
    grep -q $'^Data=6\r$' "$ini" || fail "kill -9: $(head -2 "$ini")"
    saved_once "kill -9" "$app" "$kept"
}

# The X server going away, killed or by xkill: the lines drawn reach the file all the same.
display_gone() {
    history_of 1 >"$ini"
    start_x
    start_window "$app/qelvo"
    draw "$WIN" 3
    kill "$XVFB_PID"
    wait_gone "$PID" || fail "X server killed: the program did not end"
    [ "$STATUS" != 0 ] || fail "X server killed: exit status 0"
    grep -q $'^Data=4\r$' "$ini" || fail "X server killed: lines lost: $(cat "$WORK/err")"

    start_x
    start_window "$app/qelvo"
    draw "$WIN" 2
    xkill -id "$WIN" >/dev/null
    wait_gone "$PID" || fail "xkill: the program did not end"
    [ "$STATUS" != 0 ] || fail "xkill: exit status 0"
    grep -q $'^Data=6\r$' "$ini" || fail "xkill: lines lost"
}

start_x
full_disk
killed
one_program_per_file
few_descriptors
display_gone
echo "e2e_safety: 1 passed, 0 failed"
