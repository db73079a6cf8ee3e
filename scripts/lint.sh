#!/usr/bin/env bash
# Format and lint checks over the project's own C++ sources; needs the ci build's compile commands.
# The sources are kept clean with the formatter and linter of Debian 12 (LLVM 14). A newer one
# formats some lines otherwise and brings checks of its own: its findings are shown, not failed.
set -euo pipefail
cd "$(dirname "$0")/.."
reference=14
version=$(clang-format --version | grep -oE 'version [0-9]+' | grep -oE '[0-9]+$')
strict=true
[ "$version" = "$reference" ] || strict=false

# The two READMEs say the same where a user acts on them, and the Japanese one quotes the program.
perl scripts/readmes.pl README.md README.ja.md app/texts.cpp app/texts.h ||
    { echo "README.md and README.ja.md differ where a user acts on them" >&2; exit 1; }

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
# The Windows sources are built by the windows preset only: clang-tidy has no compile commands
# for them, and the cross build's warnings are errors.
mapfile -t units < <(git ls-files '*.cpp' | grep -v -e '^fuzz/' -e '^win/' -e '^tests/win/' \
    -e '_win\.cpp$' -e '^print/windowsprinter\.cpp$')
format_status=0
clang-format --dry-run --Werror "${sources[@]}" 2>"${TMPDIR:-/tmp}/qelvo-format.$$" || format_status=$?
lint=$(printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p build/ci --quiet 2>&1 |
    grep -v -E '^[0-9]+ warnings? generated\.$' || true)
format=$(cat "${TMPDIR:-/tmp}/qelvo-format.$$")
rm -f "${TMPDIR:-/tmp}/qelvo-format.$$"

if $strict; then
    [ -z "$format" ] || { echo "$format" >&2; echo "clang-format found problems" >&2; exit 1; }
    [ -z "$lint" ] || { echo "$lint" >&2; echo "clang-tidy found problems" >&2; exit 1; }
    echo "format and lint: clean"
    exit 0
fi
echo "format and lint with LLVM $version, not the reference $reference: findings are not failures"
echo "  clang-format: $(grep -c 'error:' <<<"$format" || true) lines formatted otherwise" \
    "(status $format_status)"
echo "  clang-tidy: $(grep -c -E '(warning|error):' <<<"$lint" || true) findings"
grep -oE '\[[a-z][a-z0-9.-]+' <<<"$lint" | sort | uniq -c | sed 's/^/    /' || true
