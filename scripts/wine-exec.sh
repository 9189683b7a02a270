#!/bin/sh
# Runs a Windows program under Wine in the project's private prefix. Used as
# CTest's cross-compiling emulator; scripts/with-wine.sh sets up the server
# and the display around a whole test run.
root=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$root/build/wineprefix}"
: "${WINEDEBUG:=-all}"
export WINEPREFIX WINEDEBUG
exec wine "$@"
