#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix. Used as
# CTest's cross-compiling emulator; scripts/with-wine.sh sets up the server
# and the display around a whole test run.
#
# A fault in the Windows program never kills the wine process by a signal:
# Wine turns it into an exception, and an unhandled one ends the program
# with its code (0xC0000005 and the like). A wine process killed by SIGSEGV
# or SIGBUS therefore crashed in Wine's own Unix side, which now and then
# happens while a process starts or ends. Likewise a test program (they all
# print a first line at once) that failed having printed nothing never ran.
# Such a run says nothing about the program, so it is run once more; a
# second failure is reported as it is.
root=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$root/build/wineprefix}"
: "${WINEDEBUG:=-all}"
export WINEPREFIX WINEDEBUG
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" | tee "$out"
rc=${PIPESTATUS[0]}
case $rc in
  0) ;;
  135|139)
    echo "wine-exec: wine itself died by signal $((rc - 128)); running the program once more" >&2
    exec wine "$@"
    ;;
  *)
    if [ ! -s "$out" ]; then
      echo "wine-exec: wine ended with $rc before the program printed anything; running it once more" >&2
      exec wine "$@"
    fi
    ;;
esac
exit $rc
