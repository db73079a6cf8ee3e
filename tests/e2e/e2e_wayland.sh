#!/usr/bin/env bash
# The program as a Wayland client of sway, headless, run as an ordinary user (sway refuses root):
# a second start that the desktop launched with an activation token brings the running window to
# the front; and when the compositor ends, Qt ends the program at once without running any of
# it, yet every line drawn is saved by the next start.
# Usage: e2e_wayland.sh QELVO ACTIVATION_TOKEN
source "$(dirname "$0")/lib.sh"
binary=$1
skip() {
    echo "e2e_wayland: skipped: $*"
    exit 77
}
command -v sway >/dev/null && command -v wtype >/dev/null || skip "no sway or wtype"
dpkg-query -W -f='${Status}' qt6-wayland 2>/dev/null | grep -q 'ok installed' ||
    skip "no Wayland plugin of Qt (qt6-wayland)"

chmod 0755 "$WORK"
runtime="$WORK/run"
mkdir -m 0700 "$runtime"
mkdir "$WORK/a" "$WORK/b"
cp "$binary" "$WORK/a/qelvo"
cp "$binary" "$WORK/b/qelvo"
# Copied, as the program is, where the test user can run it: a build in /root is closed to it.
token_helper="$WORK/activation_token"
cp "$2" "$token_helper"
printf 'output HEADLESS-1 resolution 1280x1024\nfocus_on_window_activation focus\n' \
    >"$WORK/sway.conf"
user=$(id -un)
if [ "$(id -u)" = 0 ]; then
    user=qelvo-e2e
    id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    chown -R "$user:" "$runtime" "$WORK/a" "$WORK/b"
fi
# as COMMAND...: runs the command as the test user, in the compositor's session; as_background
# runs it in the background, its process's number in PID.
session=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$WORK" LC_ALL=C.UTF-8
    XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-1 QT_QPA_PLATFORM=wayland
    SWAYSOCK="$runtime/sway.sock")
[ "$(id -u)" = 0 ] && session=(setpriv --reuid="$user" --regid="$user" --init-groups "${session[@]}")
as() { "${session[@]}" "$@"; }
as_background() {
    (cd / && exec "${session[@]}" "$@") 2>>"$WORK/err" &
    PID=$!
    E2E_PIDS+=($PID)
}
# focused: the process whose window has the focus.
focused() {
    as swaymsg -t get_tree | awk '/"focused":/ { focused = ($2 ~ /true/) }
        /"pid":/ { sub(",", "", $2); if (focused) print $2 }'
}
# wait_focus PID WHAT: waits for the process's window to have the focus.
wait_focus() {
    for _ in $(seq 50); do
        [ "$(focused)" = "$1" ] && return 0
        sleep 0.1
    done
    fail "$2: the focus is on $(focused), not $1"
}
# start_client FOLDER: starts FOLDER/qelvo and waits for its window to take the focus; sets PID.
start_client() {
    as_background "$1/qelvo"
    wait_focus "$PID" "$1"
}

# launch PROGRAM: started by the compositor, as a desktop's launcher starts it, with the
# activation token that sway (1.8 on) gives what it starts; an older sway gives none, and the
# helper asks for one as a launcher would. Waits for the end; its status in STATUS. (A newer sway
# gives the focus for no token that a client asked for on its own.)
launch() {
    rm -f "$runtime/status"
    as swaymsg -q exec "$WORK/launcher $1"
    for _ in $(seq 100); do
        [ -s "$runtime/status" ] && break
        sleep 0.1
    done
    STATUS=$(cat "$runtime/status" 2>/dev/null) || fail "$1 started by the compositor did not end"
}
printf '#!/bin/sh\n[ -n "${XDG_ACTIVATION_TOKEN:-}" ] || export XDG_ACTIVATION_TOKEN="$(%s)"\n"$@"\necho $? >%s\n' \
    "$token_helper" "$runtime/status" >"$WORK/launcher"
chmod 0755 "$WORK/launcher"

as_background env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$WORK/sway.conf"
compositor=$PID
for _ in $(seq 100); do
    [ -S "$runtime/wayland-1" ] && [ -S "$runtime/sway.sock" ] && break
    sleep 0.1
done
[ -S "$runtime/sway.sock" ] || skip "sway did not start here: $(tail -n 3 "$WORK/err")"

# The second start: with the launcher's token the window comes to the front.
start_client "$WORK/a"
first=$PID
start_client "$WORK/b"
other=$PID
as "$WORK/a/qelvo" || fail "a start without a token ended with $?"
sleep 1
[ "$(focused)" = "$other" ] || fail "without a token the focus moved to $(focused)"
launch "$WORK/a/qelvo"
[ "$STATUS" = 0 ] || fail "the second start ended with $STATUS"
wait_focus "$first" "a second start with a token"

# The compositor ends: the program ends with it, but the lines drawn come back at the next start.
as wtype -s 1000 -k space -s 300 -k space -s 300
kept=$(sed -n 's/^+//p' "$WORK/a"/.qelvo.ini.*.journal)
[ "$(wc -l <<<"$kept")" = 2 ] || fail "the journal holds '$kept'"
kill "$compositor"
wait_gone "$first" || fail "the program outlived the compositor"
# Qt ends it with _exit(): status 1 from Qt 6.4, 255 from Qt 6.8.
[ "$STATUS" != 0 ] || fail "the compositor's end: status 0"
[ -e "$WORK/a/qelvo.ini" ] && fail "something saved after the compositor's end"
as_background env QT_QPA_PLATFORM=offscreen "$WORK/a/qelvo"
for _ in $(seq 50); do
    grep -q $'^Data=2\r$' "$WORK/a/qelvo.ini" 2>/dev/null && break
    sleep 0.1
done
ends_on_term "$PID" "the start after the compositor's end"
while read -r line; do
    [ "$(grep -c "=$line"$'\r$' "$WORK/a/qelvo.ini")" = 1 ] || fail "'$line' not saved once"
done <<<"$kept"
ls -A "$WORK/a" | grep -q journal && fail "a journal was left: $(ls -A "$WORK/a")"
echo "e2e_wayland: 1 passed, 0 failed"
