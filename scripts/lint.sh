#!/usr/bin/env bash
# Format and lint checks over the project's own C++ sources; needs the ci build's compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
mapfile -t units < <(git ls-files '*.cpp' | grep -v '^fuzz/')
status=0
printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p build/ci --quiet 2>&1 |
    { grep -v -E '^[0-9]+ warnings? generated\.$' || true; } || status=$?
if [ "$status" -ne 0 ]; then
    echo "clang-tidy found problems" >&2
    exit 1
fi
echo "format and lint: clean"
