#!/usr/bin/env bash
# The real program under Xvfb and openbox: its window, a draw, a second start, closing through
# the window manager and by a signal, and a print system that never answers.
# Usage: e2e_window.sh QELVO [SCREENSHOT.png [SILENT_SOCKET]]
source "$(dirname "$0")/lib.sh"
binary=$1
screenshot=${2:-}
silent_socket=${3:-}
start_x
app="$WORK/app"
install_program "$binary" "$app"
line=$'^His[0-9]+=[0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]\r$'

(cd / && exec "$app/qelvo") &
pid=$!
E2E_PIDS+=($pid)
win=$(window_of "$pid") || fail "no window titled Six Random Numbers"
size=$(xwininfo -id "$win" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
[ "$size" = 305x207 ] || fail "client area is $size"

# The outer frame, title bar included, is centred on the screen to within a pixel, from the
# moment the window appears: the client's place and the frame's extents as the X server has them.
# outer_centre: "X Y" of the frame's centre, doubled to stay in whole numbers.
outer_centre() {
    local extents
    extents=$(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    xwininfo -id "$win" | awk -v e="$extents" '
        BEGIN { split(e, f, " ") }
        /Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
        /Width:/ { w = $2 } /Height:/ { h = $2 }
        END { print 2 * (x - f[1]) + w + f[1] + f[2], 2 * (y - f[3]) + h + f[3] + f[4] }'
}
first=$(outer_centre)
read -r width height < <(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }')
read -r cx cy <<<"$first"
[ $((cx - width)) -le 2 ] && [ $((width - cx)) -le 2 ] || fail "frame centre x*2 $cx, screen $width"
[ $((cy - height)) -le 2 ] && [ $((height - cy)) -le 2 ] || fail "frame centre y*2 $cy, screen $height"
sleep 1
[ "$(outer_centre)" = "$first" ] || fail "the window moved after it appeared: $first, then $(outer_centre)"

click "$win" 150 72
[ -e "$app/qelvo.ini" ] && fail "a draw wrote the history file"

# A second start ends at once with status 0, without a window, and brings the first forward.
xdotool windowminimize "$win"
sleep 0.3
(cd / && exec "$app/qelvo") &
second=$!
wait_gone "$second" || fail "the second start did not end"
[ "$STATUS" = 0 ] || fail "the second start ended with $STATUS"
[ "$(wmctrl -lp | awk -v p="$second" '$3 == p' | wc -l)" = 0 ] || fail "second window"
[ -e "$app/qelvo.ini" ] && fail "the second start wrote the history file"
sleep 0.5
xprop -id "$win" _NET_WM_STATE | grep -q HIDDEN && fail "the first window stayed minimized"

if [ -n "$screenshot" ]; then
    # The picture of the README: a few lines of history, the mouse out of the way.
    for _ in 1 2 3 4; do click "$win" 150 72; done
    xdotool mousemove --window "$win" 150 180
    import -window "$win" -frame "$screenshot"
fi

# Closing through the window manager saves the kept lines and ends the program.
wmctrl -i -c "$win"
wait_gone "$pid" || fail "closing the window did not end the program"
[ "$STATUS" = 0 ] || fail "the program ended with $STATUS"
head -2 "$app/qelvo.ini" | grep -q '^\[History\]' || fail "no history section"
kept=$(grep -cE "$line" "$app/qelvo.ini" || true)
[ "$kept" -ge 1 ] || fail "no history line saved"

# SIGTERM ends it through the same close: the new line is saved too.
(cd / && exec "$app/qelvo") &
pid=$!
E2E_PIDS+=($pid)
win=$(window_of "$pid") || fail "no window on the second run"
click "$win" 150 72
kill -TERM "$pid"
wait_gone "$pid" || fail "SIGTERM did not end the program"
[ "$(grep -cE "$line" "$app/qelvo.ini" || true)" -eq $((kept + 1)) ] || fail "SIGTERM lost the new line"
grep -q "^Data=$((kept + 1))"$'\r'"$" "$app/qelvo.ini" || fail "count not saved on SIGTERM"

# A print system that accepts the connection and never answers: the window goes on working, a
# draw made while the print button waits is kept, and SIGTERM ends the program at once.
if [ -n "$silent_socket" ]; then
    "$silent_socket" "$WORK/cups.sock" &
    E2E_PIDS+=($!)
    for _ in $(seq 50); do [ -S "$WORK/cups.sock" ] && break; sleep 0.1; done
    before=$(grep -cE "$line" "$app/qelvo.ini" || true)
    (cd / && exec env CUPS_SERVER="$WORK/cups.sock" "$app/qelvo") &
    pid=$!
    E2E_PIDS+=($pid)
    win=$(window_of "$pid") || fail "no window with a silent print system"
    click "$win" 63 158
    click "$win" 150 72
    kill -TERM "$pid"
    wait_gone "$pid" || fail "SIGTERM waited for the silent print system"
    [ "$(grep -cE "$line" "$app/qelvo.ini" || true)" -eq $((before + 1)) ] ||
        fail "the draw made while printing was lost"
fi

echo "e2e_window: 1 passed, 0 failed"
