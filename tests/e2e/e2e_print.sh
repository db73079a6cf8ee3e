#!/usr/bin/env bash
# The print button through a real print system: a CUPS scheduler of the test's own with a raw
# default queue whose backend keeps each job as sent. Usage: e2e_print.sh QELVO
source "$(dirname "$0")/lib.sh"
binary=$1
if [ "$(id -u)" -ne 0 ]; then
    echo "e2e_print needs root to add a CUPS backend and queue"
    exit 77
fi
backend=/usr/lib/cups/backend/qelvokeep
queue=qelvo-e2e
jobs="$WORK/jobs"
mkdir -p "$jobs"
chmod 0777 "$jobs"

cupsd_pid=""
start_cupsd() {
    mkdir -p /run/cups
    /usr/sbin/cupsd
    for _ in $(seq 100); do
        [ -s /run/cups/cupsd.pid ] && lpstat -r 2>/dev/null | grep -q "scheduler is running" && break
        sleep 0.1
    done
    cupsd_pid=$(cat /run/cups/cupsd.pid)
}
stop_cupsd() {
    [ -n "$cupsd_pid" ] || return 0
    kill "$cupsd_pid" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$cupsd_pid" 2>/dev/null || break
        sleep 0.1
    done
    cupsd_pid=""
}
print_cleanup() {
    lpadmin -x "$queue" 2>/dev/null || true
    stop_cupsd
    rm -f "$backend"
    [ -f "$WORK/lpoptions" ] && mv "$WORK/lpoptions" "$HOME/.cups/lpoptions"
    cleanup
}
trap print_cleanup EXIT

if lpstat -r 2>/dev/null | grep -q "scheduler is running"; then
    fail "a CUPS scheduler already runs; this test needs its own"
fi
install -m 0700 "$(dirname "$0")/keep-backend" "$backend"
[ -f "$HOME/.cups/lpoptions" ] && mv "$HOME/.cups/lpoptions" "$WORK/lpoptions"
start_cupsd
lpadmin -p "$queue" -v "qelvokeep:$jobs" -E
lpadmin -d "$queue"
start_x

app="$WORK/app"
install_program "$binary" "$app"
history() {
    printf '[History]\r\nData=3\r\nHis1=01  ;  02  ;  03  ;  04  ;  05  ;  06\r\n'
    printf 'His2=\r\nHis3=11  ;  22  ;  33  ;  40  ;  41  ;  43\r\n'
}
# The program's own temporary folder: nothing may be left in it after a run.
mkdir -p "$WORK/tmp" "$WORK/runtime"
chmod 0700 "$WORK/runtime"
run() {
    (cd / && TMPDIR="$WORK/tmp" XDG_RUNTIME_DIR="$WORK/runtime" exec "$app/qelvo") &
    pid=$!
    E2E_PIDS+=($pid)
    win=$(window_of "$pid") || fail "no window"
}
no_leftovers() { [ -z "$(ls -A "$WORK/tmp")" ] || fail "left behind: $(ls -A "$WORK/tmp")"; }
print_button() { click "$win" 63 158; }
wait_job() {
    for _ in $(seq 150); do
        ls "$jobs"/*.pdf >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}
job_lines() { pdftotext -layout "$(ls "$jobs"/*.pdf | head -1)" - | tr -d '\f' | tr -s ' ' | sed 's/^ //; s/ $//' | grep -v '^$'; }

# Two presses: no job while the window is open, one job with the lines twice after it closes.
history >"$app/qelvo.ini"
run
print_button
print_button
sleep 2
ls "$jobs"/*.pdf >/dev/null 2>&1 && fail "a job before the window closed"
wmctrl -i -c "$win"
wait_gone "$pid" || fail "the program did not end"
wait_job || fail "no job after the window closed"
[ "$(ls "$jobs"/*.pdf | wc -l)" = 1 ] || fail "more than one job"
no_leftovers
expected=$'01 ; 02 ; 03 ; 04 ; 05 ; 06\n11 ; 22 ; 33 ; 40 ; 41 ; 43\n01 ; 02 ; 03 ; 04 ; 05 ; 06\n11 ; 22 ; 33 ; 40 ; 41 ; 43'
[ "$(job_lines)" = "$expected" ] || fail "job text: $(job_lines)"
rm -f "$jobs"/*.pdf

# An empty history gives no job.
printf '[History]\r\nData=0\r\n' >"$app/qelvo.ini"
run
print_button
wmctrl -i -c "$win"
wait_gone "$pid" || fail "the program did not end"
sleep 3
ls "$jobs"/*.pdf >/dev/null 2>&1 && fail "a job for an empty history"

# Without a scheduler the press shows nothing and the program keeps working.
stop_cupsd
history >"$app/qelvo.ini"
run
print_button
sleep 0.5
[ "$(wmctrl -lp | awk -v p="$pid" '$3 == p' | wc -l)" = 1 ] || fail "a box was shown"
click "$win" 150 72
wmctrl -i -c "$win"
wait_gone "$pid" || fail "the program did not end without a scheduler"
[ "$(grep -c '^Data=4' "$app/qelvo.ini")" = 1 ] || fail "the draw after the press was not kept"

# SIGTERM after a press still delivers the document.
start_cupsd
history >"$app/qelvo.ini"
run
print_button
kill -TERM "$pid"
wait_gone "$pid" || fail "SIGTERM did not end the program"
wait_job || fail "no job after SIGTERM"
[ "$(job_lines)" = $'01 ; 02 ; 03 ; 04 ; 05 ; 06\n11 ; 22 ; 33 ; 40 ; 41 ; 43' ] || fail "SIGTERM job: $(job_lines)"
no_leftovers

echo "e2e_print: 1 passed, 0 failed"
