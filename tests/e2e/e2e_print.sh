#!/usr/bin/env bash
# The print button through a real print system: a CUPS scheduler of the test's own, on its own
# socket and port, in its own folders, with a raw default queue whose backend keeps each job as
# sent. The system's own scheduler, if one runs, is neither used nor touched.
# Usage: e2e_print.sh QELVO
source "$(dirname "$0")/lib.sh"
binary=$1
if [ "$(id -u)" -ne 0 ]; then
    echo "e2e_print needs root: the scheduler runs its backend as root"
    exit 77
fi
setup_cups

app="$WORK/app"
install_program "$binary" "$app"
ini="$app/qelvo.ini"
history() {
    printf '[History]\r\nData=3\r\nHis1=01  ;  02  ;  03  ;  04  ;  05  ;  06\r\n'
    printf 'His2=\r\nHis3=11  ;  22  ;  33  ;  40  ;  41  ;  43\r\n'
}
printed=$'01 ; 02 ; 03 ; 04 ; 05 ; 06\n11 ; 22 ; 33 ; 40 ; 41 ; 43'
# The program's own temporary folder: nothing may be left in it after a run.
mkdir -p "$WORK/tmp" "$WORK/runtime"
chmod 0700 "$WORK/runtime"
run() {
    history >"$ini"
    start_window "$app/qelvo" TMPDIR="$WORK/tmp" XDG_RUNTIME_DIR="$WORK/runtime"
}
no_leftovers() { [ -z "$(ls -A "$WORK/tmp")" ] || fail "left behind: $(ls -A "$WORK/tmp")"; }
print_button() { click "$WIN" "${PRINT_BUTTON[@]}"; }
close_and_wait() {
    wmctrl -i -c "$WIN"
    wait_gone "$PID" || fail "$1: the program did not end"
}
wait_job() {
    for _ in $(seq 150); do
        ls "$jobs"/*.pdf >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}
# no_job WHAT: nothing reached the queue.
no_job() { ! ls "$jobs"/*.pdf >/dev/null 2>&1 || fail "$1"; }
job_lines() { pdftotext -layout "$(ls "$jobs"/*.pdf | head -1)" - | tr -d '\f' | tr -s ' ' | sed 's/^ //; s/ $//' | grep -v '^$'; }
# job_is LINES WHAT: one job arrived, holding these lines.
job_is() {
    wait_job || fail "$2: no job"
    [ "$(ls "$jobs"/*.pdf | wc -l)" = 1 ] || fail "$2: more than one job"
    [ "$(job_lines)" = "$1" ] || fail "$2: job text: $(job_lines)"
    rm -f "$jobs"/*.pdf
}
# refused_on_stderr WHAT: no job; standard error names the queue and the reason; status not 0.
refused_on_stderr() {
    [ "$STATUS" != 0 ] || fail "$1: exit status 0"
    grep -q "「$queue」" "$WORK/err" || fail "$1: the printer is not named: $(cat "$WORK/err")"
    grep -q "$2" "$WORK/err" || fail "$1: the reason is not given: $(cat "$WORK/err")"
    sleep 1
    no_job "$1: a job arrived"
}

# Two presses: no job while the window is open, one job with the lines twice after it closes.
one_job_at_the_end() {
    run
    print_button
    print_button
    sleep 2
    no_job "a job before the window closed"
    close_and_wait "two presses"
    [ "$STATUS" = 0 ] || fail "two presses: ended with $STATUS: $(cat "$WORK/err")"
    job_is "$printed"$'\n'"$printed" "two presses"
    no_leftovers

}

# SIGTERM after a press, and the display going away after one, still deliver the document.
ended_otherwise() {
    run
    print_button
    ends_on_term "$PID" "a press"
    job_is "$printed" "SIGTERM"
    no_leftovers

    start_x
    run
    print_button
    kill "$XVFB_PID"
    wait_gone "$PID" || fail "display gone: the program did not end"
    job_is "$printed" "display gone"
    start_x
}

# A print system that stalls at the end holds neither a new start nor a signal.
stalled_at_the_end() {
    run
    local old=$PID
    print_button
    kill -STOP "$cupsd_pid"
    wmctrl -i -c "$WIN"
    sleep 1
    [ "$(windows "$old")" = 0 ] || fail "stalled: the window stayed"
    grep -q $'^Data=3\r$' "$ini" || fail "stalled: the history was not saved first"
    local started=$SECONDS
    ERR="$WORK/err.new" start_window "$app/qelvo"
    [ $((SECONDS - started)) -le 2 ] || fail "stalled: the new start took $((SECONDS - started)) s"
    kill -TERM "$old"
    wait_gone "$old" 10 || fail "stalled: SIGTERM did not end the old program within a second"
    [ "$STATUS" != 0 ] || fail "stalled: exit status 0"
    grep -q "「$queue」に渡さずに" "$WORK/err" || fail "stalled: not said: $(cat "$WORK/err")"
    kill -CONT "$cupsd_pid"
    close_and_wait "after the stall"
}

# A queue that refuses the job: told on standard error.
refused() {
    run
    print_button
    cupsreject "$queue"
    close_and_wait "rejecting queue"
    refused_on_stderr "rejecting queue" "accepting jobs"
    cupsaccept "$queue"

    # Queues, but none the default: the press does nothing, as without a printer.
    lpadmin -x "$queue"
    run
    print_button
    close_and_wait "no default queue"
    [ "$STATUS" = 0 ] || fail "no default queue: ended with $STATUS"
    sleep 2
    no_job "no default queue: a job went to another queue"
    add_queue
}

start_cupsd
add_queue
add_other_queue
start_x
one_job_at_the_end
ended_otherwise
refused
stalled_at_the_end
echo "e2e_print: 1 passed, 0 failed"
