#!/usr/bin/env bash
# Runs CTest in each build tree given (the Windows ones under Wine) and ends
# with one line that counts every test: "tests: N passed, N failed".
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
passed=0
failed=0
skipped=0

# wine32 needs a kernel that runs 32-bit programs. Some kernels are built
# with that switched off ("32-bit emulation disabled" in the kernel log), and
# then no Wine process can start at all: the Windows trees are built, but
# their tests are counted as skipped, loudly, rather than hanging or failing.
# A 32-bit program that runs only through a registered qemu-i386 counts as
# not running: under that emulation the prefix takes a quarter of an hour to
# make and each Wine test minutes, far beyond any CI run.
wine_can_run() {
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] &&
     grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    return 1
  fi
  /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
}

for tree in "$@"; do
  log=$(mktemp)
  # A tree built with MinGW runs under Wine, with a display and a server.
  if grep -q 'i686-w64-mingw32' "$tree/CMakeCache.txt" 2>/dev/null && ! wine_can_run; then
    count=$(ctest --test-dir "$tree" -N 2>/dev/null | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
    count=${count:-0}
    echo "run-tests: NOT RUN: the $count tests of $tree need Wine, and this kernel cannot run" \
         "32-bit programs (wine32); they are counted as skipped" >&2
    skipped=$((skipped + count))
    rm -f "$log"
    continue
  fi
  if grep -q 'i686-w64-mingw32' "$tree/CMakeCache.txt" 2>/dev/null; then
    "$root/scripts/with-wine.sh" ctest --test-dir "$tree" --output-on-failure -j 2 2>&1 | tee "$log"
  else
    ctest --test-dir "$tree" --output-on-failure -j 2 2>&1 | tee "$log"
  fi
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$summary" ]; then
    echo "run-tests: no test summary from $tree" >&2
    failed=$((failed + 1))
  else
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
    all=$(sed -E 's/.* tests failed out of ([0-9]+).*/\1/' <<<"$summary")
    failed=$((failed + bad))
    passed=$((passed + all - bad))
  fi
  rm -f "$log"
done
if [ "$skipped" -gt 0 ]; then
  echo "tests: $passed passed, $failed failed, $skipped skipped"
else
  echo "tests: $passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
