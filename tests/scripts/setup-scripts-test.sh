#!/usr/bin/env bash
# The set-up and test scripts against stand-ins for the programs they drive:
#  - install-deps.sh with an apt-get whose "update" always fails, and with
#    one whose install of a package fails;
#  - wine-exec.sh with a wine that fails before or after loading the program.
# Prints one line per case and "N passed, N failed" last; exits 1 on a failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() {  # NAME CONDITION-EXIT-CODE
  if [ "$2" -eq 0 ]; then echo "ok: $1"; passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}

# A package database of stand-ins: dpkg-query reports what apt-get installed.
bin=$work/bin
mkdir -p "$bin"
cat >"$bin/dpkg-query" <<'STUB'
#!/bin/sh
# dpkg-query -W -f=... NAME
for last; do :; done
grep -qxF "$last" "$STATE/installed" 2>/dev/null && printf 'install ok installed' && exit 0
exit 1
STUB
cat >"$bin/dpkg" <<'STUB'
#!/bin/sh
case $1 in
  --print-foreign-architectures) cat "$STATE/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$STATE/arches" ;;
esac
STUB
cat >"$bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$STATE/log"
case " $* " in
  *" update "*) echo "E: Failed to fetch (stand-in)" >&2; exit 100 ;;
esac
shift 4  # install -y -q --no-install-recommends
for p; do
  if [ "$p" = "$BROKEN" ]; then echo "E: $p has unmet dependencies" >&2; exit 100; fi
done
for p; do echo "$p" >>"$STATE/installed"; done
STUB
chmod +x "$bin"/*

run_deps() {  # BROKEN-PACKAGE
  export STATE=$work/state BROKEN=$1
  rm -rf "$STATE" && mkdir -p "$STATE"
  PATH=$bin:$PATH QUARRY_APT_UPDATE_TRIES=3 QUARRY_APT_RETRY_SECONDS=0 \
    bash "$root/scripts/install-deps.sh" >"$work/deps.out" 2>&1
}

run_deps ""
rc=$?
check "install-deps goes on when every update fails" "$rc"
[ "$(grep -c '^apt-get .*update' "$STATE/log")" -ge 3 ]
check "install-deps tries the update three times" $?
grep -qx cabextract "$STATE/installed" && grep -qx g++-multilib "$STATE/installed" &&
  grep -qx qemu-user "$STATE/installed"
check "install-deps installs the packages all the same" $?
# Everything there: a second run asks apt nothing.
: >"$STATE/log"
PATH=$bin:$PATH bash "$root/scripts/install-deps.sh" >/dev/null 2>&1
[ $? -eq 0 ] && ! grep -q 'apt-get' "$STATE/log"
check "install-deps leaves a complete machine alone" $?

run_deps cabextract
rc=$?
[ "$rc" -ne 0 ] && grep -q 'could not install: cabextract$' "$work/deps.out" &&
  grep -qx gcab "$STATE/installed"
check "install-deps installs the rest and names the package it could not install" $?

# wine-exec: a stand-in wine that logs its calls and behaves as WINE_MODE says.
cat >"$bin/wine" <<'STUB'
#!/bin/sh
echo call >>"$STATE/wine-calls"
case $WINE_MODE in
  crash) echo '0024:trace:loaddll:build_module Loaded L"Z:\\t\\prog.exe" at 0000000140000000: native' >&2
         echo 'wine: Unhandled page fault' >&2; exit 5 ;;
  nostart) echo 'wine: could not start the server' >&2; exit 1 ;;
  pass) echo '0024:trace:loaddll:build_module Loaded L"Z:\\t\\prog.exe" at 0000000140000000: native' >&2
        echo 'hello'; exit 0 ;;
esac
STUB
chmod +x "$bin/wine"
for mode in crash:5:1 nostart:1:2 pass:0:1; do
  IFS=: read -r name code calls <<<"$mode"
  export STATE=$work/state WINE_MODE=$name
  rm -f "$STATE/wine-calls"
  PATH=$bin:$PATH bash "$root/scripts/wine-exec.sh" /t/prog.exe >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" -eq "$code" ] && [ "$(wc -l <"$STATE/wine-calls")" -eq "$calls" ] &&
    ! grep -q 'trace:loaddll' "$work/err"
  check "wine-exec $name: exit $code after $calls run(s), trace taken out" $?
done

echo "setup-scripts: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
