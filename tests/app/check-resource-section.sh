#!/usr/bin/env bash
# The program's resource section must be the last section of its image, in
# the section table and in the file: quarrypack replaces it to set the
# version block and icon of a packed program, which it can do only when
# nothing lies behind it (cmake/ResourceSectionLast.cmake links it so).
# Usage: check-resource-section.sh quarry.exe [objdump]
set -u
exe=$1
objdump=${2:-i686-w64-mingw32-objdump}
dump=$("$objdump" -h "$exe") || { echo "cannot read $exe"; exit 1; }
# Lines "Idx Name Size VMA LMA File-off Algn" of sections with contents.
table=$(awk '$1 ~ /^[0-9]+$/ && NF >= 7 {print $2, $4, $6}' <<<"$dump")
last=$(tail -n 1 <<<"$table")
read -r name vma offset <<<"$last"
if [ "$name" != .rsrc ]; then
  echo "the last section of $exe is $name, not .rsrc:"
  echo "$table"
  exit 1
fi
while read -r other othervma otheroffset; do
  [ "$other" = .rsrc ] && continue
  if (( 16#$othervma >= 16#$vma || 16#$otheroffset > 16#$offset )); then
    echo "$other lies behind .rsrc in $exe:"
    echo "$table"
    exit 1
  fi
done <<<"$table"
echo "resources last: .rsrc at $vma, file offset $offset"
