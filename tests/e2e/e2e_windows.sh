#!/usr/bin/env bash
# The Windows program under Wine, as a Windows user meets it: the window and a draw; the history
# saved beside the exe at the close, CRLF and code page 932 kept; a file written by Notepad on
# Japanese Windows read; the draws of a killed run saved by the next; the session's end; a second
# start bringing the first window forward; a page reaching a CUPS queue of the test's own through Wine's printing.
# A Wine prefix of the test's own.
# Usage: e2e_windows.sh QELVO.EXE
source "$(dirname "$0")/lib.sh"
binary=$1
export WINEPREFIX="$WORK/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; cleanup' EXIT
printing=false
if [ "$(id -u)" -eq 0 ]; then
    printing=true
    setup_cups
    start_cupsd
    add_queue
fi
start_x
wineboot -i >/dev/null 2>&1
app="$WORK/app"
mkdir -p "$app"
cp "$binary" "$app/qelvo.exe"
ini="$app/qelvo.ini"

# start_exe: the program started from its folder, as Explorer starts it: PID and WIN.
start_exe() {
    (cd "$app" && exec wine qelvo.exe) 2>"$WORK/err" &
    PID=$!
    E2E_PIDS+=($PID)
    WIN=$(window_of "$PID") || fail "no window: $(cat "$WORK/err")"
}
close_exe() {
    wmctrl -i -c "$WIN"
    wait_gone "$PID" || fail "the close did not end the program"
    [ "$STATUS" = 0 ] || fail "ended with $STATUS: $(cat "$WORK/err")"
}

# Notepad on Japanese Windows: code page 932, CRLF; a value 宝くじメモ of the user's own.
memo=$'\x95\xf3\x82\xad\x82\xb6\x83\x81\x83\x82'
printf '[History]\r\nData=1\r\nHis1=%s\r\n' "$memo" >"$ini"
start_exe
draw "$WIN"
$printing && click "$WIN" "${PRINT_BUTTON[@]}"
close_exe
[ "$(sed -n 3p "$ini")" = "His1=$memo"$'\r' ] || fail "the user's value changed: $(cat -A "$ini")"
[ "$(sed -n 2p "$ini")" = $'Data=2\r' ] || fail "count not saved: $(cat -A "$ini")"
[ "$(kept_lines "$ini")" = 1 ] || fail "the draw was not saved with CRLF: $(cat -A "$ini")"
[ "$(grep -c $'\r$' "$ini")" = "$(wc -l <"$ini")" ] || fail "a line without CR: $(cat -A "$ini")"

# Ended from Task Manager after two draws: the next run saves them.
start_exe
draw "$WIN" 2
kill -KILL "$PID"
wait_gone "$PID" || fail "kill -9 did not end the program"
start_exe
close_exe
[ "$(kept_lines "$ini")" = 3 ] || fail "the killed run's draws were lost: $(cat -A "$ini")"

# The Windows session ends (a forced logoff): the draw is saved first, and only once.
start_exe
draw "$WIN"
wineboot -e -f
wait_gone "$PID" || fail "the session's end did not end the program"
start_exe
close_exe
[ "$(kept_lines "$ini")" = 4 ] || fail "the session's end lost or doubled a draw: $(cat -A "$ini")"

# A second start brings the first forward and ends.
start_exe
first=$PID
wine notepad &
E2E_PIDS+=($!)
other=$(timeout 30 xdotool search --sync --classname notepad.exe | head -n 1) || fail "no Notepad"
xdotool windowactivate --sync "$other"
# The window on top: Wine 8 raises a window that asks to come forward, but leaves the focus to
# the window manager.
on_top() { xprop -root _NET_CLIENT_LIST_STACKING | awk '{print $NF}'; }
[ "$((WIN))" != "$(($(on_top)))" ] || fail "the first window was on top before the second start"
(cd "$app" && exec wine qelvo.exe) 2>"$WORK/second.err" &
second=$!
E2E_PIDS+=($second)
wait_gone "$second" 150 || fail "the second start did not end"
[ "$(windows "$first")" = 1 ] || fail "the first program's window count changed"
for _ in $(seq 50); do
    [ "$((WIN))" = "$(($(on_top)))" ] && break
    sleep 0.1
done
[ "$((WIN))" = "$(($(on_top)))" ] || fail "the first window was not brought forward"
close_exe

if $printing; then
    for _ in $(seq 100); do
        ls "$jobs"/*.pdf >/dev/null 2>&1 && break
        sleep 0.2
    done
    ls "$jobs"/*.pdf >/dev/null 2>&1 || fail "no page reached the queue: $(cat "$cups/log/error_log")"
    [ "$(ls "$jobs" | wc -l)" = 1 ] || fail "not one job: $(ls "$jobs")"
fi
echo "e2e_windows passed"
