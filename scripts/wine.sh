#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own Wine prefix (made once, without the
# Mono and Gecko questions, with windows but no display), as ctest's emulator for the Windows build and for the end-to-end
# check. A Qt Test program runs in a console and writes its report to a file, which is printed
# here: under Wine it writes nothing to a redirected standard output.
# Usage: scripts/wine.sh PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/qelvo/wine-null}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    # Windows without a display: Wine's null graphics driver keeps them, as a desktop would, so
    # that the tests can make windows and post to them.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
fi
program=$1
shift
case "$(basename "$program")" in
    tst_*)
        report=$(mktemp --suffix=.txt)
        status=0
        # In a terminal of its own, where Wine gives the test a console, as a start from one has.
        script -qec "$(printf '%q ' wine "$program" "$@" -o "$(winepath -w "$report"),txt")" \
            /dev/null >/dev/null 2>&1 || status=$?
        cat "$report"
        # A test program that ended before its report did not pass, whatever its status.
        grep -q '^Totals:' "$report" || { echo "ended before its report" >&2; status=1; }
        rm -f "$report"
        exit "$status"
        ;;
    *) exec wine "$program" "$@" ;;
esac
