#!/usr/bin/env bash
# Builds the release programs and prints every benchmark figure: the draw, the history file
# against its one-call-per-value reference, printing, and the start against a bare window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake --preset bench >/dev/null
cmake --build --preset bench
build=build/bench
"$build/bench/bench_draw"
"$build/bench/bench_history"
"$build/bench/bench_print"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/empty" "$work/full" "$work/full-journals/left"
for folder in empty full full-journals; do cp "$build/app/qelvo" "$work/$folder/"; done
{
    printf '[History]\r\nData=32767\r\n'
    for k in $(seq 32767); do printf 'His%d=%02d  ;  07  ;  15  ;  23  ;  30  ;  41\r\n' "$k" $((k % 43 + 1)); done
} >"$work/full/qelvo.ini"
cp "$work/full/qelvo.ini" "$work/full-journals/"
machine=$(head -c 8 /etc/machine-id)
boot=$(tr -d '-' </proc/sys/kernel/random/boot_id | head -c 8)
# 100 journals of ended runs whose lines were all saved (a run killed before it removed its
# journal): the start reads each and removes it. They are laid out again before each run.
for k in $(seq 100); do
    printf 'qelvo journal 1\n+01  ;  02  ;  03  ;  04  ;  05  ;  %02d\n=\n' $((k % 37 + 6)) \
        >"$work/full-journals/left/.qelvo.ini.$machine-$boot-$((3000000 + k))-1-0.journal"
done
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=($!)
read -r number <"$work/display"
BENCH_BEFORE_EACH="cp -p '$work/full-journals/left/'.q* '$work/full-journals/'" \
    DISPLAY=":$number" "$build/bench/bench_startup" "${RUNS:-301}" \
    "bare window" "$build/bench/bare_window" \
    "qelvo, empty history" "$work/empty/qelvo" \
    "qelvo, 32,767 lines" "$work/full/qelvo" \
    "32,767 + 100 journals" "$work/full-journals/qelvo"

# A start that finds 1,000 journals of ended runs, one unsaved line each, takes them all over
# and saves them before its window maps; they are laid out again before each run.
mkdir -p "$work/journals/left"
cp "$build/app/qelvo" "$work/journals/"
for k in $(seq 1000); do
    a=$((k % 20 + 1))
    printf 'qelvo journal 1\n+%02d  ;  %02d  ;  %02d  ;  %02d  ;  %02d  ;  43\n' \
        "$a" $((a + 1)) $((a + 2)) $((a + 3)) $((30 + k % 13)) \
        >"$work/journals/left/.qelvo.ini.$machine-$boot-$((4000000 + k))-1-0.journal"
done
BENCH_BEFORE_EACH="rm -f '$work/journals/qelvo.ini'; cp -p '$work/journals/left/'.q* '$work/journals/'" \
    DISPLAY=":$number" "$build/bench/bench_startup" "${JOURNAL_RUNS:-31}" \
    "bare window" "$build/bench/bare_window" \
    "qelvo, 1,000 journals" "$work/journals/qelvo"
