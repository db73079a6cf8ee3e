#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test: the release build
# with warnings as errors (unit, widget and end-to-end tests), the sanitizer build, the fuzz
# targets for a short bounded time, and the format and lint checks.
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

scripts/lint.sh
