#!/usr/bin/env bash
# Packs the Windows tests of a built MinGW test tree into a zip that runs on
# any Windows with no other tool: the test programs and their helpers, the
# program under test, the packages and cabinets the tests read (made here by
# the scripts CTest runs), and run-tests.cmd at the top.
# Usage: make-windows-tests.sh TEST_TREE QUARRY_EXE QUARRYPACK OUTPUT.zip
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "$1" && pwd)
exe=$2
pack=$3
output=$4

# The tests find these below the bundle's folder where the build tree had
# them (tests/common/WinTestSupport.cpp, WindowsPathOf).
bash "$root/tests/workflow/make-packages.sh" "$pack" "$exe" "$tree/testdata/workflow" >/dev/null
bash "$root/tests/app/make-ui-packages.sh" "$pack" "$exe" "$tree/testdata/ui" \
  "$tree/tests/quarry_testprog.exe"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/tests"
cp "$exe" "$stage/quarry.exe"
for file in quarry_wintests.exe quarry_exetests.exe quarry_runmodetests.exe quarry_testprog.exe \
            quarry_guardprobe.exe quarry_marker.dll; do
  cp "$tree/tests/$file" "$stage/tests/"
done
cp -r "$tree/tests/cabinets" "$stage/tests/"
cp -r "$tree/testdata" "$stage/"
# The symbolic links made for Wine; the tests make their own on Windows.
rm -rf "$stage/testdata/workflow/links"
# cmd.exe wants CRLF line ends.
sed 's/\r*$/\r/' "$root/tests/bundle/run-tests.cmd" > "$stage/run-tests.cmd"
mkdir -p "$(dirname "$output")"
rm -f "$output"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
(cd "$stage" && zip -q -r -X "$output" .)
echo "windows tests: $output ($(du -k "$output" | cut -f1) KiB)"
