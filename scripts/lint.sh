#!/usr/bin/env bash
# Format and lint checks over the project's own C++ sources; needs the ci build's compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
mapfile -t units < <(git ls-files '*.cpp' | grep -v '^fuzz/')
printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p build/ci --quiet
echo "format and lint: clean"
