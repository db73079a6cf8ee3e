# Shared helpers of the end-to-end tests: a private X server with a window manager, the program
# copied alone into a fresh folder, and waiting for its windows. Every process started here is
# ended by its PID when the test ends.
set -euo pipefail

E2E_PIDS=()
WORK=$(mktemp -d)

cleanup() {
    local pid
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${E2E_PIDS[i]}
        kill "$pid" 2>/dev/null || true
        # A process that ignores SIGTERM must not hold the test up.
        for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

start_x() {
    local fifo="$WORK/display"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" 2>"$WORK/xvfb.log" &
    E2E_PIDS+=($!)
    read -r number <"$fifo"
    export DISPLAY=":$number"
    for _ in $(seq 100); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
    openbox >"$WORK/openbox.log" 2>&1 &
    E2E_PIDS+=($!)
    for _ in $(seq 200); do
        wmctrl -m >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    fail "no window manager: $(cat "$WORK/openbox.log")"
}

# install_program BINARY FOLDER: the executable copied alone into FOLDER.
install_program() {
    mkdir -p "$2"
    cp "$1" "$2/qelvo"
}

# window_of PID [TITLE]: waits for a managed window of the process and prints its id.
window_of() {
    local pid=$1 title=${2:-Six Random Numbers} id
    for _ in $(seq 100); do
        id=$(wmctrl -lp | awk -v pid="$pid" -v title="$title" \
            '$3 == pid { line = $0; for (i = 0; i < 4; i++) sub(/^[^ ]+ +/, "", line); if (line == title) { print $1; exit } }')
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# wait_gone PID: waits up to ten seconds for the process to end; its exit status goes to STATUS.
wait_gone() {
    for _ in $(seq 100); do
        if ! kill -0 "$1" 2>/dev/null || [ "$(ps -o stat= -p "$1" | cut -c1)" = Z ]; then
            set +e
            wait "$1" 2>/dev/null
            STATUS=$?
            set -e
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# click WINDOW X Y: a left click at a point of the window's client area.
click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.3
}
