#!/usr/bin/env bash
# What a new user meets, on a freshly made minimal Debian root of the release named (debootstrap,
# as root; not run by CI, it downloads for several minutes):
#   1. the .tar.gz package, with only the runtime packages the README names, starts under X,
#      keeps a drawn line and saves it beside itself;
#   2. with git added, the README's run command installs, builds and starts the program, and the
#      history survives deleting the build folder;
#   3. the README's test command passes.
# Usage: fresh_debian.sh bookworm|trixie SOURCE FOLDER  (FOLDER must not exist; it is left for
# inspection)
source "$(dirname "$0")/lib.sh"
release=$1
source_dir=$(cd "$2" && pwd)
root=$3
[ -e "$root" ] && fail "$root exists"
[ "$(id -u)" -eq 0 ] || fail "needs root for debootstrap and chroot"

mounts=()
fresh_cleanup() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
    cleanup
}
trap fresh_cleanup EXIT
in_root() { chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 DISPLAY="$DISPLAY" /bin/bash -c "$1"; }

mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null ||
    true)
debootstrap --variant=minbase "$release" "$root" ${mirror:+"$mirror"} >"$WORK/debootstrap.log" ||
    fail "debootstrap: $(tail -n 5 "$WORK/debootstrap.log")"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# /dev/shm too: a bind of /dev leaves out its own mounts, and without it sway cannot share a
# keymap (it crashed on the first key of the Wayland test).
for fs in proc sys dev dev/pts dev/shm tmp/.X11-unix; do
    mkdir -p "$root/$fs"
    mount --bind "/$fs" "$root/$fs"
    mounts+=("$root/$fs")
done
start_x

# 1. The package with the runtime packages alone.
(cd "$source_dir" && cmake --preset release >/dev/null && cmake --build --preset release >/dev/null &&
    cd build/release && cpack -B "$WORK/package" >/dev/null)
# The release's own package names, as the script picks them there.
mapfile -t runtime < <(chroot "$root" /bin/bash -s -- --list runtime \
    <"$source_dir/scripts/install-deps.sh")
in_root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends ${runtime[*]} >/dev/null"
mkdir -p "$root/opt/unpacked"
tar -xzf "$WORK/package"/qelvo-*.tar.gz -C "$root/opt/unpacked"
folder=$(cd "$root/opt/unpacked" && ls -d qelvo-*)
chroot "$root" /usr/bin/env -i HOME=/root DISPLAY="$DISPLAY" "/opt/unpacked/$folder/qelvo" &
pid=$!
E2E_PIDS+=($pid)
win=$(window_of "$pid") || fail "the unpacked program shows no window"
draw "$win"
wmctrl -i -c "$win"
wait_gone "$pid" || fail "the unpacked program did not end"
grep -q $'^His1=[0-9]' "$root/opt/unpacked/$folder/qelvo.ini" || fail "the package saved no line"
echo "1. the package runs with: ${runtime[*]}"

# 2. The run command from a clone, twice, with the build folder deleted between the runs.
in_root "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git >/dev/null"
git clone -q "$source_dir" "$root/root/qelvo"
history="$root/root/.local/opt/qelvo/qelvo.ini"
run_once() {
    local started=$SECONDS
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        DISPLAY="$DISPLAY" /root/qelvo/scripts/run.sh >"$WORK/run.log" 2>&1 &
    local run=$!
    E2E_PIDS+=($run)
    for _ in $(seq 1800); do
        win=$(wmctrl -l | awk '/Six Random Numbers$/ { print $1; exit }')
        [ -n "$win" ] && break
        kill -0 "$run" 2>/dev/null || fail "run.sh ended: $(tail -n 20 "$WORK/run.log")"
        sleep 1
    done
    [ -n "$win" ] || fail "run.sh showed no window"
    echo "   run.sh showed the window after $((SECONDS - started)) s"
    sleep 1
    [ "${1:-}" = draw ] && draw "$win"
    wmctrl -i -c "$win"
    wait_gone "$run" || fail "the program started by run.sh did not end"
}
run_once draw
saved=$(cat "$history")
grep -q $'^His1=[0-9]' "$history" || fail "run.sh kept no line in $history"
rm -rf "$root/root/qelvo/build"
run_once
[ "$(cat "$history")" = "$saved" ] || fail "the history changed after deleting the build"
echo "2. run.sh works and the history survives deleting the build"

# 3. The test command.
in_root "cd /root/qelvo && scripts/test.sh" >"$WORK/test.log" 2>&1 ||
    fail "test.sh: $(tail -n 30 "$WORK/test.log")"
echo "3. test.sh passed: $(grep -E 'tests passed' "$WORK/test.log" | tr '\n' ' ')"
echo "fresh_debian $release: 1 passed, 0 failed"
