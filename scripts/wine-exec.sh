#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix. Used as
# CTest's cross-compiling emulator; scripts/with-wine.sh sets up the server
# and the display around a whole test run.
#
# A run is tried a second time only when Wine itself could not start the
# program, never after the program started: a test program that crashes,
# even before it prints anything, fails its test. The two are told apart by
# Wine's "loaddll" trace: the first module a Wine process loads is its main
# program, and it is logged as 'Loaded L"...\NAME.exe" at ...' before any of
# the program's code runs. A run that failed without that line for the
# program never got as far as the program (the loader or the server failed
# to start, or the Unix side died on the way). The trace lines are taken out
# of what the run prints; child processes of the program inherit the trace
# and are filtered alike.
root=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$root/build/wineprefix}"
export WINEPREFIX
# The trace is added to whatever channels the caller asked for.
export WINEDEBUG="${WINEDEBUG:--all},+loaddll"
err=$(mktemp)
trap 'rm -f "$err"' EXIT

program=${1##*/}
program=${program##*\\}
program=${program%.exe}
program=${program%.EXE}

# Runs the program once; stdout goes through as it comes, stderr once the
# run has ended, without the trace. Sets rc and started.
run_once() {
  : >"$err"
  wine "$@" 2>"$err"
  rc=$?
  grep -v ':trace:loaddll:' "$err" >&2
  started=""
  if grep -iqF "\\$program.exe\" at " "$err"; then started=1; fi
}

run_once "$@"
if [ "$rc" -ne 0 ] && [ -z "$started" ]; then
  echo "wine-exec: Wine ended with $rc before it loaded $program.exe; starting it once more" >&2
  run_once "$@"
fi
exit "$rc"
