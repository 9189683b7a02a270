#!/bin/sh
# Runs a Windows program under Wine in the project's private prefix. Used as
# CTest's cross-compiling emulator; scripts/with-wine.sh sets up the server
# and the display around a whole test run.
#
# A fault in the Windows program never kills the wine process by a signal:
# Wine turns it into an exception, and an unhandled one ends the program
# with its code (0xC0000005 and the like). A wine process killed by SIGSEGV
# or SIGBUS therefore crashed in Wine's own Unix side, which now and then
# happens while a process starts or ends. Such a run says nothing about the
# program, so it is run once more; a second crash is reported as it is.
root=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$root/build/wineprefix}"
: "${WINEDEBUG:=-all}"
export WINEPREFIX WINEDEBUG
wine "$@"
rc=$?
case $rc in
  135|139)
    echo "wine-exec: wine itself died by signal $((rc - 128)); running the program once more" >&2
    exec wine "$@"
    ;;
esac
exit $rc
