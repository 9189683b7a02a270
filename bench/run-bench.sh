#!/usr/bin/env bash
# Benchmarks, run under scripts/with-wine.sh by `make bench`.
# copy: CopyEntryToFile with unscrambling of a 1 GiB entry under Wine
# against cp of the same bytes, and the peak memory of copying a 1 GiB entry
# against a 1 MiB one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/bench
bench=$root/build/win/bench/copy_bench.exe
pack=$root/dist/quarrypack
stub=$root/dist/quarry.exe
rm -rf "$work"
mkdir -p "$work/big" "$work/small" "$work/payload"
trap 'rm -rf "$work"' EXIT

printf '[Package]\r\nProductName=Bench\r\n' > "$work/Settings.ini"
echo "bench payload" > "$work/payload/readme.txt"
head -c 1073741824 /dev/urandom > "$work/big/big.bin"
head -c 1048576 /dev/urandom > "$work/small/small.bin"
"$pack" create --stub "$stub" --settings "$work/Settings.ini" --payload "$work/payload" \
  --flat "$work/big" -o "$work/big.exe" >/dev/null
"$pack" create --stub "$stub" --settings "$work/Settings.ini" --payload "$work/payload" \
  --flat "$work/small" -o "$work/small.exe" >/dev/null

now() { date +%s.%N; }
best_cp=""
# Best of five, each into a new file with the previous one written back first.
for _ in 1 2 3 4 5; do
  rm -f "$work/cp.bin"
  sync
  t0=$(now); cp "$work/big/big.bin" "$work/cp.bin"; t1=$(now)
  t=$(echo "$t1 - $t0" | bc -l)
  if [ -z "$best_cp" ] || [ "$(echo "$t < $best_cp" | bc -l)" = 1 ]; then best_cp=$t; fi
done
rm -f "$work/cp.bin"
# cp copies inside the kernel (copy_file_range); dd shows what a plain
# read and write of the same bytes through a 5 MiB buffer costs here.
best_dd=""
for _ in 1 2 3 4 5; do
  rm -f "$work/dd.bin"
  sync
  t0=$(now); dd if="$work/big/big.bin" of="$work/dd.bin" bs=5M status=none; t1=$(now)
  t=$(echo "$t1 - $t0" | bc -l)
  if [ -z "$best_dd" ] || [ "$(echo "$t < $best_dd" | bc -l)" = 1 ]; then best_dd=$t; fi
done
rm -f "$work/dd.bin"
sync

big=$(wine "$bench" "Z:$work/big.exe" "Z:$work/out.bin" 5 | tr -d '\r')
rm -f "$work/out.bin"
small=$(wine "$bench" "Z:$work/small.exe" "Z:$work/out.bin" 3 | tr -d '\r')

copy_seconds=$(sed -n 's/^seconds: //p' <<<"$big")
big_peak=$(sed -n 's/^peak_working_set_bytes: //p' <<<"$big")
small_peak=$(sed -n 's/^peak_working_set_bytes: //p' <<<"$small")

echo "cp_seconds_1gib: $best_cp"
echo "dd_seconds_1gib: $best_dd"
echo "copy_seconds_1gib: $copy_seconds"
echo "copy_ratio_vs_dd: $(echo "scale=3; $copy_seconds / $best_dd" | bc -l)"
echo "copy_peak_working_set_1gib_mib: $(echo "scale=2; $big_peak / 1048576" | bc -l)"
echo "copy_peak_working_set_1mib_mib: $(echo "scale=2; $small_peak / 1048576" | bc -l)"
echo "copy_ratio_vs_cp: $(echo "scale=3; $copy_seconds / $best_cp" | bc -l)"
echo "copy_peak_growth_mib: $(echo "scale=2; ($big_peak - $small_peak) / 1048576" | bc -l)"
