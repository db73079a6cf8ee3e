#!/usr/bin/env bash
# Saves on the file systems that the README names beside a local disk, each tried itself: sshfs
# over an SSH server on the loopback address, and bindfs. Two programs on two mounts of one
# folder, each saving in turn, ended by one signal, keep every line once.
# Usage: e2e_mounts.sh QELVO
source "$(dirname "$0")/lib.sh"
binary=$1
[ "$(id -u)" = 0 ] || { echo "e2e_mounts: needs root to mount"; exit 77; }

# sshd of the test's own, its keys in the test's folder.
mkdir -p /run/sshd "$WORK/ssh"
ssh-keygen -q -t ed25519 -N '' -f "$WORK/ssh/host"
ssh-keygen -q -t ed25519 -N '' -f "$WORK/ssh/user"
cp "$WORK/ssh/user.pub" "$WORK/ssh/authorized_keys"
port=$((20000 + RANDOM % 20000))
/usr/sbin/sshd -D -p "$port" -o ListenAddress=127.0.0.1 -h "$WORK/ssh/host" -o StrictModes=no \
    -o AuthorizedKeysFile="$WORK/ssh/authorized_keys" -o PidFile="$WORK/ssh/pid" &
E2E_PIDS+=($!)
# mount_sshfs FOLDER MOUNT: FOLDER through sshfs, with its default options.
mount_sshfs() {
    mkdir -p "$2"
    for _ in $(seq 50); do
        sshfs -o "port=$port,IdentityFile=$WORK/ssh/user,StrictHostKeyChecking=no" \
            -o UserKnownHostsFile=/dev/null "root@127.0.0.1:$1" "$2" 2>/dev/null && break
        sleep 0.1
    done
    mountpoint -q "$2" || fail "sshfs: $2 not mounted"
    E2E_MOUNTS+=("$2")
}
mount_bindfs() {
    mkdir -p "$2"
    bindfs "$1" "$2" || fail "bindfs: $2 not mounted"
    E2E_MOUNTS+=("$2")
}
# started FOLDER: the program in FOLDER, past its one word that no lock reaches the other
# mounts; sets PID and WIN.
started() {
    start_app "$1/qelvo"
    local box
    box=$(box_of "$PID") || fail "$1: no word about the lock: $(cat "$WORK/err")"
    xdotool windowactivate --sync "$box" key Return
    WIN=$(window_of "$PID") || fail "$1: no window"
}
# two_mounts WHAT MOUNT-A MOUNT-B FOLDER: FOLDER is the one behind both mounts, where the files are
# looked at, as sshfs shows a folder's listing as it was for a while.
two_mounts() {
    local a b
    install_program "$binary" "$2"
    ERR=$WORK/err-a started "$2"
    a=$PID
    draw "$WIN" 2
    ERR=$WORK/err-b started "$3"
    b=$PID
    draw "$WIN" 3
    local kept
    kept=$(journalled "$4")
    [ "$(wc -l <<<"$kept")" = 5 ] || fail "$1, two mounts: the journals hold '$kept'"
    kill -TERM "$a" "$b"
    wait_gone "$a" && wait_gone "$b" || fail "$1, two mounts: SIGTERM did not end both"
    grep -q $'^Data=5\r$' "$4/qelvo.ini" ||
        fail "$1, two mounts: $(head -2 "$4/qelvo.ini"); $(cat "$WORK/err-a" "$WORK/err-b")"
    saved_once "$1, two mounts" "$4" "$kept"
}

start_x
mkdir -p "$WORK/ssh-data" "$WORK/bind-data"
mount_sshfs "$WORK/ssh-data" "$WORK/sshfs-a"
mount_sshfs "$WORK/ssh-data" "$WORK/sshfs-b"
mount_bindfs "$WORK/bind-data" "$WORK/bindfs-a"
mount_bindfs "$WORK/bind-data" "$WORK/bindfs-b"
two_mounts sshfs "$WORK/sshfs-a" "$WORK/sshfs-b" "$WORK/ssh-data"
two_mounts bindfs "$WORK/bindfs-a" "$WORK/bindfs-b" "$WORK/bind-data"
echo "e2e_mounts: 1 passed, 0 failed"
