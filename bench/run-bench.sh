#!/usr/bin/env bash
# Benchmarks, run under scripts/with-wine.sh by `make bench`.
# copy: CopyEntryToFile with unscrambling of a 1 GiB entry under Wine
# against cp of the same bytes, and the peak memory of copying a 1 GiB entry
# against a 1 MiB one.
# extract: ExtractAll of a package whose payload is 1 GiB of random text
# (once as an uncompressed, once as an MSZIP cabinet) against cp of the
# plain cabinet plus cabextract of it, and the peak memory of extracting the
# 1 GiB package against a 1 MiB one.
# Every figure is printed as a "name: value" line at the end, the copy
# benchmark's two headline figures last.
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

rm -rf "$work/big" "$work/big.exe" "$work/small.exe" "$work/small" "$work/payload"

# --- extract ------------------------------------------------------------
bench_extract=$root/build/win/bench/extract_bench.exe
mkdir -p "$work/text" "$work/tiny"
printf '[Package]\r\nProductName=Bench\r\n' > "$work/Settings.ini"
# Random lower-case words: deflate takes them to about 60 %, like typical
# installer payloads, so MSZIP has real work to do.
# (The endless generator runs in a process substitution: under pipefail its
# SIGPIPE at the end would count as a failure.)
random_text() { head -c "$1" < <(base64 -w 76 /dev/urandom | tr 'A-Z0-9+/' 'a-z '); }
for i in 1 2 3 4 5 6 7 8; do random_text 134217728 > "$work/text/part$i.txt"; done
random_text 1048576 > "$work/tiny/part.txt"
"$pack" create --stub "$stub" --settings "$work/Settings.ini" --payload "$work/text" \
  --compression none -o "$work/stored.exe" >/dev/null
"$pack" create --stub "$stub" --settings "$work/Settings.ini" --payload "$work/text" \
  -o "$work/mszip.exe" >/dev/null
"$pack" create --stub "$stub" --settings "$work/Settings.ini" --payload "$work/tiny" \
  -o "$work/tiny.exe" >/dev/null
rm -rf "$work/text" "$work/tiny"

# Wine's output goes through a file: a pipe can be held open by the
# services Wine starts beside the first program.
run_wine() { wine "$@" > "$work/wine.out"; tr -d '\r' < "$work/wine.out"; }
value() { sed -n "s/^$1: //p"; }
smaller() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

for kind in stored mszip; do
  # The plain cabinet as the package holds it (its largest entry, unscrambled).
  run_wine "$bench" "Z:$work/$kind.exe" "Z:$work/$kind.cab" 1 >/dev/null
  best_base=""
  best_ours=""
  peak=0
  # Best of three, alternating, each into an empty folder with the previous
  # output removed and written back first.
  for _ in 1 2 3; do
    rm -rf "$work/base" && mkdir "$work/base" && sync
    t0=$(now)
    cp "$work/$kind.cab" "$work/base/payload.cab"
    cabextract -q -d "$work/base/out" "$work/base/payload.cab"
    t1=$(now)
    best_base=$(smaller "$best_base" "$(echo "$t1 - $t0" | bc -l)")
    rm -rf "$work/base" "$work/ours" && sync
    out=$(run_wine "$bench_extract" "Z:$work/$kind.exe" "Z:$work/ours")
    [ "$(value bytes <<<"$out")" = 1073741824 ] || { echo "extract_bench: $out" >&2; exit 1; }
    best_ours=$(smaller "$best_ours" "$(value seconds <<<"$out")")
    p=$(value peak_working_set_bytes <<<"$out")
    [ "$p" -gt "$peak" ] && peak=$p
    rm -rf "$work/ours"
  done
  rm -f "$work/$kind.cab" && sync
  eval "base_$kind=\$best_base ours_$kind=\$best_ours peak_$kind=\$peak"
done
out=$(run_wine "$bench_extract" "Z:$work/tiny.exe" "Z:$work/ours")
peak_tiny=$(value peak_working_set_bytes <<<"$out")
peak_big=$peak_stored
[ "$peak_mszip" -gt "$peak_big" ] && peak_big=$peak_mszip
rm -rf "$work/ours"

mib() { echo "scale=2; $1 / 1048576" | bc -l; }
echo "cp_seconds_1gib: $best_cp"
echo "dd_seconds_1gib: $best_dd"
echo "copy_seconds_1gib: $copy_seconds"
echo "copy_ratio_vs_dd: $(echo "scale=3; $copy_seconds / $best_dd" | bc -l)"
echo "copy_peak_working_set_1gib_mib: $(echo "scale=2; $big_peak / 1048576" | bc -l)"
echo "copy_peak_working_set_1mib_mib: $(echo "scale=2; $small_peak / 1048576" | bc -l)"
echo "cp_cabextract_seconds_stored: $base_stored"
echo "extract_seconds_stored: $ours_stored"
echo "cp_cabextract_seconds_mszip: $base_mszip"
echo "extract_seconds_mszip: $ours_mszip"
echo "extract_peak_working_set_1gib_mib: $(mib "$peak_big")"
echo "extract_peak_working_set_1mib_mib: $(mib "$peak_tiny")"
echo "extract_ratio_vs_cabextract_stored: $(echo "scale=3; $ours_stored / $base_stored" | bc -l)"
echo "extract_ratio_vs_cabextract_mszip: $(echo "scale=3; $ours_mszip / $base_mszip" | bc -l)"
echo "extract_peak_growth_mib: $(mib "($peak_big - $peak_tiny)")"
echo "copy_ratio_vs_cp: $(echo "scale=3; $copy_seconds / $best_cp" | bc -l)"
echo "copy_peak_growth_mib: $(echo "scale=2; ($big_peak - $small_peak) / 1048576" | bc -l)"
