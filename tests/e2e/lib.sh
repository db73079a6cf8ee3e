# Shared helpers of the end-to-end tests: a private X server with a window manager, the program
# copied alone into a fresh folder, started, clicked and waited for. Every process started here
# is ended by its PID when the test ends.
set -euo pipefail

E2E_PIDS=()
E2E_MOUNTS=()
WORK=$(mktemp -d)
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The controls, by their place in the window's client area.
DRAW_BUTTON=(150 72)
PRINT_BUTTON=(63 158)
CLEAR_BUTTON=(284 158)
# A saved history line.
HISTORY_LINE=$'^His[0-9]+=[0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]  ;  [0-4][0-9]\r$'

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
    # Unmounted before the folder goes: the files behind a mount are the test's own too.
    for mount in "${E2E_MOUNTS[@]}"; do fusermount -u "$mount" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# start_x [SCREEN]: an X server of the test's own (1280x1024 unless given) with openbox; sets
# DISPLAY and XVFB_PID.
start_x() {
    local fifo="$WORK/display.$RANDOM"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${1:-1280x1024x24}" -nolisten tcp -noreset 3>"$fifo" \
        2>"$WORK/xvfb.log" &
    XVFB_PID=$!
    E2E_PIDS+=($XVFB_PID)
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

# start_app PROGRAM [ENV=VALUE...]: starts the program from / with the settings given; sets PID,
# standard error goes to $WORK/err (or to $ERR).
start_app() {
    local program=$1
    shift
    (cd / && exec env "$@" "$program") 2>"${ERR:-$WORK/err}" &
    PID=$!
    E2E_PIDS+=($PID)
}

# start_window PROGRAM [ENV=VALUE...]: start_app, then waits for its window: WIN.
start_window() {
    start_app "$@"
    WIN=$(window_of "$PID") || fail "$1: no window: $(cat "$WORK/err")"
}

# window_of PID [TYPE]: waits for a managed window of the process with the program's title and
# prints its id: its main window, or with DIALOG a box, which carries the same title.
window_of() {
    local pid=$1 type=${2:-NORMAL} id
    for _ in $(seq 100); do
        for id in $(wmctrl -lp | awk -v pid="$pid" '$3 == pid {
                line = $0; for (i = 0; i < 4; i++) sub(/^[^ ]+ +/, "", line)
                if (line == "Six Random Numbers") print $1 }'); do
            xprop -id "$id" _NET_WM_WINDOW_TYPE | grep -q "_NET_WM_WINDOW_TYPE_$type" &&
                { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}
box_of() { window_of "$1" DIALOG; }

# windows PID: how many managed windows the process has (a box is one more).
windows() { wmctrl -lp | awk -v pid="$1" '$3 == pid' | wc -l; }
# wait_gone PID [TENTHS]: waits up to ten seconds (or TENTHS tenths) for the process to end; its
# exit status goes to STATUS.
wait_gone() {
    for _ in $(seq "${2:-100}"); do
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

# ends_on_term PID WHAT: SIGTERM ends the process, a box open or not, without anyone answering.
ends_on_term() {
    kill -TERM "$1"
    wait_gone "$1" || fail "$2: SIGTERM did not end the program"
}

# click WINDOW X Y: a left click at a point of the window's client area.
click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.3
}

# draw WINDOW [TIMES]: presses the draw button.
draw() {
    for _ in $(seq "${2:-1}"); do click "$1" "${DRAW_BUTTON[@]}"; done
}

# history_of COUNT: a history file of COUNT lines, as the program writes it.
history_of() {
    printf '[History]\r\nData=%d\r\n' "$1"
    for ((k = 1; k <= $1; k++)); do
        printf 'His%d=%02d  ;  07  ;  15  ;  23  ;  30  ;  41\r\n' "$k" $((k % 100))
    done
}

# kept_lines FILE: how many history lines the file holds.
kept_lines() { grep -cE "$HISTORY_LINE" "$1" || true; }

# journalled FOLDER: the lines that the journals beside the history hold, one a line.
journalled() { cat "$1"/.qelvo.ini.*.journal 2>/dev/null | sed -n 's/^+//p'; }
# saved_once WHAT FOLDER LINES: each line stands once in the history, and beside it only the
# program, the history and its lock file.
saved_once() {
    local line
    while read -r line; do
        [ "$(grep -c "=$line"$'\r$' "$2/qelvo.ini")" = 1 ] || fail "$1: '$line' not saved once"
    done <<<"$3"
    [ -z "$(ls -A "$2" | grep -v -x -e qelvo -e qelvo.ini -e .qelvo.ini.lock)" ] ||
        fail "$1: left $(ls -A "$2")"
}

# setup_cups: a CUPS scheduler of the test's own, on its own socket and port, in its own folders,
# with a raw queue whose backend keeps each job as sent in $jobs; the system's own scheduler, if
# one runs, is neither used nor touched. Then start_cupsd starts it and add_queue makes $queue
# the default. Needs root: the scheduler runs its backend as root.
setup_cups() {
    queue=qelvo-e2e
    cups="$WORK/cups"
    jobs="$WORK/jobs"
    mkdir -p "$cups"/{conf,spool,tmp,cache,state,log,bin/backend,client} "$jobs" "$WORK/home"
    chmod 0777 "$jobs"
    for part in daemon filter cgi-bin driver monitor notifier; do
        ln -s "/usr/lib/cups/$part" "$cups/bin/$part"
    done
    install -m 0700 "$E2E_DIR/keep-backend" "$cups/bin/backend/qelvokeep"
    port=$((20000 + RANDOM % 20000))
    cat >"$cups/conf/cupsd.conf" <<EOF
Listen $cups/cups.sock
Listen 127.0.0.1:$port
LogLevel warn
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    cat >"$cups/conf/cups-files.conf" <<EOF
ServerRoot $cups/conf
RequestRoot $cups/spool
TempDir $cups/tmp
CacheDir $cups/cache
StateDir $cups/state
ServerBin $cups/bin
DataDir /usr/share/cups
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
Printcap $cups/printcap
EOF
    # The program and the CUPS tools talk to this scheduler only, with no client settings or
    # default printer of the system's or the user's.
    export CUPS_SERVER="$cups/cups.sock" CUPS_SERVERROOT="$cups/client" HOME="$WORK/home"
}
cupsd_pid=""
start_cupsd() {
    /usr/sbin/cupsd -f -c "$cups/conf/cupsd.conf" -s "$cups/conf/cups-files.conf" &
    cupsd_pid=$!
    E2E_PIDS+=($cupsd_pid)
    for _ in $(seq 100); do
        lpstat -r 2>/dev/null | grep -q "scheduler is running" && return 0
        sleep 0.1
    done
    fail "the test's scheduler did not start: $(cat "$cups/log/error_log")"
}
# The default queue, and another one beside it that must never get a job of the program's.
add_queue() {
    lpadmin -p "$queue" -v "qelvokeep:$jobs" -E
    lpadmin -d "$queue"
}
add_other_queue() { lpadmin -p qelvo-other -v "qelvokeep:$jobs" -E; }

