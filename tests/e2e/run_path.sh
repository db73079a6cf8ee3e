#!/usr/bin/env bash
# The run command's build with nothing but the run packages: configured with the CMake packages
# that only tests use disabled, and every header and library it uses owned by a run package or
# by a package that one depends on. A run dependency on a test package fails here, before a new
# user meets it. Usage: run_path.sh SOURCE
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

QELVO_BUILD_DIR="$work/build" "$source_dir/scripts/install-program.sh" "$work/opt" \
    --no-warn-unused-cli -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$work/log" 2>&1 || fail "$(cat "$work/log")"
[ -x "$work/opt/qelvo" ] || fail "nothing installed"

mapfile -t run < <("$source_dir/scripts/install-deps.sh" --list run)
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "${run[@]}" | grep -v '^ ' | sort -u >"$work/allowed"
{
    ninja -C "$work/build" -t deps | awk '/^ +\/usr\// { print $1 }'
    ninja -C "$work/build" -t commands app/qelvo | tail -n 1 | tr ' ' '\n' | grep '^/usr/lib/'
} | sort -u | xargs realpath | sort -u >"$work/used"
xargs dpkg -S <"$work/used" 2>"$work/unowned" | sed 's/:.*//' | sort -u >"$work/owners" || true
[ -s "$work/unowned" ] && fail "files of no package: $(cat "$work/unowned")"
outside=$(comm -23 "$work/owners" "$work/allowed")
[ -z "$outside" ] || fail "the run build uses packages the run command does not install: $outside"
echo "run_path: $(wc -l <"$work/used") files from $(wc -l <"$work/owners") run packages"
