#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test: the release build
# with warnings as errors (unit, widget and end-to-end tests), the sanitizer build, the fuzz
# targets for a short bounded time, the Windows program under Wine, and the format and lint
# checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

jobs=$(nproc)
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

# The profile reader under libFuzzer with AddressSanitizer, for a short bounded time.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target fuzz_profile
corpus=$(mktemp -d)
cp fuzz/corpus/* "$corpus"/
build/fuzz/fuzz/fuzz_profile -max_total_time="${FUZZ_SECONDS:-60}" -max_len=4096 \
    -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 | tail -n 4
rm -rf "$corpus"

# The Windows program: its Qt from the cache (built once), its unit tests and its end-to-end
# check under Wine, and the zip for Windows users.
QELVO_WINDOWS_QT=$(scripts/windows-qt.sh)
export QELVO_WINDOWS_QT
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows
scripts/windows-package.sh >/dev/null

scripts/lint.sh
