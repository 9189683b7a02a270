#!/usr/bin/env bash
# Runs CTest in each build tree given (the Windows ones under Wine), and the
# run-tests.cmd of each Windows test bundle given (a .zip, unpacked into a
# scratch folder first), and ends with one line that counts every test:
# "tests: N passed, N failed".
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
passed=0
failed=0
skipped=0

# Which Wine runs here (win32, win64 or none): a tree that cannot run is
# built all the same, and its tests are counted as skipped, loudly.
wine_arch=$("$root/scripts/wine-arch.sh")

# The Wine a Windows program needs: win64 for x86-64, win32 for x86.
pe_arch() {
  local header machine
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 8664 ]; then echo win64; else echo win32; fi
}

# Unpacks a test bundle and runs its run-tests.cmd under Wine's cmd.exe,
# adding its summary line to the counts.
run_bundle() {
  local zip=$1 dir log arch summary
  dir=$(mktemp -d)
  log=$(mktemp)
  unzip -q "$zip" -d "$dir"
  arch=$(pe_arch "$dir/quarry.exe")
  if [ "$arch" != "$wine_arch" ]; then
    echo "run-tests: NOT RUN: the bundle $zip needs ${arch/win/wine}, which cannot run on" \
         "this kernel (scripts/wine-arch.sh says: $wine_arch); counted as one skipped" >&2
    skipped=$((skipped + 1))
  else
    echo "run-tests: the bundle $zip, unpacked in $dir"
    QUARRY_WINE_ARCH=$arch "$root/scripts/with-wine.sh" \
      wine cmd.exe /c "Z:${dir//\//\\}\\run-tests.cmd" </dev/null 2>&1 | tr -d '\r' | tee "$log"
    summary=$(grep -E '^tests: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
    if [ -z "$summary" ]; then
      echo "run-tests: no test summary from the bundle $zip" >&2
      failed=$((failed + 1))
    else
      passed=$((passed + $(sed -E 's/^tests: ([0-9]+) passed.*/\1/' <<<"$summary")))
      failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$summary")))
      if [[ $summary =~ ([0-9]+)\ skipped ]]; then skipped=$((skipped + BASH_REMATCH[1])); fi
    fi
  fi
  rm -rf "$dir" "$log"
}

for tree in "$@"; do
  if [[ $tree == *.zip ]]; then
    run_bundle "$tree"
    continue
  fi
  log=$(mktemp)
  # A tree built with MinGW runs under Wine, with a display and a server.
  tree_arch=""
  if grep -q 'i686-w64-mingw32' "$tree/CMakeCache.txt" 2>/dev/null; then tree_arch=win32
  elif grep -q 'x86_64-w64-mingw32' "$tree/CMakeCache.txt" 2>/dev/null; then tree_arch=win64
  fi
  if [ -n "$tree_arch" ] && [ "$tree_arch" != "$wine_arch" ]; then
    count=$(ctest --test-dir "$tree" -N 2>/dev/null | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
    count=${count:-0}
    echo "run-tests: NOT RUN: the $count tests of $tree need ${tree_arch/win/wine}, which cannot" \
         "run on this kernel (scripts/wine-arch.sh says: $wine_arch); they are counted as skipped" >&2
    skipped=$((skipped + count))
    rm -f "$log"
    continue
  fi
  if [ -n "$tree_arch" ]; then
    QUARRY_WINE_ARCH=$tree_arch "$root/scripts/with-wine.sh" \
      ctest --test-dir "$tree" --output-on-failure -j 2 2>&1 | tee "$log"
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
    # The 32-bit native tree gets a count of its own, so that a run shows
    # that the shipped word size was tested at all.
    if grep -q 'linux-i386.cmake' "$tree/CMakeCache.txt" 2>/dev/null; then
      echo "native-i386: $((all - bad)) passed, $bad failed"
    fi
  fi
  rm -f "$log"
done
if [ "$skipped" -gt 0 ]; then
  echo "tests: $passed passed, $failed failed, $skipped skipped"
else
  echo "tests: $passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
