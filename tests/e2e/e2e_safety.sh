#!/usr/bin/env bash
# The history is never lost, tried on the real program under Xvfb and openbox as a hostile user
# would: a full disk, two copies on one file, broken temp folders, things left where the socket
# goes, special files, and signals while a box is open. Usage: e2e_safety.sh QELVO
source "$(dirname "$0")/lib.sh"
binary=$1
start_x
unset XDG_RUNTIME_DIR
app="$WORK/app"
install_program "$binary" "$app"
ini="$app/qelvo.ini"
history_of() { # history_of COUNT: a history file of COUNT lines
    printf '[History]\r\nData=%d\r\n' "$1"
    for ((k = 1; k <= $1; k++)); do
        printf 'His%d=%02d  ;  07  ;  15  ;  23  ;  30  ;  41\r\n' "$k" $((k % 100))
    done
}

# start_app [ENV=VALUE...]: starts the program from / and sets PID; standard error in $WORK/err.
start_app() {
    (cd / && exec env "$@" "$app/qelvo") 2>"$WORK/err" &
    PID=$!
    E2E_PIDS+=($PID)
}
# start_on_full_disk: starts the program where no file may grow beyond 2,048 bytes, as on a
# full disk (SIGXFSZ ignored, so a write fails instead), and waits for its window: WIN.
start_on_full_disk() {
    (trap '' XFSZ && cd / && exec prlimit --fsize=2048 -- "$app/qelvo") 2>"$WORK/err" &
    PID=$!
    E2E_PIDS+=($PID)
    WIN=$(window_of "$PID") || fail "full disk: no window"
}
# windows PID: how many managed windows the process has (a box is one more).
windows() { wmctrl -lp | awk -v pid="$1" '$3 == pid' | wc -l; }
wait_windows() {
    for _ in $(seq 100); do
        [ "$(windows "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
# ends_on_term PID: SIGTERM ends the process, a box open or not, without anyone answering.
ends_on_term() {
    kill -TERM "$1"
    wait_gone "$1" || fail "$2: SIGTERM did not end the program"
}

# 1. A full disk: the save fails as a whole, the old file stays byte for byte, and it is said.
history_of 100 >"$ini"
cp "$ini" "$WORK/before"
start_on_full_disk
click "$WIN" 150 72
ends_on_term "$PID" "full disk"
[ "$STATUS" != 0 ] || fail "full disk: exit status 0 after a failed save"
grep -q "$ini" "$WORK/err" || fail "full disk: the file is not named: $(cat "$WORK/err")"
cmp -s "$ini" "$WORK/before" || fail "full disk: the history file changed"
[ "$(ls -A "$app")" = "$(printf 'qelvo\nqelvo.ini')" ] || fail "full disk: left $(ls -A "$app")"

# The same without a display, as the offscreen platform runs it; no draw there, so the count is
# one that every save rewrites.
history_of 100 | sed 's/^Data=100/Data=-2/' >"$ini"
cp "$ini" "$WORK/before"
(trap '' XFSZ && cd / && exec env QT_QPA_PLATFORM=offscreen prlimit --fsize=2048 -- "$app/qelvo") \
    2>"$WORK/err" &
PID=$!
E2E_PIDS+=($PID)
sleep 2
ends_on_term "$PID" "full disk, offscreen"
[ "$STATUS" = 1 ] || fail "full disk, offscreen: exit status $STATUS"
grep -q "$ini" "$WORK/err" || fail "full disk, offscreen: the file is not named: $(cat "$WORK/err")"
cmp -s "$ini" "$WORK/before" || fail "full disk, offscreen: the history file changed"

# 2. One program per history file, whatever the executable's name, link or temp folder.
start_app TMPDIR="$WORK"
first=$PID
win=$(window_of "$first") || fail "no first window"
ln "$app/qelvo" "$app/hardlink"
cp "$app/qelvo" "$app/copy"
mkdir -p "$WORK/other-tmp"
for way in "TMPDIR=$WORK/other-tmp ./qelvo" "TMPDIR=/tmp ./hardlink" "XDG_RUNTIME_DIR= ./copy"; do
    read -r setting program <<<"$way"
    (cd "$app" && exec env "$setting" "$program") &
    second=$!
    wait_gone "$second" || fail "$way: the second copy did not end"
    [ "$STATUS" = 0 ] || fail "$way: the second copy ended with $STATUS"
done
[ "$(wmctrl -l | grep -c 'Six Random Numbers$')" = 1 ] || fail "more than one window"
wmctrl -i -c "$win"
wait_gone "$first" || fail "the first copy did not end"
rm -f "$app/hardlink" "$app/copy"

# 3. Temp folders that cannot hold anything, and what others leave, block no start.
socket_folder=/tmp/qelvo-$(id -u)
mkdir -p "$WORK/shared" && chmod 0777 "$WORK/shared"
for setting in TMPDIR=/nonexistent TMPDIR=/proc XDG_RUNTIME_DIR="$WORK/shared"; do
    start_app "$setting"
    win=$(window_of "$PID") || fail "$setting: no window: $(cat "$WORK/err")"
    wmctrl -i -c "$win"
    wait_gone "$PID" || fail "$setting: did not end"
done
[ -z "$(ls -A "$WORK/shared")" ] || fail "a socket in a folder others can write to"
folder_id=$(stat -c '%d %i' "$app" | awk '{ printf "%x-%x", $1, $2 }')
echo garbage >"$socket_folder/qelvo-$folder_id.socket"
start_app
first=$PID
win=$(window_of "$first") || fail "garbage socket: no window"
xdotool windowminimize "$win"
sleep 0.3
start_app
wait_gone "$PID" || fail "garbage socket: the second start did not end"
sleep 0.5
xprop -id "$win" _NET_WM_STATE | grep -q HIDDEN && fail "garbage socket: not brought to the front"
wmctrl -i -c "$win"
wait_gone "$first" || fail "garbage socket: did not end"

# 4. Special files: told like an unreadable file, no hang, memory bounded, the file untouched.
for special in fifo /dev/zero /dev/urandom; do
    rm -f "$ini"
    if [ "$special" = fifo ]; then mkfifo "$ini"; else ln -s "$special" "$ini"; fi
    start_app
    wait_windows "$PID" 1 || fail "$special: no message"
    peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$PID/status")
    [ "$peak" -lt 200000 ] || fail "$special: $peak kB of memory"
    box=$(window_of "$PID") || fail "$special: no box"
    xdotool windowactivate --sync "$box" key Return
    wait_gone "$PID" || fail "$special: did not end after the message"
    [ "$STATUS" = 1 ] || fail "$special: ended with $STATUS"
done
[ -p "$ini" ] || [ -L "$ini" ] || fail "the special file was replaced"
rm -f "$ini"

# 5. A signal while a box is open ends the program at once and destroys nothing.
# The clear question: nothing is cleared, the new line is saved as at any close.
history_of 3 >"$ini"
start_app
win=$(window_of "$PID") || fail "clear: no window"
click "$win" 150 72
click "$win" 284 158
wait_windows "$PID" 2 || fail "clear: no question"
ends_on_term "$PID" "clear question"
[ "$STATUS" = 0 ] || fail "clear question: ended with $STATUS"
grep -q $'^Data=4\r$' "$ini" || fail "clear question: the history was not saved as it stood"
grep -q $'^His1=01  ;' "$ini" || fail "clear question: the history was cleared"

# The close-without-saving question: nothing new is saved, the failure is reported.
history_of 100 >"$ini"
cp "$ini" "$WORK/before"
start_on_full_disk
click "$WIN" 150 72
wmctrl -i -c "$WIN"
wait_windows "$PID" 2 || fail "unsaved: no question"
ends_on_term "$PID" "close-without-saving question"
[ "$STATUS" != 0 ] || fail "close-without-saving question: exit status 0"
grep -q "$ini" "$WORK/err" || fail "close-without-saving question: not reported"
cmp -s "$ini" "$WORK/before" || fail "close-without-saving question: the file changed"

# The full-history message: the history stays as it is.
history_of 32767 >"$ini"
cp "$ini" "$WORK/before"
start_app
win=$(window_of "$PID") || fail "full: no window"
click "$win" 150 72
wait_windows "$PID" 2 || fail "full: no message"
ends_on_term "$PID" "full-history message"
cmp -s "$ini" "$WORK/before" || fail "full-history message: the file changed"

echo "e2e_safety: 1 passed, 0 failed"
