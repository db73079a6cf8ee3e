#!/usr/bin/env bash
# The real program under Xvfb and openbox as a desktop user meets it: its window and its place,
# on one monitor and on the primary one of two; the keys; a second start; closing through the
# window manager; a print system that never answers, ended by a signal.
# Usage: e2e_window.sh QELVO [SCREENSHOT.png [SILENT_SOCKET]]
source "$(dirname "$0")/lib.sh"
binary=$1
screenshot=${2:-}
silent_socket=${3:-}
app="$WORK/app"
install_program "$binary" "$app"

# outer_centre: "X Y" of the frame's centre, doubled to stay in whole numbers, from the client's
# place and the frame's extents as the X server has them.
outer_centre() {
    local extents
    extents=$(xprop -id "$WIN" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    xwininfo -id "$WIN" | awk -v e="$extents" '
        BEGIN { split(e, f, " ") }
        /Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
        /Width:/ { w = $2 } /Height:/ { h = $2 }
        END { print 2 * (x - f[1]) + w + f[1] + f[2], 2 * (y - f[3]) + h + f[3] + f[4] }'
}
# centred_on LEFT WIDTH HEIGHT: the outer frame is centred on the area to within a pixel.
centred_on() {
    local cx cy
    read -r cx cy <<<"$(outer_centre)"
    cx=$((cx - 2 * $1))
    [ $((cx - $2)) -le 2 ] && [ $(($2 - cx)) -le 2 ] || fail "frame centre x*2 $cx, area $2 from $1"
    [ $((cy - $3)) -le 2 ] && [ $(($3 - cy)) -le 2 ] || fail "frame centre y*2 $cy, area $3"
}

# The window: its size, centred with its frame from the moment it appears, no file by a draw.
window_and_place() {
    start_window "$app/qelvo"
    local size first width height
    size=$(xwininfo -id "$WIN" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
    [ "$size" = 305x207 ] || fail "client area is $size"
    read -r width height < <(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }')
    centred_on 0 "$width" "$height"
    first=$(outer_centre)
    sleep 1
    [ "$(outer_centre)" = "$first" ] || fail "the window moved after it appeared"
    draw "$WIN"
    [ -e "$app/qelvo.ini" ] && fail "a draw wrote the history file"
    return 0
}

# Each press of Enter, Return or the keypad's Enter on the focused draw button is one draw, also
# when they come quickly.
keys() {
    xdotool windowactivate --sync "$WIN"
    xdotool key KP_Enter
    sleep 0.3
    xdotool key --delay 60 Return Return Return Return Return
    sleep 0.5
}

# A second start ends at once with status 0, without a window, and brings the first forward.
second_start() {
    xdotool windowminimize "$WIN"
    sleep 0.3
    start_app "$app/qelvo"
    wait_gone "$PID" || fail "the second start did not end"
    [ "$STATUS" = 0 ] || fail "the second start ended with $STATUS"
    [ "$(windows "$PID")" = 0 ] || fail "second window"
    [ -e "$app/qelvo.ini" ] && fail "the second start wrote the history file"
    sleep 0.5
    if xprop -id "$WIN" _NET_WM_STATE | grep -q HIDDEN; then
        fail "the first window stayed minimized"
    fi
}

# Closing through the window manager saves the kept lines, seven here, and ends the program.
close_saves() {
    local first=$PID_FIRST
    if [ -n "$screenshot" ]; then
        # The picture of the README: a few lines of history, the mouse out of the way.
        xdotool mousemove --window "$WIN" 150 180
        import -window "$WIN" -frame "$screenshot"
    fi
    wmctrl -i -c "$WIN"
    wait_gone "$first" || fail "closing the window did not end the program"
    [ "$STATUS" = 0 ] || fail "the program ended with $STATUS"
    head -2 "$app/qelvo.ini" | grep -q '^\[History\]' || fail "no history section"
    [ "$(kept_lines "$app/qelvo.ini")" = 7 ] || fail "$(kept_lines "$app/qelvo.ini") lines kept, not 7"
}

# A print system that accepts the connection and never answers: the window goes on working, a
# draw made while the print button waits is kept, and SIGTERM ends the program at once.
silent_print_system() {
    "$silent_socket" "$WORK/cups.sock" &
    E2E_PIDS+=($!)
    for _ in $(seq 50); do [ -S "$WORK/cups.sock" ] && break; sleep 0.1; done
    start_window "$app/qelvo" CUPS_SERVER="$WORK/cups.sock"
    click "$WIN" "${PRINT_BUTTON[@]}"
    draw "$WIN"
    ends_on_term "$PID" "a silent print system"
    [ "$(kept_lines "$app/qelvo.ini")" = 8 ] || fail "the draw made while printing was lost"
}

# Two monitors side by side, the right one primary: the window opens centred on the right one.
primary_monitor() {
    start_x 2560x1024x24
    xrandr --setmonitor LEFT 1280/339x1024/271+0+0 none >/dev/null
    xrandr --setmonitor '*RIGHT' 1280/339x1024/271+1280+0 none >/dev/null
    start_window "$app/qelvo"
    centred_on 1280 1280 1024
    wmctrl -i -c "$WIN"
    wait_gone "$PID" || fail "two monitors: did not end"
}

start_x
window_and_place
PID_FIRST=$PID
keys
second_start
close_saves
[ -n "$silent_socket" ] && silent_print_system
primary_monitor
echo "e2e_window: 1 passed, 0 failed"
