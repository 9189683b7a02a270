#!/usr/bin/env bash
# Makes the cabinets that CabinetExtractWinTest expands, with Debian's gcab
# (a Linux program: it cannot run from inside the Wine test process).
# Usage: make-test-cabinets.sh GCAB OUTPUT_FOLDER
#
#   payload/            the files that go in, compared byte for byte afterwards
#   payload-mszip.cab   payload/ compressed with MSZIP
#   payload-stored.cab  payload/ uncompressed
#   big-mszip.cab       64 MiB of zeros ("big.bin") then "after.txt": long
#                       enough to cancel while "big.bin" is being written
#   single-stored.cab   one file "plain.txt"; the tests rewrite its record
#                       (name, attributes, date) into crafted cabinets
#   set-first.cab,      one file each ("first.txt", "second.txt"); the tests
#   set-second.cab      chain them into a cabinet set
#   files.txt           the members of the payload cabinets, one a line
set -euo pipefail
gcab=$1
out=$2
work=$out.tmp
rm -rf "$work"
mkdir -p "$work/payload/docs/guide" "$work/payload/bin" "$work/payload/text" "$work/big" \
  "$work/single" "$work/set"

p=$work/payload
printf 'Quarry cabinet test\r\n' > "$p/readme.txt"
printf 'Chapter one, two folders down.\r\n' > "$p/docs/guide/chapter.txt"
head -c 100003 /dev/urandom > "$p/bin/random.bin"
seq 1 60000 | sed 's/$/ lines of compressible text/' > "$p/text/numbers.txt"
: > "$p/empty.txt"
printf 'UTF-8 name\n' > "$p/$(printf 'Gr\xc3\xbc\xc3\x9fe-\xe5\x90\x8d\xe5\x89\x8d.txt')"

# Members in a fixed order, named by their path below payload/.
(cd "$p" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/files.txt"
mapfile -t members < "$work/files.txt"
(cd "$p" && "$gcab" -c -z "$work/payload-mszip.cab" "${members[@]}")
(cd "$p" && "$gcab" -c "$work/payload-stored.cab" "${members[@]}")

truncate -s 64M "$work/big/big.bin"
printf 'after the big one\r\n' > "$work/big/after.txt"
(cd "$work/big" && "$gcab" -c -z "$work/big-mszip.cab" big.bin after.txt)
rm -rf "$work/big"

printf 'plain\r\n' > "$work/single/plain.txt"
(cd "$work/single" && "$gcab" -c "$work/single-stored.cab" plain.txt)
rm -rf "$work/single"

printf 'first of the set\r\n' > "$work/set/first.txt"
printf 'second of the set\r\n' > "$work/set/second.txt"
(cd "$work/set" && "$gcab" -c "$work/set-first.cab" first.txt &&
  "$gcab" -c "$work/set-second.cab" second.txt)
rm -rf "$work/set"

rm -rf "$out"
mv "$work" "$out"
touch "$out/stamp"
