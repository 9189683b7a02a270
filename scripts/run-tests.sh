#!/usr/bin/env bash
# Runs CTest in each build tree given (the Windows ones under Wine) and ends
# with one line that counts every test: "tests: N passed, N failed".
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
passed=0
failed=0
for tree in "$@"; do
  log=$(mktemp)
  # A tree built with MinGW runs under Wine, with a display and a server.
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
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
