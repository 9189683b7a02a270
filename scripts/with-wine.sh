#!/usr/bin/env bash
# Runs a command with Quarry's private Wine prefix (created on first use), a
# persistent wineserver and an Xvfb display, and stops both afterwards.
# Usage: scripts/with-wine.sh COMMAND [ARGS...]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
# QUARRY_WINE_ARCH=win64 runs the 64-bit test build under wine64, in a prefix
# of its own, for kernels that cannot run 32-bit programs (scripts/wine-arch.sh).
if [ "${QUARRY_WINE_ARCH:-win32}" = win64 ]; then
  export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix64}
  export WINEARCH=win64
  # Debian's wine wrapper prefers the 32-bit loader whenever wine32 is
  # installed; these stand-ins make every "wine" and "wineserver" below, in
  # the tests and scripts alike, the 64-bit ones.
  shims=$root/build/wine64-bin
  mkdir -p "$shims"
  printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$shims/wine"
  printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' > "$shims/wineserver"
  chmod +x "$shims/wine" "$shims/wineserver"
  export PATH=$shims:$PATH
  export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
else
  export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
  export WINEARCH=win32
fi
export WINEDEBUG=${WINEDEBUG:--all}
mkdir -p "$(dirname "$WINEPREFIX")"

xvfb_pid=""
if [ -z "${QUARRY_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
  display=""
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
  done
  if [ -z "$display" ]; then echo "with-wine: no free X display" >&2; exit 1; fi
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
  export DISPLAY=":$display"
fi

cleanup() {
  wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 && wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "with-wine: creating the Wine prefix $WINEPREFIX" >&2
  # No Mono or Gecko: nothing here needs them, and their installers would ask.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# A server left from an earlier run may serve another display: end it.
wineserver -k >/dev/null 2>&1
wineserver -w
wineserver -p
# The first Wine program of a session starts Wine's background services and
# the desktop process. Started here, they hold /dev/null rather than a test's
# output pipe (which they would keep open until the wineserver ends), and
# the desktop is up before two tests race to create their first windows.
wine rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 </dev/null
"$@"
rc=$?
exit $rc
